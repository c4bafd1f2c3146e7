#include "stretch_stats.h"

#include <algorithm>
#include <cmath>

#include "kova/pattern.h"

namespace kova::analysis::detail {
namespace {

constexpr double kPi = 3.14159265358979323846;

void add_value(Stretch_Stats& s, int k, double v, std::uint64_t count)
{
    if (s.n[k] == 0) {
        s.min[k] = s.max[k] = v;
    } else {
        s.min[k] = std::min(s.min[k], v);
        s.max[k] = std::max(s.max[k], v);
    }
    s.n[k] += count;
    s.sum[k] += v * static_cast<double>(count);
}

void add_detrended(Stretch_Stats& s, int k, double u)
{
    if (s.n[k] == 0) {
        s.dmin[k] = s.dmax[k] = u;
    } else {
        s.dmin[k] = std::min(s.dmin[k], u);
        s.dmax[k] = std::max(s.dmax[k], u);
    }
}

void add_dc(Stretch_Stats& s, double dc)
{
    if (!s.has_dc) {
        s.dc_min = s.dc_max = dc;
        s.has_dc = true;
    } else {
        s.dc_min = std::min(s.dc_min, dc);
        s.dc_max = std::max(s.dc_max, dc);
    }
}

}  // namespace

void Stretch_Stats::start(std::uint64_t at, int repeat_samples)
{
    *this = Stretch_Stats{};
    first = end = at;
    repeat = repeat_samples;
}

void Stretch_Stats::add_table(std::uint64_t count, int phase, int period, const double* values,
                              const bool* exact_at)
{
    if (count == 0)
        return;
    const auto cycle = static_cast<std::uint64_t>(period);
    const std::uint64_t whole = count / cycle;
    const std::uint64_t rest = count % cycle;
    double mean = 0.0;
    for (int p = 0; p < period; ++p)
        mean += values[p] / period;
    for (int j = 0; j < period; ++j) {
        const int p = (phase + j) % period;
        // Phase p occurs once per cycle, and once more in the part cycle.
        const std::uint64_t times = whole + (static_cast<std::uint64_t>(j) < rest ? 1 : 0);
        if (times == 0)
            continue;
        const int k = p / repeat;
        add_detrended(*this, k, values[p] - mean);
        add_value(*this, k, values[p], times);
        peak = std::max(peak, std::fabs(values[p]));
        if (exact_at[p]) {
            exact += times;
        } else {
            const double d = std::fabs(values[p] - kPatternWords[k]);
            differing += times;
            max_difference = std::max(max_difference, d);
            sum_sq_difference += d * d * static_cast<double>(times);
        }
    }
    add_dc(*this, mean);
    end += count;
}

void Stretch_Stats::add_samples(const double* v, std::size_t count, int phase, int cycle, const Decoder& decoder)
{
    if (count == 0)
        return;
    // The block's mean over whole cycles, for the values less it.
    const std::size_t whole = count / static_cast<std::size_t>(cycle) * static_cast<std::size_t>(cycle);
    double mean = 0.0;
    std::size_t taken = 0;
    for (std::size_t i = 0; i < whole; ++i)
        if (v[i] == v[i]) {
            mean += v[i];
            ++taken;
        }
    const bool has_mean = taken > 0 && whole > 0;
    if (has_mean) {
        mean /= static_cast<double>(taken);
        add_dc(*this, mean);
    } else {
        mean = has_dc ? (dc_min + dc_max) / 2 : 0.0;
    }
    int p = phase;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = v[i];
        const int k = p / repeat;
        if (x != x) {
            ++nonfinite;
            ++differing;
        } else {
            const int word = kPatternWords[k];
            add_detrended(*this, k, x - mean);
            add_value(*this, k, x, 1);
            peak = std::max(peak, std::fabs(x));
            if (decoder.is_word(x, word)) {
                ++exact;
            } else {
                const double d = std::fabs(x - word);
                ++differing;
                max_difference = std::max(max_difference, d);
                sum_sq_difference += d * d;
            }
        }
        p = p + 1 == cycle ? 0 : p + 1;
    }
    end += count;
}

void Stretch_Stats::add_changed(double v, int phase, const Decoder& decoder)
{
    const int word = kPatternWords[phase / repeat];
    ++end;
    if (v != v) {
        ++nonfinite;
        ++differing;
        ++changed;
        return;
    }
    if (decoder.is_word(v, word)) {
        ++exact;
        return;
    }
    const double d = std::fabs(v - word);
    ++differing;
    ++changed;
    max_difference = std::max(max_difference, d);
    sum_sq_difference += d * d;
}

void Stretch_Stats::add_phase(double position, double phase)
{
    // Unwrapped against the last: a clock drifts far less than half a turn
    // from one block to the next.
    if (has_phase) {
        while (phase - last_phase > kPi)
            phase -= 2 * kPi;
        while (phase - last_phase < -kPi)
            phase += 2 * kPi;
    }
    last_phase = phase;
    has_phase = true;
    px += position;
    pxx += position * position;
    py += phase;
    pxy += position * phase;
    pn += 1;
}

}  // namespace kova::analysis::detail
