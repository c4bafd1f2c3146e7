#include "band.h"

#include <algorithm>
#include <cmath>

namespace kova::analysis::detail {
namespace {

// A tone at a rate its cycle divides drifts at least this much to be a
// clock apart rather than the staircase.
constexpr double kToneDriftPpm = 3.0;

}  // namespace

long family_of(int cycle, long rate)
{
    for (const long f0 : {14700L, 16000L})
        if (f0 * cycle == rate)
            return f0;
    return 0;
}

Band band_of(const Word_Model& w, long rate, double quantum)
{
    const long f0 = family_of(w.cycle, rate);
    if (f0 == 0)
        return Band::staircase;
    double mean = 0.0;
    for (int p = 0; p < w.cycle; ++p) mean += w.level[p] / w.cycle;
    // The words at a gain and an offset, within the noise of their means
    // and the capture's rounding.
    double aw = 0.0, ww = 0.0;
    for (int p = 0; p < w.cycle; ++p) {
        aw += (w.level[p] - mean) * word_swing(p, w.repeat);
        ww += word_swing(p, w.repeat) * word_swing(p, w.repeat);
    }
    const double noise = w.samples > w.cycle ? w.spread / std::sqrt(w.samples / w.cycle) : w.spread;
    const double tolerance = std::max(1.5 * std::max(quantum, 1.0), 4 * noise);
    bool staircase = true;
    for (int p = 0; p < w.cycle; ++p)
        staircase =
            staircase && std::fabs(w.level[p] - mean - aw / ww * word_swing(p, w.repeat)) <= tolerance;
    // A resampler's tone where only other rates' staircases leave these
    // harmonics, within the noise of the levels.
    double size[kMaxHarmonic + 1];
    cycle_harmonics(w.level, w.cycle, size);
    bool elsewhere = false;
    source_rate(size, mean, f0, rate, 0.01 + 4 * noise / (size[1] > 0 ? size[1] : 1.0), &elsewhere);
    if (elsewhere)
        return Band::tone;
    // This rate's own harmonics turned by a fraction of a sample may be a
    // clock apart, or a filter: a drift tells.
    return staircase ? Band::staircase : Band::unsure;
}

bool keeps_time(const Tone_Fit& tone)
{
    return std::fabs(drift_ppm_of(tone)) < kToneDriftPpm;
}

bool shows(const Tone_Fit& tone, Tone_Need need, long rate)
{
    if (need == Tone_Need::any || rate % tone.family_rate != 0 || !keeps_time(tone))
        return true;
    // At a rate this family's cycle divides, a tone that keeps time is the
    // staircase unless its harmonics are another rate's.
    if (need == Tone_Need::drift)
        return false;
    double size[kMaxHarmonic + 1];
    for (int k = 1; k <= kMaxHarmonic; ++k) size[k] = std::abs(tone.harmonic[k]);
    const double noise = tone.spread * std::sqrt(2 / tone.weight) / std::max(size[1], 1.0);
    bool elsewhere = false;
    source_rate(size, tone.mean, tone.family_hz, rate, 0.01 + 4 * noise, &elsewhere);
    return elsewhere;
}

}  // namespace kova::analysis::detail
