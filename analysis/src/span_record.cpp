#include "span_record.h"

#include <algorithm>
#include <cmath>

#include "kova/pattern.h"
#include "kova/settings.h"

namespace kova::analysis::detail {

void Span_Record::tell(Event e) const
{
    if (!sink_)
        return;
    e.channel = channel_;
    sink_->on_event(e);
}

void Span_Record::begin(std::uint64_t at, int phase, int cycle, int repeat, bool crisp, const Outside& before)
{
    report_.present = true;
    report_.first = at;
    report_.last = at;
    report_.before = before;
    report_.repeat = repeat;
    report_.accounting.first_phase = phase;
    report_.accounting.start_crisp = crisp;
    first_cycle_ = cycle;
}

void Span_Record::begins_as_tone()
{
    report_.repeat = 0;
    report_.accounting.first_phase = 0;
    first_cycle_ = 0;
}

void Span_Record::add_dropout(std::uint64_t at, std::uint64_t foreign, long long skipped, int residue)
{
    Dropout d;
    d.position = at;
    d.foreign = foreign;
    d.skipped = skipped;
    d.residue = residue;
    d.inserted = foreign;
    ++report_.dropout_count;
    if (first_cycle_ > 0)
        breaks_.add({foreign, residue}, first_cycle_);
    if (report_.first_dropouts.size() < kKept)
        report_.first_dropouts.push_back(d);
    Event e;
    e.kind = Event::Kind::dropout;
    e.position = at;
    e.foreign = foreign;
    e.skipped = skipped;
    tell(e);
}

void Span_Record::add_stretch(const Judged& j, const Stretch_Stats& s)
{
    const Stretch& st = j.stretch;
    Channel_Report& r = report_;
    if (j.drift)
        r.resampling = j.drift;
    ++r.stretch_count;
    if (r.stretches.size() < kKept)
        r.stretches.push_back(st);
    r.inverted = r.inverted || st.inverted;
    r.gain = r.gain || st.gain;
    r.offset = r.offset || st.offset;
    r.altered = r.altered || st.altered;
    r.resampled = r.resampled || st.resampled;
    // The level named is the longest stretch's that was changed in level.
    if ((st.gain || st.offset || st.inverted) && s.length() > level_length_) {
        level_length_ = s.length();
        r.gain_factor = st.gain_factor;
        r.gain_db = 20 * std::log10(std::fabs(st.gain_factor));
        r.offset_steps = st.offset_steps;
    }
    if (!st.resampled) {
        r.differing += s.differing;
        r.nonfinite += s.nonfinite;
        r.max_difference = std::max(r.max_difference, s.max_difference);
        sum_sq_difference_ += s.sum_sq_difference;
        compared_ += s.length();
    }
}

Channel_Report Span_Record::report(const Outside& after, const Word_Model& last_words,
                                   std::uint64_t capture_end) const
{
    if (!report_.present)
        return Channel_Report{};
    Channel_Report r = report_;
    r.after = after;
    r.repeat_fits = pattern_rate(rate_) && (r.repeat == 0 || r.repeat == repetitions_per_word(rate_));
    r.duration = match_duration(r.length(), rate_);
    if (r.length() % static_cast<std::uint64_t>(rate_) == 0)
        r.whole_seconds = static_cast<long long>(r.length() / static_cast<std::uint64_t>(rate_));
    // Words at a rate they do not fit are altered; a tone says so itself.
    r.altered = r.altered || (!r.repeat_fits && r.repeat > 0);
    r.dropouts = r.dropout_count > 0;
    r.rms_difference = compared_ > 0 ? static_cast<double>(std::sqrt(sum_sq_difference_ / compared_)) : 0.0;
    auto& a = r.accounting;
    a.cycle = r.repeat > 0 && r.repeat_fits && !r.resampled && residues_known_ ? first_cycle_ : 0;
    a.last_phase = a.cycle > 0 ? last_words.phase(r.last) : 0;
    a.starts_capture = r.first == 0;
    a.ends_capture = r.last + 1 == capture_end;
    a.foreign = breaks_.foreign;
    a.skipped_nearest = breaks_.nearest;
    a.skipped_fewest = breaks_.fewest;
    judge_length(r, rate_);
    return r;
}

}  // namespace kova::analysis::detail
