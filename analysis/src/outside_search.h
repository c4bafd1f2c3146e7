#pragma once

// Outside the span: which window is tested for the pattern next, runs of
// one value (silence) taken as they lie, and the samples outside counted
// as soon as no window can reach back to them.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "decode.h"
#include "history.h"
#include "kova/analysis/channel_report.h"

namespace kova::analysis::detail {

class Outside_Search {
public:
    struct Window {
        std::uint64_t from = 0;
        std::size_t n = 0;
    };

    // Short windows find a clean pattern within a few cycles of its start,
    // whole blocks a noisy one or a tone. They are tested in the order they
    // end, whatever the samples arrived in: the next that the history up to
    // `end` holds, if any.
    std::optional<Window> next(std::uint64_t end) const;
    // Tested, and the pattern not there.
    void passed(const Window& w);

    // The run of one value the samples from the history's end on are
    // expected to continue; null when there is none.
    const Raw_Table* expected(int& phase) const;
    // `run` samples that continue the run are about to be taken.
    void take_run(const History& history, std::uint64_t run);
    // Once every window the history holds was tested: a run of one value
    // at its end, from pos on, is noted.
    void look_for_run(const History& history, std::uint64_t pos);
    // Counts what no window still to be tested can reach back to.
    void count_settled(const History& history);

    // Other material begins again at `at`, after the span was lost.
    void restart(std::uint64_t at);
    // Where the current stretch of other material began: a span found in
    // it begins no earlier.
    std::uint64_t from() const { return from_; }
    std::uint64_t next_window() const { return next_window_; }

    // A short window showed a resampler's tone at tone_at(): the block that
    // ends next decides, not a window before it.
    bool tone_seen() const { return tone_seen_; }
    std::uint64_t tone_at() const { return tone_at_; }
    void see_tone(std::uint64_t at)
    {
        tone_seen_ = true;
        tone_at_ = at;
    }
    void forget_tone() { tone_seen_ = false; }

    // What was counted outside, up to `to`; counting starts again from there.
    Outside take(const History& history, std::uint64_t to);
    // What follows the span, which ended before span_end, up to the
    // history's end.
    Outside after(const History& history, std::uint64_t span_end);
    // What lies before `to` is not counted: the pattern, or what a break
    // inserted.
    void skip(std::uint64_t to);

private:
    void count(const History& history, std::uint64_t to);

    std::uint64_t from_ = 0;
    std::uint64_t next_window_ = 0;
    std::uint64_t next_block_ = 0;
    std::uint64_t run_from_ = 0;  // where the run of one value began
    Raw_Table run_;               // its value, as a table of one
    bool tone_seen_ = false;
    std::uint64_t tone_at_ = 0;
    Outside counted_;  // since the pattern was last seen
    std::uint64_t counted_to_ = 0;
};

}  // namespace kova::analysis::detail
