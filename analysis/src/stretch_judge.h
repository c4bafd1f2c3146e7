#pragma once

// What the chain did over one stretch, judged from its figures: exact,
// a level change (a gain, an offset, the sign), altered beyond that, or a
// clock apart from the capture's (the fundamental turning steadily).

#include <optional>

#include "kova/analysis/channel_report.h"
#include "stretch_stats.h"

namespace kova::analysis::detail {

struct Judged {
    Stretch stretch;
    std::optional<Resampling> drift;  // when the stretch is a drifting clock
};

// grid: the step the capture's values were rounded to, in 24-bit steps;
// fine_grid: the capture's own finer resolution (32-bit integers, floats),
// where a change of less than a step shows.
Judged judge_stretch(const Stretch_Stats& stats, double grid, double fine_grid, long rate);

// A stretch followed as a tone, or a clock apart: from source_rate (0 when
// it cannot be told) to the capture's rate.
Resampling resampling_of(long family_hz, long family_rate, double drift_ppm, long rate, long source_rate);

}  // namespace kova::analysis::detail
