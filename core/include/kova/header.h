#pragma once

// Building the header fields of Wav_Data and serialising them into the
// 44 bytes that open every file.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "kova/sizes.h"
#include "kova/wav_data.h"

namespace kova {

// Receives the diagnostic lines of the header builder. Only the Windows
// program passes one; everybody else builds silently.
using Line_Sink = std::function<void(const char* line)>;

// Fills every header field from the fixed format and the sample count; the
// sample rate is read from Format.dwSamplesPerSec. Always returns kOk.
int build_header(Wav_Data& wav, std::int32_t sample_count, const Line_Sink& log = {});

// Writes the 44 header bytes, little-endian whatever the host, into out.
void serialise_header(const Wav_Data& wav, unsigned char* out);

// Sample rate * duration, as the 32-bit product the header holds.
std::int32_t sample_count(const Wav_Data& wav);

}  // namespace kova
