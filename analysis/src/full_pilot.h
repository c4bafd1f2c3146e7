#pragma once

// The full signal's pilot followed as a tone, where its words cannot be
// read (resampled, or come through a clock not the capture's): its
// frequency tells the rate family, the slope of its phase block by block
// the drift.

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "phase_line.h"

namespace kova::analysis::detail {

struct Pilot_Fit {
    long hz = 0;
    std::complex<double> amplitude;  // at the block's first sample's nominal phase
    double fraction = 0.0;           // of the swing's power in it
};

// The pilot at `hz` in x[0, n), whose first sample is capture index `first`.
Pilot_Fit fit_pilot(const double* x, std::size_t n, std::uint64_t first, long rate, long hz);

// The power beside the pilot over the pilot's, made at `source` and
// captured at `rate` through a resampler (or at its own rate, untouched).
// A staircase of hold r (r = source / family_rate) carries its odd
// harmonics k < 2r, each g_k^2 = (sin(pi k/4) / (r sin(pi k/4r)))^2 of its
// power (the fundamental: 1, 0.8536, 0.8210 at r = 1, 2, 4); the code and
// the noise, white to the source's half-rate, (2^34/4 + 2^32/12) / (9 *
// 2^34/2) = 0.0602 of it. A resampler keeps of both what lies below either
// rate's half.
double pilot_spread(long source, long family_rate, long rate);

class Pilot_Tracker {
public:
    explicit Pilot_Tracker(const Pilot_Fit& fit) : first_(fit) {}
    long hz() const { return first_.hz; }
    // A block that continues the pilot; false when it does not.
    bool take(const double* x, std::size_t n, std::uint64_t first, long rate);
    // Parts per million faster than nominal.
    double drift_ppm(long rate) const;
    // The rate of the family_rate's three the pilot came from at this
    // capture rate, or 0 where none or more than one fits: from the power
    // beside the pilot over the pilot's, over the blocks taken (see
    // pilot_spread), with what the drift took of the pilot given back.
    long source_rate(long family_rate, long rate) const;

private:
    Pilot_Fit fit(const double* x, std::size_t n, std::uint64_t first, long rate);

    Pilot_Fit first_;
    Phase_Line phase_;
    double shift_ = 0.0;  // of the frequency fitted at, from nominal
    long rate_ = 0;
    std::vector<double> cos_, sin_;     // e^(-i w t) of a block's samples, t from 0
    double power_ = 0.0, swing_ = 0.0;  // the pilot's and all the swing's, summed over blocks
    std::size_t block_ = 0;
};

}  // namespace kova::analysis::detail
