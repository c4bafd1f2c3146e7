// The span as the tracker builds it: where it begins, what happens between
// one model and the next (a dropout, a level change, samples changed in
// place), its stretches, where the pattern is lost, and the report.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "kova/pattern.h"
#include "kova/settings.h"
#include "stretch_judge.h"
#include "tracker.h"

namespace kova::analysis::detail {

// ---- the span

void Tracker::begin_span(std::uint64_t at)
{
    // Samples that can be told apart one by one mark their ends exactly.
    start_crisp_ = model_.deterministic || model_.clean;
    if (!model_.tone) {
        const std::uint64_t limit = std::max(outside_from_, reach_back(at));
        std::uint64_t s = at;
        while (s > limit && at - s < kWindow && near_level(model_, s - 1)) --s;
        if (!pattern_beside(s, at, s > kWindow ? std::max(limit, s - kWindow) : limit, s))
            s = at;
        else
            start_crisp_ = false;
        leading_changed_ = at - s;
        at = s;
    }
    count_outside(at);
    before_ = gap_;
    gap_ = Outside{};
    span_ = true;
    first_ = at;
    last_ = at;
    first_phase_ = model_.tone ? 0 : model_.words.phase(at);
    first_cycle_ = model_.tone ? 0 : model_.words.cycle;
    repeat_ = model_.tone ? 0 : model_.words.repeat;
    begin_stretch(at);
    if (leading_changed_ > 0)
        accept_changed(at, at + leading_changed_);
    Event e;
    e.kind = Event::Kind::locked;
    e.position = at;
    e.repeat = model_.words.repeat;
    e.exact =
        !model_.tone && model_.deterministic &&
        std::all_of(model_.table_exact, model_.table_exact + model_.words.cycle, [](bool b) { return b; });
    e.gain_factor = model_.words.gain;
    emit(e);
}

// Whether samples [from, to) beside the span, each near its level, are the
// pattern changed (a fade, a filter's ringing, a sample changed at the very
// end) rather than other material that landed there: other material at
// the pattern's level does now and then, but hardly for two whole cycles,
// nor where none of it next to them [other_from, other_to) does.
bool Tracker::pattern_beside(std::uint64_t from, std::uint64_t to, std::uint64_t other_from,
                             std::uint64_t other_to) const
{
    if (to == from)
        return false;
    if (to - from >= 2 * static_cast<std::uint64_t>(model_.words.cycle))
        return true;
    for (std::uint64_t i = other_from; i < other_to; ++i)
        if (near_level(model_, i))
            return false;
    return true;
}

std::uint64_t Tracker::gap_start() const
{
    return last_ + 1;
}

void Tracker::resume(std::uint64_t stop, std::uint64_t start)
{
    count_outside(stop);  // the gap, if any, is foreign now
    gap_ = Outside{};
    const int cycle = model_.words.cycle;
    const std::uint64_t foreign = start - stop;
    // After a tone, or at another repeat, the cycle says nothing of what
    // was lost: only that something broke.
    const bool same_cycle = !old_.tone && cycle == old_.words.cycle;
    residues_known_ = residues_known_ && same_cycle;
    const int lost = same_cycle ? wrap(model_.words.phase(start) - old_.words.phase(stop), cycle) : 0;
    const bool same = same_cycle && same_levels(old_, model_);
    if (same && foreign == 0 && lost == 0)
        return;  // nothing happened after all
    const auto foreign_mod = static_cast<int>(foreign % static_cast<std::uint64_t>(cycle));
    const bool in_step = same_cycle && lost == foreign_mod;
    if (in_step && foreign > 0 &&
        ((same && foreign <= static_cast<std::uint64_t>(cycle)) || carries_pattern(stop, start))) {
        // Changed in place where the cycle goes on (a glitch, or the levels
        // moving between two models: a fade): altered, not a dropout.
        accept_changed(stop, start);
        if (!same)
            change_level(start);
        return;
    }
    if (foreign > 0 || lost != 0) {
        // Skipped, modulo the cycle: as many as were foreign if that fits
        // (replaced in place), else the fewest either way. What was lost is
        // the length's to say.
        const long long skipped =
            lost == foreign_mod ? static_cast<long long>(foreign) : (lost > cycle / 2 ? lost - cycle : lost);
        add_dropout(stop, foreign, skipped, lost);
    }
    if (!same)
        change_level(start);
}

void Tracker::add_dropout(std::uint64_t at, std::uint64_t foreign, long long skipped, int residue)
{
    Dropout d;
    d.position = at;
    d.foreign = foreign;
    d.skipped = skipped;
    d.residue = residue;
    d.inserted = foreign;
    ++dropout_count_;
    if (first_cycle_ > 0)
        break_sums_.add({foreign, residue}, first_cycle_);
    if (dropouts_.size() < kKept)
        dropouts_.push_back(d);
    Event e;
    e.kind = Event::Kind::dropout;
    e.position = at;
    e.foreign = foreign;
    e.skipped = skipped;
    emit(e);
}

void Tracker::change_level(std::uint64_t at)
{
    close_stretch();
    begin_stretch(at);
    Event e;
    e.kind = Event::Kind::level_change;
    e.position = at;
    e.repeat = model_.words.repeat;
    e.exact = model_.deterministic && std::all_of(model_.table_exact, model_.table_exact + model_.words.cycle,
                                                  [](bool b) { return b; });
    e.gain_factor = model_.words.gain;
    emit(e);
}

// Whether samples [from, to) still carry the cycle at the phase the old
// model gives them: the pattern at other levels, not something else.
bool Tracker::carries_pattern(std::uint64_t from, std::uint64_t to) const
{
    const int cycle = old_.words.cycle;
    if (to - from < static_cast<std::uint64_t>(2 * cycle) || to - from > History::kSize / 2)
        return false;
    const auto n = static_cast<std::size_t>(to - from);
    std::vector<double> x(n);
    history_.copy(from, n, x.data());
    Fold f(cycle);
    f.add(x.data(), n, old_.words.phase(from));
    double levels[12], mean = 0.0;
    for (int p = 0; p < cycle; ++p) {
        levels[p] = f.mean(p);
        mean += levels[p] / cycle;
    }
    double aw = 0.0, aa = 0.0, ww = 0.0;
    for (int p = 0; p < cycle; ++p) {
        const double a = levels[p] - mean, w = word_swing(p, old_.words.repeat);
        aw += a * w;
        aa += a * a;
        ww += w * w;
    }
    if (aa <= 0.0)
        return false;
    // In step with the words, and well clear of the spread around them.
    const double swing = std::sqrt(aa / cycle);
    const double noise = f.spread() / std::sqrt(f.total / cycle);
    return aw / std::sqrt(aa * ww) >= 0.8 * (old_.words.gain < 0 ? -1 : 1) && swing > 4 * noise &&
           std::fabs(aw / ww) * 1024 >= 0.5 * std::max(decoder_.quantum(), 1.0);
}

bool Tracker::same_levels(const Model& a, const Model& b) const
{
    if (a.deterministic && b.deterministic)
        return a.table == b.table;
    // Within the noise of both levels' means, and the capture's rounding.
    auto noise = [](const Word_Model& w) {
        return w.samples > w.cycle ? w.spread / std::sqrt(w.samples / w.cycle) : w.spread;
    };
    const double tol = std::max(decoder_.quantum(), 1.0) + 4 * std::max(noise(a.words), noise(b.words));
    for (int p = 0; p < a.words.cycle; ++p)
        if (std::fabs(a.words.level[p] - b.words.level[p]) > tol)
            return false;
    return true;
}

void Tracker::accept(std::uint64_t from, std::uint64_t to)
{
    while (from < to) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(to - from, kBlock));
        stretch_.add_samples(history_.view(from, n, scratch_.data()), n, model_.words.phase(from),
                             model_.words.cycle, decoder_);
        from += n;
        last_ = from - 1;
    }
}

void Tracker::accept_changed(std::uint64_t from, std::uint64_t to)
{
    for (std::uint64_t i = from; i < to; ++i)
        stretch_.add_changed(history_.value(i), model_.words.phase(i), decoder_);
    if (to > from)
        last_ = to - 1;
}

void Tracker::begin_stretch(std::uint64_t at)
{
    stretch_.start(at, model_.words.repeat);
}

double Tracker::grid() const
{
    if (!decoder_.is_float())
        return std::max(decoder_.quantum(), 1.0);
    // A float keeps 24 significant bits of the value itself.
    return std::max(1.0, fine_grid());
}

// Finer than a step: the coarsest power of two the stretch's values all lie
// on (a chain that rounded to half steps), down to the capture's resolution:
// a float's, at the largest value, that of a 32-bit float where a 64-bit
// one holds only such values.
double Tracker::fine_grid() const
{
    bool single = true;
    for (int k = 0; k < 3; ++k)
        single = single && static_cast<float>(stretch_.min[k]) == stretch_.min[k] &&
                 static_cast<float>(stretch_.max[k]) == stretch_.max[k];
    const double finest =
        decoder_.is_float() ? std::ldexp(stretch_.peak, single ? -22 : -51) : decoder_.quantum();
    double g = 1.0;
    for (; g / 2 >= finest; g /= 2) {
        bool on = true;
        for (int k = 0; k < 3 && on; ++k)
            for (const double v : {stretch_.min[k] / g, stretch_.max[k] / g}) on = on && v == std::floor(v);
        if (on)
            return g;
    }
    return std::min(g, finest);
}

void Tracker::close_stretch()
{
    stretch_.flush_tallies();
    const Stretch_Stats& s = stretch_;
    if (s.length() == 0)
        return;
    Judged j;
    if (model_.tone && tone_) {
        j.stretch.first = s.first;
        j.stretch.last = s.end - 1;
        j.stretch.resampled = true;
        j.drift = resampling_of(tone_->fit().family_hz, tone_->fit().family_rate, tone_->drift_ppm(), rate_,
                                tone_->source(rate_));
    } else {
        j = judge_stretch(s, grid(), fine_grid(), rate_);
    }
    const Stretch& st = j.stretch;
    if (j.drift)
        resampling_ = j.drift;
    ++stretch_count_;
    if (stretches_.size() < kKept)
        stretches_.push_back(st);
    any_inverted_ = any_inverted_ || st.inverted;
    any_gain_ = any_gain_ || st.gain;
    any_offset_ = any_offset_ || st.offset;
    any_altered_ = any_altered_ || st.altered;
    any_resampled_ = any_resampled_ || st.resampled;
    if ((st.gain || st.offset || st.inverted) && s.length() > level_stretch_length_) {
        level_stretch_length_ = s.length();
        level_stretch_ = st;
    }
    if (!st.resampled) {
        totals_.differing += s.differing;
        totals_.nonfinite += s.nonfinite;
        totals_.max_difference = std::max(totals_.max_difference, s.max_difference);
        totals_.sum_sq_difference += s.sum_sq_difference;
        totals_.end += s.length();
    }
    // The next stretch begins where this one ended (s is this one: read first).
    const std::uint64_t end = s.end;
    const int repeat = s.repeat;
    stretch_.start(end, repeat);
}

void Tracker::lose(std::uint64_t at)
{
    if (at > break_at_ && !model_.tone)
        accept(break_at_, at);
    if (!model_.tone) {
        // What follows may still be the pattern, changed (a resampler's or
        // a fade's last samples): nearer its own level than the next word's.
        const std::uint64_t from = last_ + 1;
        std::uint64_t end = from;
        while (end < history_.end() && end - from < kWindow && near_level(model_, end)) ++end;
        if (pattern_beside(from, end, end, std::min(history_.end(), end + kWindow))) {
            accept_changed(from, end);
            end_crisp_ = false;
        }
    }
    close_stretch();
    gap_ = Outside{};
    outside_counted_ = last_ + 1;
    outside_from_ = last_ + 1;
    next_window_ = last_ + 1;
    next_block_ = last_ + 1;
    pos_ = std::max(pos_, last_ + 1);
    state_ = State::outside;
    Event e;
    e.kind = Event::Kind::lost;
    e.position = last_ + 1;
    emit(e);
}

// What no window yet to be tested can reach back to is outside for good:
// counted now, while the history still holds it.
void Tracker::count_settled_outside()
{
    count_outside(reach_back(std::min(next_window_, next_block_)));
}

void Tracker::count_outside(std::uint64_t to)
{
    // Counted as soon as no window can reach it, so always still held: a
    // run through a table as its table, the rest in the ring.
    auto count = [this](double v, std::uint64_t times) {
        gap_.samples += times;
        if (v != 0.0)
            gap_.silent = false;
        gap_.peak = v == v ? std::max(gap_.peak, std::fabs(v)) : INFINITY;
    };
    for (std::uint64_t i = outside_counted_; i < to;) {
        std::uint64_t run_end = 0;
        const double* values = nullptr;
        int period = 0;
        if (history_.in_table_run(i, run_end, values, period)) {
            // A run through a table (silence) counts in one go: every value
            // of its cycle is there once the run is a cycle long.
            const std::uint64_t n = std::min(to, run_end) - i;
            for (int p = 0; p < period; ++p) count(values[p], 0);
            gap_.samples += n;
            i += n;
        } else {
            count(history_.value(i), 1);
            ++i;
        }
    }
    outside_counted_ = std::max(outside_counted_, to);
}

void Tracker::emit(Event e) const
{
    if (!sink_)
        return;
    e.channel = channel_;
    sink_->on_event(e);
}

// ---- the end

Channel_Report Tracker::so_far() const
{
    // A copy is finished in place of this one, and tells nobody.
    Tracker copy = *this;
    copy.sink_ = nullptr;
    return copy.finish();
}

Channel_Report Tracker::finish()
{
    // What is left of the last block.
    if (state_ == State::tracking && model_.tone && pos_ < history_.end()) {
        // What is left: blocks, then the rest to the sample.
        while (state_ == State::tracking && history_.end() - pos_ >= kBlock + kToneChunk)
            judge_tone_block(pos_, kBlock);
        const auto n = static_cast<std::size_t>(history_.end() - pos_);
        if (state_ == State::tracking && n >= kToneChunk) {
            judge_tone_block(pos_, n);
        } else if (state_ == State::tracking && n > 0) {
            const std::uint64_t end = tone_end(tone_->fit(), pos_, pos_);
            stretch_.end = end;
            if (end > pos_)
                last_ = end - 1;
            pos_ = end;
        }
    }
    if (state_ == State::tracking && !model_.deterministic && !model_.tone && pos_ < history_.end()) {
        const auto n = static_cast<std::size_t>(history_.end() - pos_);
        if (n >= static_cast<std::size_t>(4 * model_.words.cycle))
            judge_block(pos_, n);
        if (state_ == State::tracking && pos_ < history_.end()) {
            accept(pos_, history_.end());
            pos_ = history_.end();
        }
    }
    if (state_ == State::searching) {
        // Too little left to tell whether the pattern came back.
        lose(last_fit(old_, break_at_, history_.end()));
    }
    if (state_ == State::outside && !span_ &&
        history_.end() - next_window_ >= static_cast<std::uint64_t>(4 * 12)) {
        // A short capture: one last window of what is left, whatever the
        // windows before it showed.
        tone_seen_ = false;
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(history_.end() - next_window_, 2 * kBlock));
        if (lock_at(history_.end() - n, n) && state_ == State::tracking && !model_.deterministic &&
            pos_ < history_.end())
            accept(pos_, history_.end());
        if (state_ == State::tracking && model_.deterministic)
            step_tracking();
        if (state_ == State::searching)
            lose(last_fit(old_, break_at_, history_.end()));
    }
    if (state_ == State::tracking) {
        end_crisp_ = end_crisp_ && (model_.deterministic || model_.clean);
        close_stretch();
    }

    Channel_Report r;
    if (!span_)
        return r;
    outside_counted_ = std::max(outside_counted_, last_ + 1);
    count_outside(history_.end());
    r.after = gap_;
    r.before = before_;
    r.present = true;
    r.first = first_;
    r.last = last_;
    r.repeat = repeat_;
    r.repeat_fits = pattern_rate(rate_) && (repeat_ == 0 || repeat_ == repetitions_per_word(rate_));
    r.duration = match_duration(r.length(), rate_);
    if (r.length() % static_cast<std::uint64_t>(rate_) == 0)
        r.whole_seconds = static_cast<long long>(r.length() / static_cast<std::uint64_t>(rate_));
    r.inverted = any_inverted_;
    r.gain = any_gain_;
    r.offset = any_offset_;
    // Words at a rate they do not fit are altered; a tone says so itself.
    r.altered = any_altered_ || (!r.repeat_fits && repeat_ > 0);
    r.resampled = any_resampled_;
    r.resampling = resampling_;
    if (level_stretch_length_ > 0) {
        r.gain_factor = level_stretch_.gain_factor;
        r.gain_db = 20 * std::log10(std::fabs(level_stretch_.gain_factor));
        r.offset_steps = level_stretch_.offset_steps;
    }
    r.dropout_count = dropout_count_;
    r.first_dropouts = dropouts_;
    r.dropouts = dropout_count_ > 0;
    r.differing = totals_.differing;
    r.nonfinite = totals_.nonfinite;
    r.max_difference = totals_.max_difference;
    r.rms_difference =
        totals_.end > 0 ? static_cast<double>(std::sqrt(totals_.sum_sq_difference / totals_.end)) : 0.0;
    r.stretch_count = stretch_count_;
    r.stretches = stretches_;
    r.accounting.cycle =
        repeat_ > 0 && r.repeat_fits && !any_resampled_ && residues_known_ ? first_cycle_ : 0;
    r.accounting.first_phase = first_phase_;
    r.accounting.last_phase = r.accounting.cycle > 0 ? model_.words.phase(last_) : 0;
    r.accounting.start_crisp = start_crisp_;
    r.accounting.end_crisp = end_crisp_;
    r.accounting.starts_capture = first_ == 0;
    r.accounting.ends_capture = last_ + 1 == history_.end();
    r.accounting.foreign = break_sums_.foreign;
    r.accounting.skipped_nearest = break_sums_.nearest;
    r.accounting.skipped_fewest = break_sums_.fewest;
    judge_length(r, rate_);
    return r;
}

}  // namespace kova::analysis::detail
