#pragma once

// One pass over a block of samples for everything a block is judged by and
// adds to its stretch: per phase their sum, least and largest, and against
// the words how many are exact and how far the rest are off. Written so the
// compiler can vectorise it: the hot loop of every capture that is not
// compared as it lies.

#include <cstddef>

namespace kova::analysis::detail {

struct Block_Summary {
    int cycle = 0;
    double count[12] = {};
    double sum[12] = {};
    double min[12] = {};
    double max[12] = {};
    double sum_sq = 0.0;  // of the samples less `origin`
    double origin = 0.0;
    double exact = 0.0;
    double exact_at[12] = {};        // per phase
    double max_difference = 0.0;     // over the samples that are not their word
    double sum_sq_difference = 0.0;  // the same
    std::size_t nonfinite = 0;

    double mean(int phase) const { return count[phase] > 0 ? sum[phase] / count[phase] : 0.0; }
    double total() const;
    // RMS of the samples around their phase's mean.
    double spread() const;
};

// x[0] has `phase` in a cycle of `cycle` samples, `repeat` per word.
// A sample counts as its word when w <= x < w + word_width, or, with a
// width of 0, only when it equals the word (Decoder::word_width).
Block_Summary summarize(const double* x, std::size_t n, int phase, int cycle, double word_width);

}  // namespace kova::analysis::detail
