#pragma once

// The pattern after a resampler between the rate families (44.1 kHz through
// a 48 kHz mixer) has no whole number of samples per cycle left: what
// remains is its fundamental, 14.7 kHz or 16 kHz, and the harmonics the new
// rate holds. Found and followed as a tone.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "phase_line.h"

namespace kova::analysis::detail {

struct Tone_Fit {
    long family_hz = 0;
    long family_rate = 0;
    double omega = 0.0;                // radians per sample, nominal
    std::complex<double> fundamental;  // amplitude and phase at index 0
    double mean = 0.0;
    double spread = 0.0;    // RMS of what the tone and its harmonics leave
    double fraction = 0.0;  // of the swing's power in the tone and its harmonics
};

// The pattern's fundamental at a frequency that is not a whole division of
// the rate (those are the word models' cycles).
std::optional<Tone_Fit> find_tone(const double* x, std::size_t n, std::uint64_t first, long rate);

// Refits a known tone to other samples.
Tone_Fit refit_tone(const Tone_Fit& tone, const double* x, std::size_t n, std::uint64_t first, long rate);

class Tone_Tracker {
public:
    explicit Tone_Tracker(const Tone_Fit& fit) : fit_(fit) {}
    const Tone_Fit& fit() const { return fit_; }
    // A block that continues the tone; false when it does not.
    bool take(const double* x, std::size_t n, std::uint64_t first, long rate);
    // Parts per million faster than nominal, from the phase's slope.
    double drift_ppm() const;
    double span() const { return phase_.span(); }

private:
    Tone_Fit fit_;
    Phase_Line phase_;  // the fundamental's, block by block
};

}  // namespace kova::analysis::detail
