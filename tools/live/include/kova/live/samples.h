#pragma once

// The pattern's 24-bit words as float samples and back. A word w travels as
// w / 2^23, which a float holds exactly; the way back accepts only a sample
// that is exactly such a value, so nothing is ever rounded into a word.

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

}  // namespace kova::live
