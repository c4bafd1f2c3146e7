#include "stretch_judge.h"

#include <algorithm>
#include <cmath>

#include "kova/pattern.h"
#include "levels.h"

namespace kova::analysis::detail {
namespace {

// A stretch that is altered still shows an offset when its mean moved by
// more than this share of the words' spacing.
constexpr double kNamedOffset = 0.05;
// The fundamental must turn by this much over the stretch, at this many
// parts per million at least, to be a clock apart: less is the noise of
// its phase.
constexpr double kDriftTurn = 0.2;
constexpr double kDriftPpm = 0.5;

void explain(const Stretch_Stats& s, double grid, double fine_grid, long rate, Stretch& st)
{
    Levels levels{};
    bool any = true;
    for (int k = 0; k < 3; ++k) {
        any = any && s.n[k] > 0;
        levels.min[k] = s.min[k];
        levels.max[k] = s.max[k];
        levels.mean[k] = s.n[k] ? s.sum[k] / static_cast<double>(s.n[k]) : 0.0;
        levels.exact[k] = s.n[k] ? static_cast<double>(s.exact_of[k]) / static_cast<double>(s.n[k]) : 0.0;
    }
    Change c = any ? explain_levels(levels, grid) : Change{};
    // Within a step of the words on the 24-bit grid, but a container finer
    // than it may show a gain or an offset of less than a step.
    if (any && !c.fits && fine_grid < grid)
        c = explain_levels(levels, fine_grid);
    if (c.fits) {
        st.inverted = c.inverted;
        st.gain = c.gain;
        st.offset = c.offset;
        st.gain_factor = c.factor;
        st.offset_steps = st.offset_min = st.offset_max = c.offset_steps;
        return;
    }
    st.altered = true;
    // Still name a change of DC (a codec or filter that removed it): a mean
    // that neither the words' own nor theirs at the levels' swing explains,
    // held for half a second at least (not the passing mean of a gap).
    if (!any || s.length() * 2 < static_cast<std::uint64_t>(rate))
        return;
    const double slope = (levels.mean[2] - levels.mean[0]) / (kPatternWords[2] - kPatternWords[0]);
    const double mean = (levels.mean[0] + levels.mean[1] + levels.mean[2]) / 3;
    const double words_mean = (kPatternWords[0] + kPatternWords[1] + kPatternWords[2]) / 3.0;
    const double dc = mean - slope * words_mean;
    const double named = kNamedOffset * 1024 * std::fabs(slope);
    if (std::fabs(dc) > named && std::fabs(mean - words_mean) > named) {
        st.offset = true;
        st.offset_steps = st.offset_min = st.offset_max = dc;
        st.gain_factor = slope;
    }
}

// A stretch followed as a tone, or a clock apart: from source_rate (0 when
// it cannot be told) to the capture's rate.
Resampling resampling_of(long family_hz, long family_rate, double drift_ppm, long rate, long source_rate)
{
    Resampling r;
    r.family_hz = family_hz;
    r.family_rate = family_rate;
    r.drift_ppm = drift_ppm;
    r.source_rate = source_rate;
    const long from = source_rate > 0 ? source_rate : family_rate;
    r.ratio = static_cast<double>(rate) / (static_cast<double>(from) * (1 + drift_ppm * 1e-6));
    return r;
}

std::optional<Resampling> drift_of(const Stretch_Stats& s, long rate)
{
    const std::optional<double> line = s.phase_line.slope();
    if (!line)
        return std::nullopt;
    const double slope = *line;  // radians per sample
    const double turned = std::fabs(slope) * static_cast<double>(s.length());
    const double ppm = slope / (2 * kPi / (3 * s.repeat)) * 1e6;
    if (turned <= kDriftTurn || std::fabs(ppm) < kDriftPpm)
        return std::nullopt;
    // The family whose cycle this rate divides into whole samples.
    const bool family_441 = rate % 44100 == 0;
    // Still the staircase of this rate, only turning: made at this rate.
    return resampling_of(family_441 ? 14700 : 16000, family_441 ? 44100 : 48000, ppm, rate, rate);
}

// Finer than a step: the coarsest power of two the stretch's values all lie
// on (a chain that rounded to half steps), down to the capture's resolution:
// a float's, at the largest value, that of a 32-bit float where a 64-bit
// one holds only such values.
double fine_grid_of(const Stretch_Stats& s, const Decoder& decoder)
{
    bool single = true;
    for (int k = 0; k < 3; ++k)
        single =
            single && static_cast<float>(s.min[k]) == s.min[k] && static_cast<float>(s.max[k]) == s.max[k];
    const double finest = decoder.is_float() ? std::ldexp(s.peak, single ? -22 : -51) : decoder.quantum();
    double g = 1.0;
    for (; g / 2 >= finest; g /= 2) {
        bool on = true;
        for (int k = 0; k < 3 && on; ++k)
            for (const double v : {s.min[k] / g, s.max[k] / g}) on = on && v == std::floor(v);
        if (on)
            return g;
    }
    return std::min(g, finest);
}

}  // namespace

Judged judge_stretch(const Stretch_Stats& s, const Decoder& decoder, long rate)
{
    const double fine_grid = fine_grid_of(s, decoder);
    // A float keeps 24 significant bits of the value itself.
    const double grid = decoder.is_float() ? std::max(1.0, fine_grid) : std::max(decoder.quantum(), 1.0);
    Judged j;
    Stretch& st = j.stretch;
    st.first = s.first;
    st.last = s.end - 1;
    st.differing = s.differing;
    st.changed = s.changed;
    st.exact = s.differing == 0;
    if (!st.exact) {
        explain(s, grid, fine_grid, rate, st);
        // Samples changed in place leave the level judged on the rest.
        if (s.changed > 0)
            st.altered = true;
    }
    // The fundamental turning steadily is a clock apart from the capture's.
    j.drift = drift_of(s, rate);
    if (j.drift) {
        st.resampled = true;
        st.altered = st.gain = st.offset = st.inverted = false;
    }
    return j;
}

Judged judge_tone_stretch(const Stretch_Stats& s, const Tone_Tracker& tone, long rate)
{
    Judged j;
    j.stretch.first = s.first;
    j.stretch.last = s.end - 1;
    j.stretch.resampled = true;
    j.drift = resampling_of(tone.fit().family_hz, tone.fit().family_rate, tone.drift_ppm(), rate,
                            tone.source(rate));
    return j;
}

}  // namespace kova::analysis::detail
