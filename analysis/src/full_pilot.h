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

class Pilot_Tracker {
public:
    explicit Pilot_Tracker(const Pilot_Fit& fit) : first_(fit) {}
    long hz() const { return first_.hz; }
    // A block that continues the pilot; false when it does not.
    bool take(const double* x, std::size_t n, std::uint64_t first, long rate);
    // Parts per million faster than nominal.
    double drift_ppm(long rate) const;

private:
    Pilot_Fit fit(const double* x, std::size_t n, std::uint64_t first, long rate);

    Pilot_Fit first_;
    Phase_Line phase_;
    long rate_ = 0;
    std::vector<double> cos_, sin_;  // e^(-i w t) of a block's samples, t from 0
};

}  // namespace kova::analysis::detail
