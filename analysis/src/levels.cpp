#include "levels.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "kova/pattern.h"

namespace kova::analysis::detail {
namespace {

double w(int k)
{
    return kPatternWords[k];
}

// The offsets b for which every value lies within `tol` of word * factor + b,
// as [lo, hi]; empty when lo > hi.
void offset_range(const Levels& l, double factor, double tol, double& lo, double& hi)
{
    lo = -INFINITY;
    hi = INFINITY;
    for (int k = 0; k < 3; ++k) {
        lo = std::max(lo, l.max[k] - factor * w(k) - tol);
        hi = std::min(hi, l.min[k] - factor * w(k) + tol);
    }
}

double mean_offset(const Levels& l, double factor)
{
    return (l.mean[0] + l.mean[1] + l.mean[2] - factor * (w(0) + w(1) + w(2))) / 3;
}

// How far the values lie at most from word * factor + offset.
double worst(const Levels& l, double factor, double offset)
{
    double r = 0.0;
    for (int k = 0; k < 3; ++k)
        r = std::max({r, l.max[k] - factor * w(k) - offset, factor * w(k) + offset - l.min[k]});
    return r;
}

// The least of worst() over all offsets, the factor given.
double offset_residual(const Levels& l, double factor)
{
    double lo, hi;
    offset_range(l, factor, 0.0, lo, hi);
    return std::max(0.0, (lo - hi) / 2);
}

// The least of worst() over all factors, no offset: where a value's
// bound rising with the factor meets another's falling.
double gain_residual(const Levels& l)
{
    double best = INFINITY;
    for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k)
            best = std::min(best, worst(l, (l.max[j] + l.min[k]) / (w(j) + w(k)), 0.0));
    return best;
}

}  // namespace

Change explain_levels(const Levels& l, double grid)
{
    // Strictly less than one step: a value a whole step off is a changed
    // value (dither), not rounding.
    const double tol = grid * 0.999;
    Change c;
    double lo, hi;

    // Most of every word's values exactly the word: some were changed, the
    // level was not.
    if (l.exact[0] > 0.5 && l.exact[1] > 0.5 && l.exact[2] > 0.5)
        return c;

    // Unchanged within rounding but not exact (a float chain's residue):
    // nothing simple explains it.
    offset_range(l, 1.0, tol, lo, hi);
    if (lo <= 0 && 0 <= hi)
        return c;

    // The sign flipped, nothing else.
    offset_range(l, -1.0, tol, lo, hi);
    if (lo <= 0 && 0 <= hi) {
        c.fits = c.inverted = true;
        c.factor = -1.0;
        return c;
    }

    // A gain alone: the factors that keep every value within rounding of
    // word * factor, one range per word (all words are positive).
    lo = -INFINITY;
    hi = INFINITY;
    for (int k = 0; k < 3; ++k) {
        lo = std::max(lo, (l.max[k] - tol) / w(k));
        hi = std::min(hi, (l.min[k] + tol) / w(k));
    }
    // An offset that fits more closely than any gain is what was done:
    // every value the word plus 1 is not a gain of x1.00035, rounded. Not
    // on a coarse grid, where the words are a few steps apart and every
    // gain near 0.8 dB either way rounds to one step on each (16 bits).
    const bool offset_closer = grid <= 1.0 && (offset_residual(l, 1.0) < std::min(gain_residual(l), tol) ||
                                               offset_residual(l, -1.0) < std::min(gain_residual(l), tol));
    if (lo <= hi && !(lo <= 0 && 0 <= hi) && !offset_closer) {
        const double least_squares = (l.mean[0] * w(0) + l.mean[1] * w(1) + l.mean[2] * w(2)) /
                                     (w(0) * w(0) + w(1) * w(1) + w(2) * w(2));
        c.fits = c.gain = true;
        c.factor = std::clamp(least_squares, lo, hi);
        c.inverted = c.factor < 0;
        return c;
    }

    // An offset, with the sign kept or flipped.
    for (const double sign : {1.0, -1.0}) {
        offset_range(l, sign, tol, lo, hi);
        if (lo <= hi) {
            c.fits = c.offset = true;
            c.inverted = sign < 0;
            c.factor = sign;
            c.offset_steps = std::clamp(mean_offset(l, sign), lo, hi);
            return c;
        }
    }

    // Gain and offset: the words are evenly spaced, 2048 steps first to last.
    const double slope = (l.mean[2] - l.mean[0]) / (w(2) - w(0));
    offset_range(l, slope, tol, lo, hi);
    if (slope != 0 && std::isfinite(slope) && lo <= hi) {
        c.fits = c.gain = c.offset = true;
        c.inverted = slope < 0;
        c.factor = slope;
        c.offset_steps = std::clamp(mean_offset(l, slope), lo, hi);
    }
    return c;
}

}  // namespace kova::analysis::detail
