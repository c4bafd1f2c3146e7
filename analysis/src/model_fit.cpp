#include "model_fit.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "block_sizes.h"
#include "fold.h"
#include "kova/pattern.h"

namespace kova::analysis::detail {

bool Model::exact() const
{
    return deterministic && std::all_of(table_exact, table_exact + words.cycle, [](bool b) { return b; });
}

Model Model_Fit::make(const Word_Model& words, std::uint64_t from, std::size_t n) const
{
    Model out;
    out.words = words;
    const auto cycle = static_cast<std::uint64_t>(words.cycle);
    const int bytes = decoder_.bytes();
    bool periodic = true;
    for (std::uint64_t i = from + cycle; i < from + n && periodic; ++i)
        periodic = same_sample(history_.raw(i), history_.raw(i - cycle), bytes);
    if (periodic) {
        out.deterministic = true;
        out.table.period = words.cycle;
        out.table.bytes = bytes;
        for (std::uint64_t i = from; i < from + cycle; ++i) {
            const int p = words.phase(i);
            std::memcpy(out.table.value[p], history_.raw(i), static_cast<std::size_t>(bytes));
            out.table_value[p] = history_.value(i);
            out.words.level[p] = history_.value(i);
            out.table_exact[p] = decoder_.is_word(history_.value(i), kPatternWords[p / words.repeat]);
        }
        out.table.lay_out();
        out.words.spread = 0.0;
    }
    // A sample may stray by the capture's rounding and a few times the
    // spread; the model is clean when that is still nearer its own level
    // than the next word's.
    out.tolerance = std::max(1.5 * std::max(decoder_.quantum(), 1.0), 4 * out.words.spread);
    out.clean = out.tolerance < 0.5 * std::fabs(words.gain) * 1024;
    return out;
}

bool Model_Fit::near_level(const Model& m, std::uint64_t i) const
{
    const double v = history_.value(i);
    return std::fabs(v - m.words.level[m.words.phase(i)]) < 0.5 * std::fabs(m.words.gain) * 1024;
}

bool Model_Fit::fits(const Model& m, std::uint64_t i) const
{
    const int p = m.words.phase(i);
    if (m.deterministic)
        return same_sample(history_.raw(i), m.table.value[p], decoder_.bytes());
    const double v = history_.value(i);
    return std::fabs(v - m.words.level[p]) <= m.tolerance;
}

std::uint64_t Model_Fit::refine_back(const Model& m, std::uint64_t from, std::uint64_t limit) const
{
    limit = std::max(limit, reach_back(from));
    if (!m.deterministic && !m.clean)
        return change_point(m, limit, from);
    std::uint64_t s = from;
    while (s > limit && fits(m, s - 1)) --s;
    return s;
}

// Where other material gives way to the pattern within [lo, hi): the split
// that leaves the least squared error, the other material taken as its own
// mean (silence, or the level of whatever was there).
std::uint64_t Model_Fit::change_point(const Model& m, std::uint64_t lo, std::uint64_t hi) const
{
    if (hi <= lo)
        return hi;
    const std::uint64_t head = std::max<std::uint64_t>(1, (hi - lo) / 4);
    const double mean = history_.mean(lo, lo + head);
    // cost(m) = sum over [lo, m) of other + sum over [m, hi) of pattern;
    // walk m down from hi keeping the running difference.
    double best = 0.0, running = 0.0;
    std::uint64_t at = hi;
    for (std::uint64_t i = hi; i-- > lo;) {
        running += difference(m, i, mean);
        if (running < best) {
            best = running;
            at = i;
        }
    }
    return at;
}

std::uint64_t Model_Fit::last_fit(const Model& m, std::uint64_t from, std::uint64_t hi) const
{
    if (m.deterministic || m.clean) {
        std::uint64_t i = from;
        while (i < hi && fits(m, i)) ++i;
        return i;
    }
    // Noisy: the split between the model and what follows it.
    double best = 0.0, running = 0.0;
    std::uint64_t at = from;
    const std::uint64_t tail = std::max<std::uint64_t>(1, (hi - from) / 4);
    const double mean = history_.mean(hi - tail, hi);
    for (std::uint64_t i = from; i < hi; ++i) {
        running += difference(m, i, mean);
        if (running < best) {
            best = running;
            at = i + 1;
        }
    }
    return at;
}

// Sample i's squared error against the model less its squared error against
// `other`: negative where the model fits it better; 0 for a sample that is
// not a number, which speaks for neither.
double Model_Fit::difference(const Model& m, std::uint64_t i, double other) const
{
    const double v = history_.value(i);
    if (v != v)
        return 0.0;
    const double e_model = v - m.words.level[m.words.phase(i)];
    const double e_other = v - other;
    return e_model * e_model - e_other * e_other;
}

bool Model_Fit::resumes(const Model& old, std::uint64_t t, std::size_t n, Model& resumed) const
{
    if (!old.deterministic && !old.clean)
        return false;
    const int cycle = old.words.cycle;
    for (int q = 0; q < cycle; ++q) {
        Model m = old;
        // Phase q at t.
        m.words.anchor = t + static_cast<std::uint64_t>(wrap(-q, cycle));
        bool all = true;
        for (std::uint64_t i = t; i < t + n && all; ++i) all = fits(m, i);
        if (all) {
            resumed = m;
            return true;
        }
    }
    return false;
}

bool Model_Fit::same_levels(const Model& a, const Model& b) const
{
    if (a.deterministic && b.deterministic)
        return a.table == b.table;
    // Within the noise of both levels' means, and the capture's rounding.
    auto noise = [](const Word_Model& w) {
        return w.samples > w.cycle ? w.spread / std::sqrt(w.samples / w.cycle) : w.spread;
    };
    const double tol = std::max(decoder_.quantum(), 1.0) + 4 * std::max(noise(a.words), noise(b.words));
    for (int p = 0; p < a.words.cycle; ++p)
        if (std::fabs(a.words.level[p] - b.words.level[p]) > tol)
            return false;
    return true;
}

bool Model_Fit::carries(const Model& m, std::uint64_t from, std::uint64_t to) const
{
    const int cycle = m.words.cycle;
    if (to - from < static_cast<std::uint64_t>(2 * cycle) || to - from > History::kSize / 2)
        return false;
    const auto n = static_cast<std::size_t>(to - from);
    std::vector<double> x(n);
    history_.copy(from, n, x.data());
    Fold f(cycle);
    f.add(x.data(), n, m.words.phase(from));
    double levels[12], mean = 0.0;
    for (int p = 0; p < cycle; ++p) {
        levels[p] = f.mean(p);
        mean += levels[p] / cycle;
    }
    double aw = 0.0, aa = 0.0, ww = 0.0;
    for (int p = 0; p < cycle; ++p) {
        const double a = levels[p] - mean, w = word_swing(p, m.words.repeat);
        aw += a * w;
        aa += a * a;
        ww += w * w;
    }
    if (aa <= 0.0)
        return false;
    // In step with the words, and well clear of the spread around them.
    const double swing = std::sqrt(aa / cycle);
    const double noise = f.spread() / std::sqrt(f.total / cycle);
    return aw / std::sqrt(aa * ww) >= 0.8 * (m.words.gain < 0 ? -1 : 1) && swing > 4 * noise &&
           std::fabs(aw / ww) * 1024 >= 0.5 * std::max(decoder_.quantum(), 1.0);
}

// A fade, a filter's ringing or a sample changed at the very end are the
// pattern changed; other material at the pattern's level lands beside it
// now and then, but hardly for two whole cycles, nor where none of what is
// next to them [other_from, other_to) does.
bool Model_Fit::pattern_beside(const Model& m, std::uint64_t from, std::uint64_t to, std::uint64_t other_from,
                               std::uint64_t other_to) const
{
    if (to == from)
        return false;
    if (to - from >= 2 * static_cast<std::uint64_t>(m.words.cycle))
        return true;
    for (std::uint64_t i = other_from; i < other_to; ++i)
        if (near_level(m, i))
            return false;
    return true;
}

}  // namespace kova::analysis::detail
