#pragma once

// What a resampler leaves of the pattern, whatever the two rates: its DC
// and its fundamental, 14.7 kHz or 16 kHz times the drift of the clock it
// came from, with such harmonics as both rates hold. No whole number of
// samples per cycle need be left, so it is found and followed as a tone:
// its frequency searched for over the drifts a clock can have, then its
// phase followed block by block.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "phase_line.h"

namespace kova::analysis::detail {

// Harmonics followed: up to the fifth (a 192 kHz staircase holds the 1st,
// 2nd, 4th and 5th; every third is zero in any staircase of three words).
constexpr int kMaxHarmonic = 5;

struct Tone_Fit {
    long family_hz = 0;
    long family_rate = 0;
    double omega = 0.0;  // nominal radians per sample
    double shift = 0.0;  // radians per sample beyond nominal: the drift
    double at = 0.0;     // the position the harmonics are given at
    // x[m] = mean + Re sum_k harmonic[k] e^{i k (omega m + shift (m - at))}
    std::complex<double> harmonic[kMaxHarmonic + 1];
    double mean = 0.0;
    double spread = 0.0;    // RMS of what the tone and its harmonics leave
    double fraction = 0.0;  // of the swing's power in the tone and its harmonics
    double weight = 0.0;    // samples the fit was made over
};

// The pattern's fundamental, at either family's frequency times any drift
// within a clock's reach. At a rate the family's cycle divides, a staircase
// is such a tone too: which it is, is for the caller to decide.
std::optional<Tone_Fit> find_tone(const double* x, std::size_t n, std::uint64_t first, long rate);

// A known tone refitted to other samples, at its own frequency.
Tone_Fit refit_tone(const Tone_Fit& tone, const double* x, std::size_t n, std::uint64_t first, long rate);

// What the tone gives at sample i.
double tone_value(const Tone_Fit& tone, std::uint64_t i, long rate);

// Parts per million faster than nominal.
inline double drift_ppm_of(const Tone_Fit& t)
{
    return t.omega > 0 ? t.shift / t.omega * 1e6 : 0.0;
}

// The rate whose staircase, band-limited by a resampler, leaves harmonics
// of these sizes around this mean: a hold of h samples scales harmonic k
// by sin(pi k / 3) / (h sin(pi k / 3h)), and a resampler passes none above
// either rate's half. size[k] for k = 1 .. kMaxHarmonic (those the capture
// holds below its passband are used); the tolerance is a share of the
// fundamental the words have. 0 unless exactly one rate fits; `elsewhere`
// tells whether some rate fits and the capture's own does not: a
// resampler's tone, whichever rate it came from.
long source_rate(const double* size, double mean, long family_hz, long rate, double tolerance,
                 bool* elsewhere = nullptr);

// The sizes of a cycle's harmonics, from its levels (a fold of `cycle`
// samples), into size[1 .. kMaxHarmonic].
void cycle_harmonics(const double* levels, int cycle, double* size);

class Tone_Tracker {
public:
    explicit Tone_Tracker(const Tone_Fit& fit) : fit_(fit) {}
    const Tone_Fit& fit() const { return fit_; }
    // A block that continues the tone; false when it does not.
    bool take(const double* x, std::size_t n, std::uint64_t first, long rate);
    // Parts per million faster than nominal, from the phase's slope.
    double drift_ppm() const;
    // The source rate the harmonics over all blocks taken tell, or 0.
    long source(long rate) const;

private:
    Tone_Fit fit_;
    Phase_Line phase_;  // the fundamental's against nominal, block by block
    // Sums over the blocks taken, for the source rate.
    double size_sum_[kMaxHarmonic + 1] = {};
    double mean_sum_ = 0.0;
    double spread_sum_ = 0.0;
    double weight_ = 0.0;
};

}  // namespace kova::analysis::detail
