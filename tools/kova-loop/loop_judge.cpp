#include "loop_judge.h"

#include <algorithm>

#include "kova/report/run.h"

namespace kova::loop {

namespace {
// How long to wait for the run after everything was sent before saying that
// nothing came back: longer than any loop's latency.
constexpr long kPatienceSeconds = 3;
}  // namespace

Loop_Judge::Loop_Judge(const Loop_Schedule& schedule, int inputs)
    : schedule_(schedule),
      inputs_(inputs),
      run_(schedule.rate, inputs, report::kHostFloat, this),
      cut_(schedule.end() + static_cast<std::uint64_t>(schedule.rate * kPatienceSeconds)),
      margin_((schedule.slot - schedule.burst) / 2),
      map_(static_cast<std::size_t>(inputs))
{
}

void Loop_Judge::on_event(const analysis::Event& event)
{
    if (event.kind != analysis::Event::Kind::locked || found_)
        return;
    // The run ends a run's length later; halfway into the silence after it,
    // before any output's turn can arrive, it is judged.
    found_ = event.position;
    cut_ = event.position + schedule_.run + schedule_.gap / 2;
}

void Loop_Judge::take(const float* frames, std::size_t count, std::uint64_t at)
{
    const auto c = static_cast<std::size_t>(inputs_);
    if (!run_ended_) {
        // The first lock may move the cut nearer while a block is fed, but
        // never within a second of what has been fed.
        std::size_t done = 0;
        while (done < count && at + done < cut_) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count - done, cut_ - at - done));
            run_.feed(frames + done * c, n);
            done += n;
        }
        if (at + done < cut_)
            return;
        end_run();
        frames += done * c;
        count -= done;
        at += done;
    }
    if (!done())
        take_window(frames, count, at);
}

void Loop_Judge::end_run()
{
    run_ended_ = true;
    run_frames_ = cut_;
    run_reports_ = run_.finish();
    // Placed from where the run ended, which has come through the chain just
    // before the map, on the input it reached last.
    std::uint64_t end = 0;
    for (const auto& r : run_reports_)
        if (r.present)
            end = std::max(end, r.last + 1);
    if (end == 0) {
        // Nothing came back (a lock the report did not keep is nothing).
        done_.store(true, std::memory_order_release);
        return;
    }
    windows_at_ = end + schedule_.gap - margin_;
    if (schedule_.full) {
        // The full signal names each input's source: the channel it carries,
        // or those in its mix.
        for (std::size_t i = 0; i < run_reports_.size(); ++i) {
            const auto& r = run_reports_[i];
            if (!r.present || !r.full || !r.full->positioned)
                continue;
            if (r.full->source_channel > 0)
                map_[i].push_back(r.full->source_channel - 1);
            for (const auto& w : r.full->mix) map_[i].push_back(w.channel - 1);
        }
        done_.store(true, std::memory_order_release);
    }
}

void Loop_Judge::take_window(const float* frames, std::size_t count, std::uint64_t at)
{
    const auto c = static_cast<std::size_t>(inputs_);
    const std::uint64_t length = schedule_.burst + 2 * margin_;
    while (count > 0 && window_ < schedule_.outputs) {
        const std::uint64_t from = windows_at_ + static_cast<std::uint64_t>(window_) * schedule_.slot;
        const std::uint64_t to = from + length;
        if (at + count <= from)
            return;
        if (at >= to && !window_analyser_) {
            // Gone by before the run had ended on every input: a turn that
            // cannot be looked for.
            ++window_;
            continue;
        }
        if (at < from) {
            const auto skip = static_cast<std::size_t>(from - at);
            frames += skip * c;
            count -= skip;
            at = from;
        }
        if (!window_analyser_)
            window_analyser_ =
                std::make_unique<analysis::Capture_Analyser>(schedule_.rate, inputs_, report::kHostFloat);
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, to - at));
        window_analyser_->feed(frames, n);
        frames += n * c;
        count -= n;
        at += n;
        if (at < to)
            return;
        const auto reports = window_analyser_->finish();
        for (std::size_t i = 0; i < reports.size(); ++i)
            if (reports[i].present)
                map_[i].push_back(window_);
        window_analyser_.reset();
        ++window_;
    }
    if (window_ == schedule_.outputs)
        done_.store(true, std::memory_order_release);
}

std::optional<std::vector<std::vector<int>>> Loop_Judge::map() const
{
    // Nothing came back at all (no window placed), or every turn was looked for.
    if (!done())
        return std::nullopt;
    return map_;
}

std::vector<analysis::Channel_Report> Loop_Judge::run_reports()
{
    if (!run_ended_) {
        // Stopped early: the run as far as it was captured.
        run_ended_ = true;
        run_frames_ = run_.frames();
        run_reports_ = run_.finish();
    }
    return run_reports_;
}

}  // namespace kova::loop
