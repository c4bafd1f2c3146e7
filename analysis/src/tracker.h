#pragma once

// Follows the pattern through one channel, as the samples arrive, in memory
// that does not grow with the length of the capture. Outside the span it
// searches (outside_search.h); inside it tracks one model of what the chain
// did to the words, stretch by stretch; where the model breaks it finds
// where and how the pattern resumes (break_search.h). What the span held is
// written down as it is found (span_record.h), and that is the report.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "band.h"
#include "block_sizes.h"
#include "break_search.h"
#include "decode.h"
#include "history.h"
#include "kova/analysis/channel_report.h"
#include "kova/analysis/events.h"
#include "model_fit.h"
#include "outside_search.h"
#include "span_record.h"
#include "stretch_stats.h"
#include "tone.h"
#include "tone_edges.h"

namespace kova::analysis::detail {

class Tracker {
public:
    Tracker(long rate, const Sample_Format& format, int channel, Event_Sink* sink);

    // The raw table the next samples are expected to hold, and the phase
    // the next sample has in it; null when there is none. A capture whose
    // channels all hold their tables is compared as it lies.
    const Raw_Table* expected(int& phase) const;
    // The next count samples held the table expected() gave.
    void take_expected(std::uint64_t count);
    // The next count samples, as they lie.
    void feed(Raw_View raw, std::size_t count);

    Channel_Report finish();
    // The report as it would stand if the capture ended here.
    Channel_Report so_far() const;

    static constexpr std::size_t kBlock = detail::kBlock;

private:
    enum class State { outside, tracking, searching };

    void run();
    bool step_outside();
    bool step_tracking();
    bool step_searching();

    // Whether the window holds the pattern: the span begins, or resumes,
    // where it does.
    bool lock_at(std::uint64_t from, std::size_t n);
    bool lock_tone(std::uint64_t from, std::size_t n, Tone_Need need);
    void begin_span(std::uint64_t at);
    void settle(const Break_Search::Found& found);
    // From the old model, last held before stop, to model_ from start.
    void resume(const Model& old, std::uint64_t stop, std::uint64_t start);
    void lose(std::uint64_t at);

    // The model tracked: its blocks judged, and the samples it holds taken
    // into the stretch.
    bool judge_block(std::uint64_t from, std::size_t n);
    bool judge_tone_block(std::uint64_t from, std::size_t n);
    bool becomes_tone(std::uint64_t from, std::size_t n, Tone_Need need);
    void start_tone(const Tone_Fit& fit, std::uint64_t from, std::size_t n);
    void take_table(std::uint64_t count, int phase);
    void accept(std::uint64_t from, std::uint64_t to);
    void accept_changed(std::uint64_t from, std::uint64_t to);
    // The samples up to `end` followed as a tone.
    void take_tone(std::uint64_t end);
    void change_level(std::uint64_t at);
    void close_stretch();
    void finish_tracking();

    Model_Fit fit() const { return {history_, decoder_}; }
    Tone_Edges edges() { return {history_, rate_, scratch_.data()}; }
    std::uint64_t gap_start() const { return record_.last() + 1; }
    Event level_event(Event::Kind kind, std::uint64_t at) const;

    long rate_;
    Decoder decoder_;
    History history_;
    std::uint64_t pos_ = 0;  // next sample to judge
    State state_ = State::outside;
    Model model_;
    std::optional<Tone_Tracker> tone_;
    Stretch_Stats stretch_;
    Outside_Search outside_;
    Break_Search break_;
    Span_Record record_;
    std::vector<double> scratch_;
};

}  // namespace kova::analysis::detail
