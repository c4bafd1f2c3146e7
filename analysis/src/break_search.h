#pragma once

// After a break: the windows the old model, or a new one, is looked for in,
// within a fixed reach of where it broke, and what happened between the
// two: nothing, samples changed in place, a dropout, a change of level.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "history.h"
#include "model_fit.h"

namespace kova::analysis::detail {

class Break_Search {
public:
    // The pattern found again: the model that holds [from, from + n).
    struct Found {
        Model model;
        std::uint64_t from = 0;
        std::size_t n = 0;
    };

    // The old model broke at `at`; windows are tested from `first_window` on.
    void start(const Model& old, std::uint64_t at, std::uint64_t first_window);
    const Model& old() const { return old_; }
    std::uint64_t at() const { return at_; }

    // Tests the windows the history now holds. scratch: room for a block.
    std::optional<Found> look(const History& history, const Model_Fit& fit, double quantum, double* scratch);
    // Looked for long enough: the pattern is lost.
    bool given_up(std::uint64_t end) const;
    // Where the old model last held, looking no further than hi.
    std::uint64_t last_held(const Model_Fit& fit, std::uint64_t hi) const
    {
        return fit.last_fit(old_, at_, hi);
    }
    // Where the old model stopped and the found one starts.
    void meet(const Model_Fit& fit, const Found& found, std::uint64_t& stop, std::uint64_t& start) const;

private:
    Model old_;
    std::uint64_t at_ = 0;
    std::uint64_t next_ = 0;
};

// How the pattern went on from `old`, last held before `stop`, to `now`,
// first held at `start`.
struct Join {
    // Both at one cycle, the old not a tone: the phases say what was lost.
    bool phases_tell = false;
    bool same_levels = false;
    // The samples between changed in place where the cycle goes on: a
    // glitch, or the levels moving between two models (a fade).
    bool changed = false;
    // Else the cycle broke: `foreign` samples that are not the pattern,
    // `skipped` pattern samples (modulo the cycle: residue).
    bool dropout = false;
    std::uint64_t foreign = 0;
    long long skipped = 0;
    int residue = 0;
};
Join join(const Model& old, const Model& now, std::uint64_t stop, std::uint64_t start, const Model_Fit& fit);

}  // namespace kova::analysis::detail
