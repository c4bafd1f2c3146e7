#pragma once

// A phase followed block by block along its position, and the straight line
// through it by least squares: its slope is how fast a clock drifts.

#include <cmath>
#include <optional>

namespace kova::analysis::detail {

constexpr double kPi = 3.14159265358979323846;

class Phase_Line {
public:
    // Unwrapped against where the line so far puts it, or before there is
    // one, the last phase turned by `slope` per unit of position: a clock
    // drifts far less than half a turn from that between two blocks.
    void add(double position, double phase, double slope_hint = 0.0)
    {
        if (n_ > 0) {
            const double predicted = last_phase_ + slope().value_or(slope_hint) * (position - last_);
            phase = predicted + std::remainder(phase - predicted, 2 * kPi);
        } else {
            first_ = position;
            first_phase_ = phase;
        }
        last_phase_ = phase;
        last_ = position;
        // From the first point, so that the sums keep their precision
        // however far into a capture the line runs.
        const double x = position - first_, y = phase - first_phase_;
        sx_ += x;
        sxx_ += x * x;
        sy_ += y;
        sxy_ += x * y;
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
    double first_ = 0, last_ = 0, first_phase_ = 0;
};

}  // namespace kova::analysis::detail
