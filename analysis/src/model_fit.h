#pragma once

// A model of what the chain did to the words over one stretch of the span,
// and how it holds against the samples the history keeps: sample by sample,
// where it begins and ends, and whether other samples are the pattern at
// other levels.

#include <cstddef>
#include <cstdint>

#include "decode.h"
#include "history.h"
#include "word_model.h"

namespace kova::analysis::detail {

struct Model {
    Word_Model words;
    bool deterministic = false;
    Raw_Table table;
    double table_value[12] = {};
    bool table_exact[12] = {};
    double tolerance = 0.0;  // per sample, where the model is clean enough to judge samples
    bool clean = false;
    // The fundamental's turn per sample, as the last blocks showed it.
    double turn = 0.0;
    bool tone = false;  // resampled: followed as a tone, not as words

    // Every word of the cycle held exactly.
    bool exact() const;
};

class Model_Fit {
public:
    Model_Fit(const History& history, const Decoder& decoder) : history_(history), decoder_(decoder) {}

    // The model the words found in [from, from + n) make: compared as they
    // lie where the window repeats them exactly.
    Model make(const Word_Model& words, std::uint64_t from, std::size_t n) const;

    bool fits(const Model& m, std::uint64_t i) const;
    // Nearer its own level than the next word's.
    bool near_level(const Model& m, std::uint64_t i) const;
    // Where the model begins, from `from` back to no earlier than limit.
    std::uint64_t refine_back(const Model& m, std::uint64_t from, std::uint64_t limit) const;
    // The first sample from `from` on that the model does not take, up to hi.
    std::uint64_t last_fit(const Model& m, std::uint64_t from, std::uint64_t hi) const;
    // Whether the model holds [t, t + n) at some phase: then resumed is it,
    // shifted to that phase.
    bool resumes(const Model& old, std::uint64_t t, std::size_t n, Model& resumed) const;
    bool same_levels(const Model& a, const Model& b) const;
    // Whether samples [from, to) still carry the cycle at the phase m gives
    // them: the pattern at other levels, not something else.
    bool carries(const Model& m, std::uint64_t from, std::uint64_t to) const;
    // Whether samples [from, to) beside the span, each near its level, are
    // the pattern changed rather than other material that landed there.
    bool pattern_beside(const Model& m, std::uint64_t from, std::uint64_t to, std::uint64_t other_from,
                        std::uint64_t other_to) const;

private:
    std::uint64_t change_point(const Model& m, std::uint64_t lo, std::uint64_t hi) const;
    double difference(const Model& m, std::uint64_t i, double other) const;

    const History& history_;
    const Decoder& decoder_;
};

}  // namespace kova::analysis::detail
