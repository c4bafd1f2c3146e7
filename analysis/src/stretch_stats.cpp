#include "stretch_stats.h"

#include <algorithm>
#include <cmath>

#include "kova/pattern.h"

namespace kova::analysis::detail {

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
    for (int j = 0; j < period; ++j) {
        const int p = (phase + j) % period;
        // Phase p occurs once per cycle, and once more in the part cycle.
        const std::uint64_t times = whole + (static_cast<std::uint64_t>(j) < rest ? 1 : 0);
        if (times == 0)
            continue;
        const int k = p / repeat;
        // Counted now, summed when the value changes or the stretch ends:
        // so the sums come out the same however the run was cut up.
        if (tally_count[p] > 0 && tally_value[p] != values[p])
            flush_tally(p);
        tally_value[p] = values[p];
        tally_count[p] += times;
        if (n[k] == 0) {
            min[k] = max[k] = values[p];
        } else {
            min[k] = std::min(min[k], values[p]);
            max[k] = std::max(max[k], values[p]);
        }
        n[k] += times;
        peak = std::max(peak, std::fabs(values[p]));
        if (exact_at[p]) {
            exact += times;
            exact_of[k] += times;
        } else {
            differing += times;
            max_difference = std::max(max_difference, std::fabs(values[p] - kPatternWords[k]));
        }
    }
    end += count;
}

void Stretch_Stats::flush_tally(int p)
{
    const double v = tally_value[p];
    const auto times = static_cast<double>(tally_count[p]);
    const int k = p / repeat;
    sum[k] += v * times;
    const double d = std::fabs(v - kPatternWords[k]);
    sum_sq_difference += static_cast<long double>(d) * d * times;
    tally_count[p] = 0;
}

void Stretch_Stats::flush_tallies()
{
    for (int p = 0; p < 12; ++p)
        if (tally_count[p] > 0)
            flush_tally(p);
}

void Stretch_Stats::add_samples(const double* v, std::size_t count, int phase, int cycle,
                                const Decoder& decoder)
{
    add_summary(summarize(v, count, phase, cycle, decoder.word_width()), count);
}

void Stretch_Stats::add_summary(const Block_Summary& b, std::size_t count)
{
    double taken = 0.0;
    for (int p = 0; p < b.cycle; ++p) {
        if (b.count[p] <= 0)
            continue;
        const int k = p / repeat;
        if (n[k] == 0) {
            min[k] = b.min[p];
            max[k] = b.max[p];
        } else {
            min[k] = std::min(min[k], b.min[p]);
            max[k] = std::max(max[k], b.max[p]);
        }
        n[k] += static_cast<std::uint64_t>(b.count[p]);
        exact_of[k] += static_cast<std::uint64_t>(b.exact_at[p]);
        sum[k] += b.sum[p];
        taken += b.count[p];
        peak = std::max({peak, std::fabs(b.min[p]), std::fabs(b.max[p])});
    }
    const auto exact_here = static_cast<std::uint64_t>(b.exact);
    exact += exact_here;
    differing += static_cast<std::uint64_t>(taken) - exact_here + b.nonfinite;
    nonfinite += b.nonfinite;
    max_difference = std::max(max_difference, b.max_difference);
    sum_sq_difference += b.sum_sq_difference;
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

}  // namespace kova::analysis::detail
