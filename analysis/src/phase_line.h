#pragma once

// A phase followed block by block along its position, and the straight line
// through it by least squares: its slope is how fast a clock drifts.

#include <optional>

namespace kova::analysis::detail {

class Phase_Line {
public:
    // Unwrapped against the last: a clock drifts far less than half a turn
    // from one block to the next.
    void add(double position, double phase)
    {
        constexpr double kPi = 3.14159265358979323846;
        if (n_ > 0) {
            while (phase - last_phase_ > kPi) phase -= 2 * kPi;
            while (phase - last_phase_ < -kPi) phase += 2 * kPi;
        } else {
            first_ = position;
        }
        last_phase_ = phase;
        last_ = position;
        sx_ += position;
        sxx_ += position * position;
        sy_ += phase;
        sxy_ += position * phase;
        n_ += 1;
    }
    // Radians per unit of position; none from fewer than three points.
    std::optional<double> slope() const
    {
        const double den = n_ * sxx_ - sx_ * sx_;
        if (n_ < 3 || den <= 0)
            return std::nullopt;
        return (n_ * sxy_ - sx_ * sy_) / den;
    }
    // From the first position to the last.
    double span() const { return n_ > 0 ? last_ - first_ : 0.0; }

private:
    double sx_ = 0, sxx_ = 0, sy_ = 0, sxy_ = 0, n_ = 0;
    double last_phase_ = 0;
    double first_ = 0, last_ = 0;
};

}  // namespace kova::analysis::detail
