#pragma once

// The pattern as a capture holds it: for each phase of the cycle the value
// it sits at. The exact words, the words at some gain or offset, or the
// smoothed or noisy shape a chain left of them, as long as the cycle is kept.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "block_summary.h"
#include "fold.h"

namespace kova::analysis::detail {

struct Word_Model {
    int cycle = 0;             // samples per cycle: 3, 6 or 12
    int repeat = 0;            // samples per word
    std::uint64_t anchor = 0;  // a sample at phase 0 (the first word's first sample)
    double level[12] = {};
    double spread = 0.0;   // RMS of the samples around their levels
    double samples = 0.0;  // the levels are the means of this many samples (all phases)
    double gain = 0.0;     // the levels' swing against the words', signed

    int phase(std::uint64_t index) const { return phase_at(index, anchor, cycle); }
    double expected(std::uint64_t index) const { return level[phase(index)]; }
};

// What the pattern's cycle looks like around its mean: word - 2560 at each phase.
double word_swing(int phase, int repeat);

// How a cycle of levels lines up with the pattern: the shift that makes
// level[(p + shift) % cycle] follow word p best, how closely (correlation,
// signed: negative when inverted), and the gain that scales the words' swing
// onto the levels'.
struct Shape_Fit {
    int shift = 0;
    double correlation = 0.0;
    double gain = 0.0;
};
Shape_Fit fit_shape(const double* levels, int cycle);

// Finds the pattern in n samples whose first has index `first`: the shortest
// cycle (3, 6, 12) whose fold stands well clear of the spread around it and
// has the pattern's shape, with levels at least half the capture's quantum
// apart. The window must hold at least kMinCycles cycles.
constexpr int kMinCycles = 16;
std::optional<Word_Model> find_words(const double* x, std::size_t n, std::uint64_t first, double quantum);

// The same cycle and phase refitted to other samples (levels and spread),
// from their summary taken at the model's phase.
Word_Model refit(const Word_Model& model, const Block_Summary& summary);

}  // namespace kova::analysis::detail
