#include "kova/live/samples.h"

#include <cmath>

#include "kova/pattern.h"
#include "kova/sizes.h"
#include "kova/wav_data.h"

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

std::vector<float> pattern_cycle(long rate)
{
    Wav_Data wav{};
    wav.Format.dwSamplesPerSec = rate;
    set_pattern_words(wav);
    std::vector<unsigned char> bytes(bytes_per_cycle(rate));
    fill_block(wav, bytes.data(), 1);

    std::vector<float> cycle;
    for (std::size_t i = 0; i + kBytesPerSample <= bytes.size(); i += kBytesPerSample) {
        // Little-endian 24-bit two's complement.
        std::int32_t word = bytes[i] | (bytes[i + 1] << 8) | (bytes[i + 2] << 16);
        if (word & 0x800000)
            word -= 0x1000000;
        cycle.push_back(word_to_sample(word));
    }
    return cycle;
}

}  // namespace kova::live
