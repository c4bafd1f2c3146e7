#pragma once

// A stretch of samples folded onto one cycle: the mean at each phase and how
// far the samples stray from it. Whatever a chain did to the pattern, if it
// kept the cycle, the fold shows its shape.

#include <cstddef>
#include <cstdint>

namespace kova::analysis::detail {

struct Fold {
    int cycle = 0;
    double sum[12] = {};
    double count[12] = {};
    double sum_sq = 0.0;
    double total = 0.0;
    // Values are taken relative to the first one, so that a large constant
    // does not swamp the spread in the sums of squares.
    double origin = 0.0;
    bool has_origin = false;

    explicit Fold(int cycle_samples = 3) : cycle(cycle_samples) {}
    // x[0] has phase `phase`; NaN samples are left out.
    void add(const double* x, std::size_t n, int phase);
    double mean(int phase) const;
    // Root mean square of the samples around their phase's mean.
    double spread() const;
};

// Sample index -> phase within a cycle that starts (phase 0) at anchor.
inline int phase_at(std::uint64_t index, std::uint64_t anchor, int cycle)
{
    const auto c = static_cast<std::uint64_t>(cycle);
    return index >= anchor ? static_cast<int>((index - anchor) % c)
                           : static_cast<int>((c - (anchor - index) % c) % c);
}

// A difference of phases brought into 0 .. cycle - 1.
inline int wrap(long long value, int cycle)
{
    const long long r = value % cycle;
    return static_cast<int>(r < 0 ? r + cycle : r);
}

}  // namespace kova::analysis::detail
