#include "break_search.h"

#include <algorithm>

#include "block_sizes.h"

namespace kova::analysis::detail {
namespace {

// After a break, how long to look for the pattern before calling it lost.
constexpr std::size_t kGiveUp = 2 * kBlock;

}  // namespace

void Break_Search::start(const Model& old, std::uint64_t at, std::uint64_t first_window)
{
    old_ = old;
    at_ = at;
    next_ = first_window;
}

std::optional<Break_Search::Found> Break_Search::look(const History& history, const Model_Fit& fit,
                                                      double quantum, double* scratch)
{
    const bool precise = old_.deterministic || old_.clean;
    const std::size_t window = precise ? kWindow : kBlock;
    // Windows within a fixed reach of the break, so that where the search
    // gives up does not depend on how the samples arrived.
    const std::uint64_t reach = std::min(history.end(), at_ + kGiveUp);
    while (next_ + window <= reach) {
        const std::uint64_t t = next_;
        Model resumed;
        if (fit.resumes(old_, t, window, resumed))
            return Found{resumed, t, window};
        // A few foreign samples at the window's start (silence inserted)
        // would otherwise be taken into a noisy model found across them:
        // the old one resuming within the window comes first.
        if (precise)
            for (std::uint64_t s = t + 1; s + kWindow / 4 <= t + window; ++s)
                if (fit.resumes(old_, s, static_cast<std::size_t>(t + window - s), resumed))
                    return Found{resumed, s, static_cast<std::size_t>(t + window - s)};
        history.copy(t, window, scratch);
        if (const auto words = find_words(scratch, window, t, quantum))
            return Found{fit.make(*words, t, window), t, window};
        next_ += precise ? window : window / 2;
    }
    return std::nullopt;
}

bool Break_Search::given_up(std::uint64_t end) const
{
    return end - at_ >= kGiveUp;
}

void Break_Search::meet(const Model_Fit& fit, const Found& found, std::uint64_t& stop,
                        std::uint64_t& start) const
{
    start = fit.refine_back(found.model, found.from, at_);
    stop = std::min(fit.last_fit(old_, at_, start), start);
}

Join join(const Model& old, const Model& now, std::uint64_t stop, std::uint64_t start, const Model_Fit& fit)
{
    Join j;
    const int cycle = now.words.cycle;
    j.foreign = start - stop;
    // After a tone, or at another repeat, the cycle says nothing of what
    // was lost: only that something broke.
    j.phases_tell = !old.tone && cycle == old.words.cycle;
    const int lost = j.phases_tell ? wrap(now.words.phase(start) - old.words.phase(stop), cycle) : 0;
    j.same_levels = j.phases_tell && fit.same_levels(old, now);
    const auto foreign_mod = static_cast<int>(j.foreign % static_cast<std::uint64_t>(cycle));
    const bool in_step = j.phases_tell && lost == foreign_mod;
    if (in_step && j.foreign > 0 &&
        ((j.same_levels && j.foreign <= static_cast<std::uint64_t>(cycle)) ||
         fit.carries(old, stop, start))) {
        j.changed = true;
        return j;
    }
    if (j.foreign > 0 || lost != 0) {
        // Skipped, modulo the cycle: as many as were foreign if that fits
        // (replaced in place), else the fewest either way. What was lost is
        // the length's to say.
        j.dropout = true;
        j.skipped = lost == foreign_mod ? static_cast<long long>(j.foreign)
                                        : (lost > cycle / 2 ? lost - cycle : lost);
        j.residue = lost;
    }
    return j;
}

}  // namespace kova::analysis::detail
