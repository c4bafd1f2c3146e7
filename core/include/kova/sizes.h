#pragma once

// How big a file is for a setting. Every front-end asks here; none works a
// size out for itself.

#include <cstddef>
#include <cstdint>

namespace kova {

// PCM, mono, 24 bits: one sample is three bytes, and so is one frame.
constexpr int kBytesPerSample = 3;

// What the RIFF size counts besides the data: "WAVE" (4), the fmt chunk with
// its id and size (8 + 16) and the data chunk's id and size (8).
constexpr std::int32_t kRiffOverhead = 36;

// The header ahead of the data: "RIFF" and the RIFF size (8), then the rest.
constexpr std::size_t kHeaderBytes = 8 + kRiffOverhead;

// Sample count * bytes per sample, as the 32-bit field of the header holds it.
std::uint32_t data_size(std::int32_t sample_count);

// Header plus data for rate and seconds; 64-bit, so that it cannot wrap.
std::uint64_t file_size(long rate, int seconds);

// The longest duration at rate whose RIFF size still fits a signed 32-bit
// field, which is what players read it as.
int max_duration(long rate);

}  // namespace kova
