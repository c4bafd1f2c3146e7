#pragma once

// What the chain did over one stretch, judged from its figures: exact,
// a level change (a gain, an offset, the sign), altered beyond that, or a
// clock apart from the capture's (the fundamental turning steadily).

#include <optional>

#include "decode.h"
#include "kova/analysis/channel_report.h"
#include "stretch_stats.h"
#include "tone.h"

namespace kova::analysis::detail {

struct Judged {
    Stretch stretch;
    std::optional<Resampling> drift;  // when the stretch is a drifting clock
};

// Against the step the capture's values were rounded to, and where that is
// finer than a 24-bit step (32-bit integers, floats), against its own
// resolution, where a change of less than a step shows.
Judged judge_stretch(const Stretch_Stats& stats, const Decoder& decoder, long rate);

// A stretch followed as a resampler's tone: resampled, from the rate its
// harmonics tell where they do.
Judged judge_tone_stretch(const Stretch_Stats& stats, const Tone_Tracker& tone, long rate);

}  // namespace kova::analysis::detail
