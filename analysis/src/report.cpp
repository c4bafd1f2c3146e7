#include <cstdlib>
#include <initializer_list>
#include <utility>

#include "kova/analysis/channel_report.h"
#include "kova/settings.h"
#include "length_model.h"

namespace kova::analysis {

namespace {

// The names of the flags that are set, in the order given.
std::vector<std::string> names_of(std::initializer_list<std::pair<bool, const char*>> flags)
{
    std::vector<std::string> names;
    for (const auto& [set, name] : flags)
        if (set)
            names.emplace_back(name);
    return names;
}

}  // namespace

std::vector<std::string> verdict_names(const Channel_Report& r)
{
    if (!r.present)
        return {verdict::kAbsent};
    auto names = names_of({{r.inverted, verdict::kInverted},
                           {r.gain, verdict::kGain},
                           {r.offset, verdict::kOffset},
                           {r.dropouts, verdict::kDropouts},
                           {r.altered, verdict::kAltered},
                           {r.resampled, verdict::kResampled},
                           {r.incomplete, verdict::kIncomplete},
                           {r.truncated, verdict::kTruncated},
                           {r.channels, verdict::kChannels}});
    if (names.empty())
        names.emplace_back(verdict::kBitPerfect);
    return names;
}

std::vector<std::string> verdict_names(const Stretch& s)
{
    return names_of({{s.exact, verdict::kBitPerfect},
                     {s.inverted, verdict::kInverted},
                     {s.gain, verdict::kGain},
                     {s.offset, verdict::kOffset},
                     {s.altered, verdict::kAltered},
                     {s.resampled, verdict::kResampled}});
}

bool pattern_rate(long rate)
{
    for (const auto& r : kRates)
        if (r.rate == rate)
            return true;
    return false;
}

Duration_Match match_duration(std::uint64_t samples, long rate)
{
    Duration_Match m;
    long long best = -1;
    for (const auto& d : kDurations) {
        const long long expected = static_cast<long long>(rate) * d.seconds;
        const long long diff = static_cast<long long>(samples) - expected;
        if (diff == 0)
            m.seconds = d.seconds;
        if (best < 0 || std::llabs(diff) < best) {
            best = std::llabs(diff);
            m.nearest_seconds = d.seconds;
            m.difference = diff;
        }
    }
    return m;
}

void judge_length(Channel_Report& r, long rate, long long seconds)
{
    if (!r.present)
        return;
    const auto& a = r.accounting;
    detail::Span_Seen s;
    s.length = r.length();
    s.rate = rate;
    s.cycle = a.cycle;
    s.first_phase = a.first_phase;
    s.last_phase = a.last_phase;
    s.start = {a.start_crisp, a.starts_capture};
    s.end = {a.end_crisp, a.ends_capture};
    for (const auto& d : r.first_dropouts) s.breaks.push_back({d.foreign, d.residue});
    s.sums.count = r.dropout_count;
    s.sums.foreign = a.foreign;
    s.sums.nearest = a.skipped_nearest;
    s.sums.fewest = a.skipped_fewest;
    std::vector<long long> durations;
    if (seconds > 0)
        durations.push_back(seconds);
    else
        for (const auto& d : kDurations) durations.push_back(d.seconds);

    const auto j = detail::judge_span_length(s, durations);
    r.judged_seconds = j.seconds;
    r.missing_start = j.missing_start;
    r.missing_end = j.missing_end;
    r.missing_start_exact = j.missing_start_exact;
    r.missing_end_exact = j.missing_end_exact;
    r.unplaced = j.unplaced;
    for (std::size_t i = 0; i < r.first_dropouts.size(); ++i) {
        r.first_dropouts[i].lost = j.breaks[i].lost;
        r.first_dropouts[i].lost_exact = j.breaks[i].exact;
        r.first_dropouts[i].inserted = j.breaks[i].inserted;
    }
    r.incomplete = j.incomplete;
    r.dropouts = r.dropout_count > 0 || r.unplaced < 0;
}

}  // namespace kova::analysis
