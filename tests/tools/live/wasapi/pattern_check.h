#pragma once

// Whether a capture holds the 48 kHz pattern exactly: from its first
// sample that is not silence, the three words in turn on every channel.

#include <cstddef>
#include <string>
#include <vector>

namespace kova::test {

// 0x000600, 0x000A00 and 0x000E00 over 2^23 are 3, 5 and 7 over 2^14; at
// 48 kHz each word lasts one sample.
inline const float kWords48k[3] = {3.0f / 16384.0f, 5.0f / 16384.0f, 7.0f / 16384.0f};

struct Pattern_Run {
    std::size_t first_frame = 0;   // where the first sample that is not silence is
    std::size_t exact_frames = 0;  // frames from there, every channel its word times the gain
    bool silent_after = false;     // and only digital silence after them
    std::string mismatch;          // where the words stopped, and what came instead
};

Pattern_Run find_pattern(const std::vector<float>& samples, int channels, float gain = 1.0f);

}  // namespace kova::test
