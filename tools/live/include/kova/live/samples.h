#pragma once

// The pattern's (and the full signal's) 24-bit words as float samples and back. A word w travels as
// w / 2^23, which a float holds exactly; the way back accepts only a sample
// that is exactly such a value, so nothing is ever rounded into a word.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kova::live {

float word_to_sample(std::int32_t word);

// The word whose sample this is, if any: a 24-bit signed integer w with
// sample == w / 2^23 exactly.
std::optional<std::int32_t> sample_to_word(float sample);

// One cycle of the pattern at `rate` as float samples, made from the bytes
// the core writes into the file: what is played cannot drift from it.
std::vector<float> pattern_cycle(long rate);

// The full signal of a file of `seconds` at `rate` with `channels` channels
// (1 to 8) as float samples: each channel's table made once from the core's,
// then read where each segment reads it, without allocating (an audio
// callback's).
class Full_Samples {
public:
    Full_Samples(long rate, int seconds, int channels);
    int channels() const { return static_cast<int>(tables_.size()); }
    // Frames from source sample `first` on into out (`stride` floats a
    // frame): channel c of them at out[c], for c below channels().
    void fill(std::uint64_t first, std::size_t frames, float* out, int stride) const;

private:
    std::uint16_t message_;
    std::vector<std::vector<float>> tables_;
};

}  // namespace kova::live
