#include "kova/check/levels.h"

#include <cmath>
#include <initializer_list>

#include "kova/pattern.h"

namespace kova::check {
namespace {

double w(int k) { return kPatternWords[k]; }

bool close_to(const Levels& l, double factor, double offset, double quantum)
{
    for (int k = 0; k < 3; ++k)
        if (!(std::fabs(l.mean[k] - (w(k) * factor + offset)) <= quantum))
            return false;
    return true;
}

double mean_offset(const Levels& l, double factor)
{
    return (l.mean[0] - factor * w(0) + l.mean[1] - factor * w(1) + l.mean[2] - factor * w(2)) / 3;
}

}  // namespace

Change explain_levels(const Levels& l, double quantum)
{
    Change c;
    // Each word must come out as one value, give or take the rounding.
    for (int k = 0; k < 3; ++k)
        if (!(l.spread[k] <= quantum))
            return c;

    // Sign kept or flipped, plus a constant: an offset of under half a step
    // of the capture is not one, so that is left to the other tests.
    for (const double sign : {1.0, -1.0}) {
        const double offset = mean_offset(l, sign);
        if (close_to(l, sign, offset, quantum) && (sign < 0 || std::fabs(offset) >= quantum / 2)) {
            c.fits = true;
            c.inverted = sign < 0;
            c.factor = sign;
            c.offset = std::fabs(offset) >= quantum / 2;
            c.offset_steps = c.offset ? offset : 0.0;
            return c;
        }
    }

    // A gain alone: the least-squares factor through zero.
    const double factor = (l.mean[0] * w(0) + l.mean[1] * w(1) + l.mean[2] * w(2)) /
                          (w(0) * w(0) + w(1) * w(1) + w(2) * w(2));
    if (factor != 0 && close_to(l, factor, 0.0, quantum)) {
        c.fits = true;
        c.inverted = factor < 0;
        c.gain = true;
        c.factor = factor;
        return c;
    }

    // Gain and offset: the words are evenly spaced, 2048 steps from first to last.
    const double slope = (l.mean[2] - l.mean[0]) / (w(2) - w(0));
    const double offset = mean_offset(l, slope);
    if (slope != 0 && close_to(l, slope, offset, quantum)) {
        c.fits = true;
        c.inverted = slope < 0;
        c.gain = std::fabs(std::fabs(slope) - 1) * w(2) > quantum;
        c.offset = true;
        c.factor = slope;
        c.offset_steps = offset;
    }
    return c;
}

}  // namespace kova::check
