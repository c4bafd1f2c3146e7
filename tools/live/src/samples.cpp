#include "kova/live/samples.h"

#include <algorithm>
#include <cmath>

#include "kova/full_signal.h"
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

Full_Samples::Full_Samples(long rate, int seconds, int channels) : message_(full::message(rate, seconds))
{
    const auto code = full::code_bits();
    for (int c = 1; c <= channels; ++c) {
        const auto words = full::channel_table(c, channels, full::repeat(rate), code);
        std::vector<float> table(words.size());
        for (std::size_t i = 0; i < words.size(); ++i) table[i] = word_to_sample(words[i]);
        tables_.push_back(std::move(table));
    }
}

void Full_Samples::fill(std::uint64_t first, std::size_t frames, float* out, int stride) const
{
    while (frames > 0) {
        const std::uint64_t f = first / full::kSegment;
        const auto j = static_cast<std::size_t>(first % full::kSegment);
        const std::size_t n = std::min<std::size_t>(frames, static_cast<std::size_t>(full::kSegment) - j);
        const std::size_t at = static_cast<std::size_t>(full::kOffsetStep * full::symbol(f, message_)) + j;
        for (std::size_t c = 0; c < tables_.size(); ++c) {
            const float* from = tables_[c].data() + at;
            for (std::size_t k = 0; k < n; ++k) out[k * static_cast<std::size_t>(stride) + c] = from[k];
        }
        out += n * static_cast<std::size_t>(stride);
        first += n;
        frames -= n;
    }
}

}  // namespace kova::live
