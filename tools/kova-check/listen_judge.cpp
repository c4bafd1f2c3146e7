#include "listen_judge.h"

#include <cstdlib>

#include "kova/report/run.h"

namespace kova::check {

Listen_Judge::Listen_Judge(long rate, int channels, std::optional<int> expected_seconds, Wav_Writer* save)
    : rate_(rate),
      expected_seconds_(expected_seconds),
      save_(save),
      analyser_(rate, channels, report::kHostFloat, this),
      next_report_(static_cast<std::uint64_t>(rate))
{
}

void Listen_Judge::take(const float* frames, std::size_t count, std::uint64_t at)
{
    if (save_) {
        if (auto written = save_->write(frames, count); !written) {
            std::lock_guard<std::mutex> lock(mutex_);
            save_error_ = written.error();
            save_ = nullptr;
        }
    }
    analyser_.feed(frames, count);
    const std::uint64_t now = at + count;
    if (now < next_report_)
        return;
    // Once per second of audio: the cost of a report stays a small part of
    // the analysis's own, and the status line needs no more.
    next_report_ = now + static_cast<std::uint64_t>(rate_);
    auto reports = analyser_.so_far();
    const bool over = ended(reports, now);
    std::lock_guard<std::mutex> lock(mutex_);
    so_far_ = std::move(reports);
    so_far_frames_ = now;
    ended_ = ended_ || over;
}

void Listen_Judge::on_event(const analysis::Event& event)
{
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
}

Listen_Judge::News Listen_Judge::news()
{
    std::lock_guard<std::mutex> lock(mutex_);
    News n;
    n.events.swap(events_);
    n.so_far = std::move(so_far_);
    so_far_.reset();
    n.frames = so_far_frames_;
    return n;
}

bool Listen_Judge::pattern_ended() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
}

std::optional<cli::Error> Listen_Judge::save_error() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return save_error_;
}

std::vector<analysis::Channel_Report> Listen_Judge::finish()
{
    return analyser_.finish();
}

bool Listen_Judge::ended(const std::vector<analysis::Channel_Report>& reports, std::uint64_t frames) const
{
    bool any = false;
    for (const auto& r : reports) {
        if (!r.present)
            continue;
        any = true;
        // A second without the pattern: longer than any break the analysis
        // would still join to the span.
        if (frames - (r.last + 1) < static_cast<std::uint64_t>(rate_))
            return false;
        // Within 1 % of a whole run: one that lost a little at its ends has
        // ended all the same, and is reported as such; a player stopped
        // half-way may yet go on.
        // The full signal says how long its file is.
        const long long seconds = expected_seconds_                  ? *expected_seconds_
                                  : r.full && r.full->source_seconds ? *r.full->source_seconds
                                                                     : r.duration.nearest_seconds;
        const long long expected = seconds * rate_;
        if (std::llabs(static_cast<long long>(r.length()) - expected) * 100 > expected)
            return false;
    }
    return any;
}

}  // namespace kova::check
