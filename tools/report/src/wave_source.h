#pragma once

// RIFF/WAVE, RF64 and W64, read by our own parser straight off the
// descriptor: a hostile stream costs one line, never a hang in a library.

#include <cstddef>
#include <memory>

#include "byte_input.h"
#include "kova/report/source.h"

namespace kova::report {

// Whether the first bytes open a RIFF, RF64 or W64 file (up to 16 looked at).
bool looks_like_wave(const unsigned char* bytes, std::size_t count);

// Reads the header; the source then yields the data chunk's frames.
Opened open_wave(std::unique_ptr<Byte_Input> input);

}  // namespace kova::report
