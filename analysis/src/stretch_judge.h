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

// grid: the step the capture's values were rounded to, in 24-bit steps.
Judged judge_stretch(const Stretch_Stats& stats, double grid, long rate);

// A stretch followed as a tone: resampled between the families.
Resampling resampling_of(long family_hz, long family_rate, double drift_ppm, long rate);

}  // namespace kova::analysis::detail
