#pragma once

// The formats the layer asks for, and the engine's own described.

#include <windows.h>
#include <mmreg.h>

#include <string>

#include "kova/live/sample_encoding.h"

namespace kova::live::wasapi::detail {

// WAVE_FORMAT_EXTENSIBLE with every bit valid; channel_mask 0 gives the
// usual speakers for that many channels.
WAVEFORMATEXTENSIBLE make_format(Sample_Encoding encoding, long rate, int channels, DWORD channel_mask);

// The speaker mask of a format, 0 where it has none.
DWORD channel_mask(const WAVEFORMATEX& format);

// "32-bit float", "16-bit int", "24-bit int in 32": as kova-check names
// the formats of files.
std::string describe_format(const WAVEFORMATEX& format);

}  // namespace kova::live::wasapi::detail
