#include "block_summary.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "kova/pattern.h"
#include "target_clones.h"

namespace kova::analysis::detail {
namespace {

// Lanes: a whole number of cycles of every length (3, 6, 12), so that lane j
// always holds one phase; few enough that every sum stays in a register.
constexpr int kLanes = 12;

struct Lanes {
    double sum[kLanes] = {};  // of the samples less the origin
    double sq[kLanes] = {};
    double min[kLanes];
    double max[kLanes];
    double exact[kLanes] = {};
    double count[kLanes] = {};
};

// Four lanes to a vector register; three of them are the twelve lanes.
typedef double V4 __attribute__((vector_size(32)));
typedef long long M4 __attribute__((vector_size(32)));

template <bool kByEquality>
__attribute__((always_inline)) inline std::size_t rows_of(const double* x, std::size_t n, const double* word,
                                                          double origin, double word_width, Lanes& l)
{
    V4 sum[3] = {}, sq[3] = {}, mn[3], mx[3], w[3];
    M4 ex[3] = {};  // less one for each exact sample: a true compare is all ones
    for (int k = 0; k < 3; ++k) {
        std::memcpy(&mn[k], l.min + 4 * k, sizeof(V4));
        std::memcpy(&mx[k], l.max + 4 * k, sizeof(V4));
        std::memcpy(&w[k], word + 4 * k, sizeof(V4));
    }
    const V4 o = {origin, origin, origin, origin};
    const V4 zero = {};
    const V4 width = {word_width, word_width, word_width, word_width};
    std::size_t i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        for (int k = 0; k < 3; ++k) {
            V4 v;
            std::memcpy(&v, x + i + 4 * k, sizeof v);
            const V4 rel = v - o;
            sum[k] += rel;
            sq[k] += rel * rel;
            mn[k] = mn[k] < v ? mn[k] : v;
            mx[k] = mx[k] > v ? mx[k] : v;
            const V4 d = v - w[k];
            if (kByEquality)
                ex[k] += d == zero;
            else
                ex[k] += (d >= zero) & (d < width);
        }
    }
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < 4; ++j) {
            l.sum[4 * k + j] += sum[k][j];
            l.sq[4 * k + j] += sq[k][j];
            l.min[4 * k + j] = mn[k][j];
            l.max[4 * k + j] = mx[k][j];
            l.exact[4 * k + j] -= static_cast<double>(ex[k][j]);
        }
    const double rows = static_cast<double>(i / kLanes);
    for (int j = 0; j < kLanes; ++j) l.count[j] += rows;
    return i;
}

// The hot loop, built three times: for any x86-64, for one with AVX2, and
// for one with AVX-512, whose 32 vector registers hold every sum at once
// where AVX2's 16 spill some (chosen when the program starts).
KOVA_TARGET_CLONES("arch=x86-64-v4", "avx2", "default")
std::size_t whole_rows(const double* x, std::size_t n, const double* word, double origin, double word_width,
                       Lanes& l)
{
    return word_width == 0.0 ? rows_of<true>(x, n, word, origin, word_width, l)
                             : rows_of<false>(x, n, word, origin, word_width, l);
}

void one(double v, int j, const double* word, double origin, double word_width, Lanes& l)
{
    const double rel = v - origin;
    l.sum[j] += rel;
    l.sq[j] += rel * rel;
    l.count[j] += 1.0;
    l.min[j] = std::min(l.min[j], v);
    l.max[j] = std::max(l.max[j], v);
    const double d = v - word[j];
    l.exact[j] += (word_width == 0.0 ? d == 0.0 : (d >= 0.0 && d < word_width)) ? 1.0 : 0.0;
}

}  // namespace

double Block_Summary::total() const
{
    double t = 0.0;
    for (int p = 0; p < cycle; ++p) t += count[p];
    return t;
}

double Block_Summary::spread() const
{
    double explained = 0.0, n = 0.0;
    for (int p = 0; p < cycle; ++p)
        if (count[p] > 0) {
            const double s = sum[p] - count[p] * origin;
            explained += s * s / count[p];
            n += count[p];
        }
    const double dof = n - cycle;
    if (dof <= 0)
        return 0.0;
    const double r = (sum_sq - explained) / dof;
    return r > 0 ? std::sqrt(r) : 0.0;
}

Block_Summary summarize(const double* x, std::size_t n, int phase, int cycle, double word_width)
{
    Block_Summary b;
    b.cycle = cycle;
    if (n == 0)
        return b;
    const int repeat = cycle / 3;
    std::size_t first = 0;
    while (first < n && std::isnan(x[first])) ++first;
    // Values less the first, so that a large constant does not swamp the
    // spread in the sum of squares.
    b.origin = first < n ? x[first] : 0.0;

    double word[kLanes];
    for (int j = 0; j < kLanes; ++j) word[j] = kPatternWords[((phase + j) % cycle) / repeat];
    Lanes l;
    std::fill(l.min, l.min + kLanes, INFINITY);
    std::fill(l.max, l.max + kLanes, -INFINITY);
    std::size_t i = whole_rows(x, n, word, b.origin, word_width, l);
    bool nan = false;
    for (int j = 0; j < kLanes; ++j) nan = nan || std::isnan(l.sum[j]);
    if (nan) {
        // A float that was not finite: again, one by one, leaving it out.
        l = Lanes{};
        std::fill(l.min, l.min + kLanes, INFINITY);
        std::fill(l.max, l.max + kLanes, -INFINITY);
        i = 0;
    }
    for (; i < n; ++i) {
        if (std::isnan(x[i])) {
            ++b.nonfinite;
            continue;
        }
        one(x[i], static_cast<int>(i % kLanes), word, b.origin, word_width, l);
    }

    std::fill(b.min, b.min + 12, INFINITY);
    std::fill(b.max, b.max + 12, -INFINITY);
    double sq_phase[12] = {};
    for (int j = 0; j < kLanes; ++j) {
        const int p = (phase + j) % cycle;
        b.count[p] += l.count[j];
        b.sum[p] += l.sum[j] + l.count[j] * b.origin;
        sq_phase[p] += l.sq[j];
        b.min[p] = std::min(b.min[p], l.min[j]);
        b.max[p] = std::max(b.max[p], l.max[j]);
        b.exact += l.exact[j];
        b.exact_at[p] += l.exact[j];
    }
    // Against the words, from the same sums: (x - w)^2 summed is the
    // spread about the origin moved to the word.
    for (int p = 0; p < cycle; ++p) {
        if (b.count[p] <= 0)
            continue;
        b.sum_sq += sq_phase[p];
        const double w = kPatternWords[p / repeat];
        const double shift = b.origin - w;
        const double rel_sum = b.sum[p] - b.count[p] * b.origin;
        const double sq = sq_phase[p] + 2 * shift * rel_sum + b.count[p] * shift * shift;
        b.sum_sq_difference += std::max(0.0, sq);
        if (b.exact_at[p] < b.count[p])
            b.max_difference = std::max({b.max_difference, std::fabs(b.min[p] - w), std::fabs(b.max[p] - w)});
    }
    return b;
}

}  // namespace kova::analysis::detail
