#pragma once

// Figures gathered over one stretch of the span, sample by sample or, where
// a raw table held, a whole run at a time. Constant in size.

#include <cstddef>
#include <cstdint>

#include "block_summary.h"
#include "decode.h"
#include "kova/analysis/channel_report.h"
#include "phase_line.h"

namespace kova::analysis::detail {

struct Stretch_Stats {
    std::uint64_t first = 0;
    std::uint64_t end = 0;  // one past the last sample taken
    int repeat = 1;

    // Per word (0..2): the values that stood for it.
    std::uint64_t n[3] = {};
    double sum[3] = {};
    double min[3] = {};
    double max[3] = {};

    std::uint64_t exact = 0;
    std::uint64_t exact_of[3] = {};  // of n[], exactly the word
    std::uint64_t differing = 0;
    double max_difference = 0.0;
    long double sum_sq_difference = 0.0;  // wide enough for a float capture at an absurd gain
    std::uint64_t nonfinite = 0;
    // Changed in place where the rest of the stretch holds: counted among
    // the differing, but not among the values its level is judged by.
    std::uint64_t changed = 0;

    // The fundamental's phase, block by block, against its position: its
    // slope is a clock that drifts.
    Phase_Line phase_line;
    // The largest single value seen, for a float capture's rounding.
    double peak = 0.0;
    double tally_value[12] = {};
    std::uint64_t tally_count[12] = {};

    void start(std::uint64_t at, int repeat_samples);
    void flush_tally(int phase);
    std::uint64_t length() const { return end - first; }

    // count samples that all hold the table's values from `phase` on;
    // values[] is the table decoded.
    void add_table(std::uint64_t count, int phase, int period, const double* values, const bool* exact_at);
    // Decoded samples from `phase` on, or their summary.
    void add_samples(const double* v, std::size_t count, int phase, int cycle, const Decoder& decoder);
    void add_summary(const Block_Summary& b, std::size_t count);
    // One sample changed in place.
    void add_changed(double v, int phase, const Decoder& decoder);
    // Runs taken through a table are counted first and summed here, so
    // that their sums do not depend on how the runs were cut up.
    void flush_tallies();
};

}  // namespace kova::analysis::detail
