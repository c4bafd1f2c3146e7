#pragma once

// The span as it is found: where it begins and ends, each stretch as it is
// judged, each break, and what lies before it; told to the event sink as it
// is written down, and the channel's report at the end.

#include <cstddef>
#include <cstdint>

#include "kova/analysis/channel_report.h"
#include "kova/analysis/events.h"
#include "length_model.h"
#include "stretch_judge.h"
#include "stretch_stats.h"
#include "word_model.h"

namespace kova::analysis::detail {

class Span_Record {
public:
    // Dropouts and stretches kept in the report; the rest are only counted.
    static constexpr std::size_t kKept = 8;

    Span_Record(long rate, int channel, Event_Sink* sink) : rate_(rate), channel_(channel), sink_(sink) {}

    // Tells nobody from here on.
    void quiet() { sink_ = nullptr; }
    void tell(Event e) const;

    bool open() const { return report_.present; }
    std::uint64_t first() const { return report_.first; }
    std::uint64_t last() const { return report_.last; }
    // The last sample of the pattern taken so far.
    void extend_to(std::uint64_t last) { report_.last = last; }

    // The span begins at `at`, at this phase of the words' cycle (all 0
    // where it begins as a tone); crisp where the pattern's first sample
    // can be told from what came before.
    void begin(std::uint64_t at, int phase, int cycle, int repeat, bool crisp, const Outside& before);
    // The span began as a tone after all: its phase says nothing.
    void begins_as_tone();
    void set_end_crisp(bool crisp) { report_.accounting.end_crisp = crisp; }
    bool end_crisp() const { return report_.accounting.end_crisp; }

    // The cycle broke at `at`: `foreign` samples that are not the pattern,
    // `skipped` pattern samples (residue: modulo the cycle).
    void add_dropout(std::uint64_t at, std::uint64_t foreign, long long skipped, int residue);
    // A break whose residue is not one of the span's cycle: the phases tell
    // nothing of the span's length.
    void residues_unknown() { residues_known_ = false; }
    void add_stretch(const Judged& judged, const Stretch_Stats& stats);

    // The report, with what followed the span, the words' model at its end,
    // and the capture's length.
    Channel_Report report(const Outside& after, const Word_Model& last_words,
                          std::uint64_t capture_end) const;

private:
    long rate_;
    int channel_;
    Event_Sink* sink_;
    // Filled in as the span is found; what depends on all of it is worked
    // out in report().
    Channel_Report report_;
    int first_cycle_ = 3;
    bool residues_known_ = true;
    Break_Sums breaks_;
    std::uint64_t level_length_ = 0;  // of the longest stretch changed in level
    // Against the words over all stretches not resampled.
    long double sum_sq_difference_ = 0.0;
    std::uint64_t compared_ = 0;
};

}  // namespace kova::analysis::detail
