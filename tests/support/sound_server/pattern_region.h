#pragma once

// Where the pattern lies in a capture, and whether it is whole there.

#include <cstddef>
#include <vector>

// The words 0x600, 0xA00, 0xE00 as floats: over 2^23, 3, 5 and 7 over 2^14.
constexpr float kPatternSamples[3] = {3.0f / 16384.0f, 5.0f / 16384.0f, 7.0f / 16384.0f};

// One channel's region: from its first non-zero sample to its last (the
// pattern starts on 0x600 and a whole run ends on 0xE00, neither zero).
struct Region {
    std::size_t length = 0;
    long long first_wrong = -1;  // where it departs from 0x600, 0xA00, 0xE00, 0x600...; -1 nowhere
};

// samples: interleaved frames of `channels` samples, at 48 kHz or below.
Region pattern_region(const std::vector<float>& samples, int channels, int channel);
