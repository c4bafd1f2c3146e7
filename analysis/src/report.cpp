#include <cstdlib>

#include "kova/analysis/channel_report.h"
#include "kova/settings.h"

namespace kova::analysis {

std::vector<std::string> verdict_names(const Channel_Report& r)
{
    if (!r.present)
        return {"absent"};
    std::vector<std::string> names;
    if (r.inverted)
        names.emplace_back("inverted");
    if (r.gain)
        names.emplace_back("gain");
    if (r.offset)
        names.emplace_back("offset");
    if (r.dropouts)
        names.emplace_back("dropouts");
    if (r.altered)
        names.emplace_back("altered");
    if (r.resampled)
        names.emplace_back("resampled");
    if (r.incomplete)
        names.emplace_back("incomplete");
    if (names.empty())
        names.emplace_back("bit-perfect");
    return names;
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
    const auto& a = r.accounting;
    if (!r.present || a.cycle == 0 || r.repeat == 0)
        return;
    const long long cycle = a.cycle;
    // The least there can be missing at each end: the phase the span
    // starts at, and the phases after the one it ends at.
    const long long start = a.first_phase;
    const long long end = cycle - 1 - a.last_phase;
    // What the source held, as far as the cycle tells: the span, its ends,
    // less what was inserted, plus what was lost (the residues).
    const long long known = static_cast<long long>(r.length()) + start + end -
                            static_cast<long long>(a.foreign) + static_cast<long long>(a.lost_residue);
    if (seconds <= 0) {
        seconds = (known + rate / 2) / rate;
        if (seconds < 1)
            seconds = 1;
    }
    r.judged_seconds = seconds;
    // Whole cycles left over: lost (positive) or added (negative) somewhere.
    const long long rest = seconds * rate - known;
    // A span under half a second is a piece of something longer, not a
    // file whose samples lost or added one dropout could account for.
    const bool whole_file = known * 2 >= rate;

    r.missing_start = static_cast<std::uint64_t>(start);
    r.missing_end = static_cast<std::uint64_t>(end);
    r.missing_start_exact = r.missing_end_exact = true;
    r.unplaced = 0;
    for (auto& d : r.first_dropouts) d.lost_exact = rest == 0;

    if (rest > 0) {
        // Where whole cycles could have gone: an end where the cycle is cut,
        // and every dropout. One place takes them all; several leave them
        // unplaced, each figure then the least there can be. An end whose
        // cycle is whole is taken to have arrived whole.
        const bool start_cut = start > 0 || !a.start_crisp;
        const bool end_cut = end > 0 || !a.end_crisp;
        const long long places =
            (start_cut ? 1 : 0) + (end_cut ? 1 : 0) + static_cast<long long>(r.dropout_count);
        if (places == 1 && r.dropout_count == 1 && !r.first_dropouts.empty() && whole_file) {
            r.first_dropouts[0].lost += static_cast<std::uint64_t>(rest);
            r.first_dropouts[0].lost_exact = true;
        } else if (places == 1 && start_cut) {
            r.missing_start += static_cast<std::uint64_t>(rest);
        } else if (places == 1 && end_cut) {
            r.missing_end += static_cast<std::uint64_t>(rest);
        } else {
            r.unplaced = rest;
            r.missing_start_exact = !start_cut;
            r.missing_end_exact = !end_cut;
        }
    } else if (rest < 0 && a.start_crisp && a.end_crisp) {
        // More than the source held, where neither end is blurred. Each
        // dropout was taken to have replaced as many samples as it inserted;
        // the excess says they replaced fewer (silence inserted whole loses
        // nothing). A lone dropout takes it all, exactly; several go down to
        // the fewest their cycle allows, exact only when that is all of it;
        // what they cannot take was added somewhere else.
        const auto beyond = static_cast<long long>(a.lost_beyond_fewest);
        if (r.dropout_count == 1 && !r.first_dropouts.empty() && whole_file && beyond >= -rest) {
            r.first_dropouts[0].lost -= static_cast<std::uint64_t>(-rest);
            r.first_dropouts[0].lost_exact = true;
        } else if (beyond > 0 && whole_file) {
            r.unplaced = rest + beyond;
            for (auto& d : r.first_dropouts) {
                d.lost %= static_cast<std::uint64_t>(cycle);
                d.lost_exact = r.unplaced == 0;
            }
        } else {
            r.unplaced = rest;
        }
    }

    // A blurred end (a fade, noise) shows no cut: nothing is claimed missing
    // there, but whole cycles may still have gone there.
    if (!a.start_crisp) {
        r.missing_start = 0;
        r.missing_start_exact = false;
    }
    if (!a.end_crisp) {
        r.missing_end = 0;
        r.missing_end_exact = false;
    }
    r.incomplete = r.missing_start > 0 || r.missing_end > 0 ||
                   (r.unplaced > 0 && r.dropout_count == 0 && a.start_crisp && a.end_crisp);
    r.dropouts = r.dropout_count > 0 || r.unplaced < 0;
}

}  // namespace kova::analysis
