#include "length_model.h"

namespace kova::analysis::detail {
namespace {

long long modulo(long long v, long long cycle)
{
    const long long m = v % cycle;
    return m < 0 ? m + cycle : m;
}

Break_Count count_of(const Break& b, long long skip, bool exact)
{
    // Skipped below zero: pattern-like samples inserted, nothing lost.
    Break_Count c;
    c.lost = skip > 0 ? static_cast<std::uint64_t>(skip) : 0;
    c.inserted = b.foreign + (skip < 0 ? static_cast<std::uint64_t>(-skip) : 0);
    c.exact = exact;
    return c;
}

}  // namespace

long long fewest_skip(const Break& b, int cycle)
{
    // Where nothing foreign came, less than a cycle may have been repeated.
    return b.foreign == 0 && b.residue > 0 ? b.residue - cycle : b.residue;
}

long long nearest_skip(const Break& b, int cycle)
{
    // The net change, foreign less skipped, is known modulo the cycle: taken
    // within half a cycle of zero, a tie going to the loss.
    const auto foreign = static_cast<long long>(b.foreign);
    const long long m = modulo(foreign - b.residue, cycle);
    const long long net = m < (cycle + 1) / 2 ? m : m - cycle;
    const long long skip = foreign - net;
    const long long fewest = fewest_skip(b, cycle);
    return skip < fewest ? fewest : skip;
}

void Break_Sums::add(const Break& b, int cycle)
{
    ++count;
    foreign += b.foreign;
    nearest += nearest_skip(b, cycle);
    fewest += fewest_skip(b, cycle);
}

Length_Judgement judge_span_length(const Span_Seen& s, const std::vector<long long>& durations)
{
    Length_Judgement j;
    const long long c = s.cycle;
    for (const auto& b : s.breaks) j.breaks.push_back(count_of(b, b.residue, false));
    if (c <= 0 || durations.empty() || s.rate <= 0)
        return j;

    // What the source held, as far as the span shows it: the span, less
    // what the breaks inserted, plus the phases missing at its ends and what
    // the breaks skipped, each at its nearest, or at its fewest.
    const long long head = s.first_phase;
    const long long tail = c - 1 - s.last_phase;
    const long long shown =
        static_cast<long long>(s.length) - static_cast<long long>(s.sums.foreign) + head + tail;
    const long long nearest = shown + s.sums.nearest;
    const long long fewest = shown + s.sums.fewest;

    long long seconds = durations.back();
    for (const long long d : durations)
        if (d * s.rate >= fewest) {
            seconds = d;
            break;
        }
    const long long total = seconds * s.rate;
    // Phases that do not add up (the cycle changed on the way) tell nothing.
    if (modulo(total - nearest, c) != 0)
        return j;
    j.judged = true;
    j.seconds = seconds;
    j.missing_start = static_cast<std::uint64_t>(head);
    j.missing_end = static_cast<std::uint64_t>(tail);

    std::vector<long long> skip;
    for (const auto& b : s.breaks) skip.push_back(nearest_skip(b, s.cycle));
    std::vector<bool> exact(s.breaks.size(), true);
    const long long steps = (total - nearest) / c;

    if (steps > 0) {
        // Whole cycles missing. An end is cut where its cycle is, where it
        // is blurred, and where it lies at the capture's edge and the other
        // end does not: one cut or break takes them all. A span that fills
        // the capture is the whole file unless its phases show otherwise:
        // its ends take them only where nothing else can. A span under half
        // its duration is a piece of it, not a file one break took the rest
        // of.
        const bool piece = 2 * static_cast<long long>(s.length) < total;
        const auto is_cut = [](const Span_Seen::End& e, const Span_Seen::End& other, long long phase) {
            return phase > 0 || !e.crisp || (e.at_capture && !other.at_capture);
        };
        const bool start_cut = is_cut(s.start, s.end, head);
        const bool end_cut = is_cut(s.end, s.start, tail);
        const bool start_open = start_cut || s.start.at_capture;
        const bool end_open = end_cut || s.end.at_capture;
        const auto cuts = s.sums.count + (start_cut ? 1 : 0) + (end_cut ? 1 : 0);
        const long long more = steps * c;
        if (cuts == 1 && s.sums.count == 1 && !piece) {
            if (!skip.empty())
                skip[0] += more;
        } else if (cuts == 1 && s.sums.count == 0 && start_cut) {
            j.missing_start += static_cast<std::uint64_t>(more);
        } else if (cuts == 1 && s.sums.count == 0) {
            j.missing_end += static_cast<std::uint64_t>(more);
        } else {
            j.unplaced = more;
            exact.assign(exact.size(), false);
            j.missing_start_exact = !start_open;
            j.missing_end_exact = !end_open;
        }
    } else if (steps < 0) {
        // More than the source held: breaks taken to have replaced what they
        // inserted go down, in order, to the fewest their cycle allows;
        // exact where all must. What they cannot take was added somewhere,
        // said only where both ends are clean cuts.
        long long need = -steps;
        const long long room = (s.sums.nearest - s.sums.fewest) / c;
        for (std::size_t i = 0; i < skip.size(); ++i) {
            const long long own = (skip[i] - fewest_skip(s.breaks[i], s.cycle)) / c;
            const long long take = own < need ? own : need;
            skip[i] -= take * c;
            need -= take;
            exact[i] = own == 0 || -steps == room;
        }
        if (-steps > room) {
            exact.assign(exact.size(), false);
            if (s.start.crisp && s.end.crisp)
                j.unplaced = (room + steps) * c;
        }
    }

    // A blurred end (a fade, noise) shows no cut: nothing is claimed missing
    // there, though whole cycles may have gone there.
    if (!s.start.crisp) {
        j.missing_start = 0;
        j.missing_start_exact = false;
    }
    if (!s.end.crisp) {
        j.missing_end = 0;
        j.missing_end_exact = false;
    }
    for (std::size_t i = 0; i < skip.size(); ++i) j.breaks[i] = count_of(s.breaks[i], skip[i], exact[i]);
    j.incomplete = j.missing_start > 0 || j.missing_end > 0 ||
                   (j.unplaced > 0 && s.sums.count == 0 && s.start.crisp && s.end.crisp);
    return j;
}

}  // namespace kova::analysis::detail
