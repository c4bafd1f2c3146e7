#include "word_model.h"

#include <cmath>
#include <vector>

#include "kova/pattern.h"

namespace kova::analysis::detail {
namespace {

// How far the fold's swing must stand above the noise left in its means
// (spread / sqrt(cycles)): chance never gets there in any material.
constexpr double kSignificance = 8.0;
// A cycle of 6 or 12 that is the pattern correlates with its steps at least
// as well as its fundamental alone does (0.87 and 0.84): that is what a
// filter or a resampler within the family leaves. A cycle of 3 is always a
// tone at a third of the rate, whatever its phase, so any shape passes.
constexpr double kShapeFloor = 0.8;
// Beyond this the sums of squares could overflow.
constexpr double kLargest = 1e100;
constexpr double kMeanWord = (kPatternWords[0] + kPatternWords[1] + kPatternWords[2]) / 3.0;

// Whether the fold of twice `cycle` differs between its halves beyond what
// the noise in its means allows: then a cycle of `cycle` leaves part of
// the capture's own cycle unexplained.
bool longer_cycle_holds_more(const double* x, std::size_t n, int cycle)
{
    const int longer = 2 * cycle;
    if (n < static_cast<std::size_t>(kMinCycles * longer))
        return false;
    Fold f(longer);
    f.add(x, n, 0);
    double odd = 0.0;
    for (int p = 0; p < cycle; ++p) {
        const double d = (f.mean(p) - f.mean(p + cycle)) / 2;
        odd += d * d / cycle;
    }
    // Half the difference of two means, each of total / longer samples.
    const double noise = f.spread() / std::sqrt(2 * f.total / longer);
    return std::sqrt(odd) > kSignificance * noise;
}

}  // namespace

double word_swing(int phase, int repeat)
{
    return kPatternWords[phase / repeat] - kMeanWord;
}

Shape_Fit fit_shape(const double* levels, int cycle)
{
    const int repeat = cycle / 3;
    double mean = 0.0;
    for (int p = 0; p < cycle; ++p) mean += levels[p] / cycle;
    double ww = 0.0, aa = 0.0;
    for (int p = 0; p < cycle; ++p) {
        ww += word_swing(p, repeat) * word_swing(p, repeat);
        aa += (levels[p] - mean) * (levels[p] - mean);
    }
    Shape_Fit best;
    if (aa <= 0.0)
        return best;
    for (int shift = 0; shift < cycle; ++shift) {
        double aw = 0.0;
        for (int p = 0; p < cycle; ++p) aw += (levels[(p + shift) % cycle] - mean) * word_swing(p, repeat);
        const double r = aw / std::sqrt(aa * ww);
        if (std::fabs(r) > std::fabs(best.correlation)) {
            best.shift = shift;
            best.correlation = r;
            best.gain = aw / ww;
        }
    }
    return best;
}

std::optional<Word_Model> find_words(const double* x, std::size_t n, std::uint64_t first, double quantum)
{
    // Values so large their squares overflow (a float capture at an absurd
    // gain) are scaled down by a power of two first: exactly, and back after.
    double peak = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        if (std::fabs(x[i]) > peak && std::isfinite(x[i]))
            peak = std::fabs(x[i]);
    if (peak > kLargest) {
        int e = 0;
        std::frexp(peak, &e);
        std::vector<double> scaled(x, x + n);
        for (auto& v : scaled) v = std::ldexp(v, -e);
        auto m = find_words(scaled.data(), n, first, std::ldexp(quantum, -e));
        if (m) {
            for (int p = 0; p < m->cycle; ++p) m->level[p] = std::ldexp(m->level[p], e);
            m->spread = std::ldexp(m->spread, e);
            m->gain = std::ldexp(m->gain, e);
        }
        return m;
    }
    for (const int cycle : {3, 6, 12}) {
        if (n < static_cast<std::size_t>(kMinCycles * cycle))
            continue;
        Fold f(cycle);
        f.add(x, n, 0);
        // A pattern whose words last twice as long also stands out in this
        // fold (the means of neighbouring words), once noise hides the
        // spread it leaves: the longer cycle is the pattern when it holds
        // more than this one does.
        if (cycle < 12 && longer_cycle_holds_more(x, n, cycle))
            continue;
        double levels[12];
        double mean = 0.0;
        for (int p = 0; p < cycle; ++p) {
            levels[p] = f.mean(p);
            mean += levels[p] / cycle;
        }
        double swing = 0.0;
        for (int p = 0; p < cycle; ++p) swing += (levels[p] - mean) * (levels[p] - mean) / cycle;
        swing = std::sqrt(swing);
        const double noise = f.spread() / std::sqrt(f.total / cycle);
        if (!(swing > kSignificance * noise))
            continue;
        const Shape_Fit shape = fit_shape(levels, cycle);
        if (cycle > 3 && std::fabs(shape.correlation) < kShapeFloor)
            continue;
        // The words 1024 steps apart must stay apart on the capture's grid.
        if (!(std::fabs(shape.gain) * 1024.0 >= 0.5 * quantum) || shape.gain == 0.0)
            continue;
        Word_Model m;
        m.cycle = cycle;
        m.repeat = cycle / 3;
        m.anchor = first + static_cast<std::uint64_t>(shape.shift);
        for (int p = 0; p < cycle; ++p) m.level[p] = levels[(p + shape.shift) % cycle];
        m.spread = f.spread();
        m.samples = f.total;
        m.gain = shape.gain;
        return m;
    }
    return std::nullopt;
}

Word_Model refit(const Word_Model& model, const Block_Summary& b)
{
    Word_Model m = model;
    for (int p = 0; p < model.cycle; ++p) m.level[p] = b.count[p] > 0 ? b.mean(p) : model.level[p];
    m.spread = b.spread();
    m.samples = b.total();
    // The gain at the model's own phase: the fit of the shape alone may
    // pick another shift for a noisy fold.
    double aw = 0.0, ww = 0.0, mean = 0.0;
    for (int p = 0; p < m.cycle; ++p) mean += m.level[p] / m.cycle;
    for (int p = 0; p < m.cycle; ++p) {
        aw += (m.level[p] - mean) * word_swing(p, m.repeat);
        ww += word_swing(p, m.repeat) * word_swing(p, m.repeat);
    }
    m.gain = aw / ww;
    return m;
}

}  // namespace kova::analysis::detail
