#include "kova/analysis/levels.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "kova/pattern.h"

namespace kova::analysis {
namespace {

double w(int k) { return kPatternWords[k]; }

// The offsets b for which every value lies within `half` of word * factor + b,
// as [lo, hi]; empty when lo > hi.
void offset_range(const Levels& l, double factor, double half, double& lo, double& hi)
{
    lo = -INFINITY;
    hi = INFINITY;
    for (int k = 0; k < 3; ++k) {
        lo = std::max(lo, l.max[k] - factor * w(k) - half);
        hi = std::min(hi, l.min[k] - factor * w(k) + half);
    }
}

}  // namespace

Change explain_levels(const Levels& l, double quantum)
{
    // Rounding leaves a value at most half a quantum off; exactly half is a
    // tie, which a single stray step would otherwise pass for.
    const double half = quantum * 0.499;
    Change c;
    double lo, hi;

    // Sign kept or flipped, plus a constant. No offset needed when zero is
    // in range; with the sign kept that would be exact, and is not asked here.
    for (const double sign : {1.0, -1.0}) {
        offset_range(l, sign, half, lo, hi);
        if (lo <= hi && (sign < 0 || !(lo <= 0 && 0 <= hi))) {
            c.fits = true;
            c.inverted = sign < 0;
            c.factor = sign;
            c.offset = !(lo <= 0 && 0 <= hi);
            c.offset_steps =
                c.offset ? std::clamp((l.mean[0] + l.mean[1] + l.mean[2] - sign * (w(0) + w(1) + w(2))) / 3,
                                      lo, hi)
                         : 0.0;
            return c;
        }
    }

    // A gain alone: the factors that keep every value within rounding of
    // word * factor, one range per word (all words are positive).
    lo = -INFINITY;
    hi = INFINITY;
    for (int k = 0; k < 3; ++k) {
        lo = std::max(lo, (l.max[k] - half) / w(k));
        hi = std::min(hi, (l.min[k] + half) / w(k));
    }
    if (lo <= hi && !(lo <= 0 && 0 <= hi)) {
        const double least_squares = (l.mean[0] * w(0) + l.mean[1] * w(1) + l.mean[2] * w(2)) /
                                     (w(0) * w(0) + w(1) * w(1) + w(2) * w(2));
        c.fits = true;
        c.factor = std::clamp(least_squares, lo, hi);
        c.inverted = c.factor < 0;
        c.gain = true;
        return c;
    }

    // Gain and offset: the words are evenly spaced, 2048 steps first to last.
    const double slope = (l.mean[2] - l.mean[0]) / (w(2) - w(0));
    offset_range(l, slope, half, lo, hi);
    if (slope != 0 && lo <= hi) {
        c.fits = true;
        c.inverted = slope < 0;
        c.gain = std::fabs(std::fabs(slope) - 1) * w(2) > half;
        c.offset = true;
        c.factor = slope;
        c.offset_steps =
            std::clamp((l.mean[0] + l.mean[1] + l.mean[2] - slope * (w(0) + w(1) + w(2))) / 3, lo, hi);
    }
    return c;
}

}  // namespace kova::analysis
