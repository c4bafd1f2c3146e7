#include "kova/live/samples.h"

#include <cmath>

namespace kova::live {

namespace {
// 2^23 and its inverse: scaling by a power of two is exact in binary floating
// point, and a 24-bit word fits a float's 24-bit significand.
constexpr float kWordScale = 8388608.0f;
constexpr float kSampleScale = 1.0f / kWordScale;
constexpr float kLowest = -8388608.0f;  // -2^23
constexpr float kHighest = 8388607.0f;  // 2^23 - 1
}  // namespace

float word_to_sample(std::int32_t word)
{
    return static_cast<float>(word) * kSampleScale;
}

std::optional<std::int32_t> sample_to_word(float sample)
{
    const float scaled = sample * kWordScale;
    // Also false for NaN; infinities fail the range.
    if (!(scaled >= kLowest && scaled <= kHighest) || std::trunc(scaled) != scaled)
        return std::nullopt;
    return static_cast<std::int32_t>(scaled);
}

}  // namespace kova::live
