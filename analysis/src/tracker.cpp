#include "tracker.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "kova/pattern.h"
#include "phase_line.h"
#include "stretch_judge.h"

namespace kova::analysis::detail {
namespace {

// A block may change the fundamental's size by this much (a fade, a slow
// gain) and turn it this far beyond what the last blocks did (a clock that
// drifts) before it counts as a change: a whole sample's shift turns it by
// at least 30 degrees, a change of level by far more than 5 %.
constexpr double kSizeDrift = 0.05;
constexpr double kTurnDrift = 0.3;

// e^{-2 pi i p / cycle} for the three cycles, worked out once.
struct Twiddles {
    std::complex<double> t[13][12];
    Twiddles()
    {
        for (const int cycle : {3, 6, 12})
            for (int p = 0; p < cycle; ++p) t[cycle][p] = std::polar(1.0, -2 * kPi * p / cycle);
    }
};

std::complex<double> fundamental(const double* levels, int cycle)
{
    static const Twiddles twiddles;
    std::complex<double> h;
    for (int p = 0; p < cycle; ++p) h += levels[p] * twiddles.t[cycle][p];
    return h;
}

std::complex<double> words_fundamental(int cycle)
{
    static const auto of = [](int c) {
        double words[12];
        for (int p = 0; p < c; ++p) words[p] = kPatternWords[p / (c / 3)];
        return fundamental(words, c);
    };
    static const std::complex<double> h[3] = {of(3), of(6), of(12)};
    return h[cycle == 3 ? 0 : cycle == 6 ? 1 : 2];
}

}  // namespace

Tracker::Tracker(long rate, const Sample_Format& format, int channel, Event_Sink* sink)
    : rate_(rate),
      decoder_(format),
      history_(format),
      record_(rate, channel, sink),
      scratch_(2 * kBlock + kWindow)
{
}

// ---- input

const Raw_Table* Tracker::expected(int& phase) const
{
    if (pos_ != history_.end())
        return nullptr;
    if (state_ == State::tracking && model_.deterministic) {
        phase = model_.words.phase(history_.end());
        return &model_.table;
    }
    return state_ == State::outside ? outside_.expected(phase) : nullptr;
}

void Tracker::take_expected(std::uint64_t count)
{
    int phase = 0;
    const Raw_Table* t = expected(phase);
    if (!t || count == 0)
        return;
    if (state_ == State::outside)
        outside_.take_run(history_, count);
    if (state_ == State::tracking)
        take_table(count, phase);
    history_.append_table(count, *t, phase);
    pos_ = history_.end();
    if (state_ == State::outside)
        outside_.count_settled(history_);
}

void Tracker::feed(Raw_View raw, std::size_t count)
{
    while (count > 0) {
        // No more than a block at a time, judged before the next comes.
        const std::size_t n = history_.append(raw, std::min(count, kBlock));
        raw.data += n * raw.stride;
        count -= n;
        run();
    }
}

void Tracker::run()
{
    for (;;) {
        bool progressed = false;
        switch (state_) {
            case State::outside:
                progressed = step_outside();
                break;
            case State::tracking:
                progressed = step_tracking();
                break;
            case State::searching:
                progressed = step_searching();
                break;
        }
        if (!progressed)
            return;
    }
}

// ---- the states

bool Tracker::step_outside()
{
    if (pos_ == history_.end())
        return false;
    // The first window that holds the pattern starts the span.
    while (const auto w = outside_.next(history_.end())) {
        if (lock_at(w->from, w->n))
            return true;
        outside_.passed(*w);
    }
    // Runs of one value (silence) are then compared as they lie.
    outside_.look_for_run(history_, pos_);
    pos_ = history_.end();
    return false;
}

bool Tracker::step_tracking()
{
    if (pos_ == history_.end())
        return false;
    if (model_.deterministic) {
        // The ring ends somewhere: compare up to there at a time.
        auto n = static_cast<std::size_t>(history_.end() - pos_);
        const Raw_View raw = history_.raw_run(pos_, n);
        const std::size_t run = match_run(model_.table, model_.words.phase(pos_), raw, n);
        if (run > 0) {
            take_table(run, model_.words.phase(pos_));
            pos_ += run;
        }
        if (run < n) {
            break_.start(model_, pos_, pos_ + 1);
            state_ = State::searching;
        }
        return true;
    }
    if (history_.end() - pos_ < kBlock + (model_.tone ? kToneAhead : 0))
        return false;
    return model_.tone ? judge_tone_block(pos_, kBlock) : judge_block(pos_, kBlock);
}

bool Tracker::step_searching()
{
    if (const auto found = break_.look(history_, fit(), decoder_.quantum(), scratch_.data())) {
        settle(*found);
        return true;
    }
    if (break_.given_up(history_.end())) {
        lose(break_.last_held(fit(), std::min<std::uint64_t>(history_.end(), break_.at() + kBlock)));
        return true;
    }
    return false;
}

// ---- where the span begins, resumes and ends

bool Tracker::lock_at(std::uint64_t from, std::size_t n)
{
    if (n >= kBlock && outside_.tone_seen()) {
        // The block from the window that showed a tone: what came before
        // it (silence, a resampler's first samples) is none of the tone.
        outside_.forget_tone();
        const std::uint64_t t = std::max(outside_.tone_at(), from);
        const auto rest = static_cast<std::size_t>(from + n - t);
        history_.copy(t, rest, scratch_.data());
        if (rest >= 2 * kToneChunk && lock_tone(t, rest, Tone_Need::any))
            return true;
    }
    history_.copy(from, n, scratch_.data());
    const auto words = find_words(scratch_.data(), n, from, decoder_.quantum());
    const bool tone_seen = outside_.tone_seen() && n < kBlock;
    if (!tone_seen)
        outside_.forget_tone();
    if (!words)
        return n >= kBlock && lock_tone(from, n, Tone_Need::apart);
    // Told apart before the span is judged: a resampler's tone is followed
    // as one from its first sample, the staircase as words.
    const Band band = band_of(*words, rate_, decoder_.quantum());
    if (n < kBlock && !tone_seen && band == Band::tone)
        outside_.see_tone(from);
    if (band == Band::tone && n >= 2 * kToneChunk && lock_tone(from, n, Tone_Need::any))
        return true;
    if (band == Band::unsure && n >= kBlock && lock_tone(from, n, Tone_Need::drift))
        return true;
    // Once a window showed a tone, the block around it tells its frequency
    // and where it began (a resampler's first samples are no staircase).
    if (outside_.tone_seen())
        return false;
    const Model m = fit().make(*words, from, n);
    const std::uint64_t s = fit().refine_back(m, from, record_.open() ? gap_start() : outside_.from());
    if (!record_.open()) {
        model_ = m;
        begin_span(s);
    } else {
        const Model old = model_;
        model_ = m;
        resume(old, gap_start(), s);
    }
    accept(s, from + n);
    pos_ = from + n;
    state_ = State::tracking;
    return true;
}

// The window [from, from + n), copied into scratch, as a tone.
bool Tracker::lock_tone(std::uint64_t from, std::size_t n, Tone_Need need)
{
    const auto tone = find_tone(scratch_.data(), n, from, rate_);
    if (!tone || !shows(*tone, need, rate_))
        return false;
    // Back, chunk by chunk, while the tone holds, then to the sample.
    const std::uint64_t limit = std::max(record_.open() ? gap_start() : outside_.from(), reach_back(from));
    const Tone_Edges e = edges();
    std::uint64_t s = from;
    while (s >= limit + kToneChunk && e.holds(*tone, s - kToneChunk, kToneChunk)) s -= kToneChunk;
    s = e.start(*tone, s, limit);
    if (record_.open()) {
        // What came before is judged as what it was; the gap, if any, was
        // foreign, and how much was lost a tone cannot count.
        close_stretch();
        outside_.skip(s);
        record_.residues_unknown();
        if (s > gap_start())
            record_.add_dropout(gap_start(), s - gap_start(), 0, 0);
    }
    model_ = Model{};
    model_.tone = true;
    if (!record_.open()) {
        begin_span(s);
    } else {
        stretch_.start(s, model_.words.repeat);
        record_.set_end_crisp(true);
    }
    start_tone(*tone, from, n);
    take_tone(from + n);
    state_ = State::tracking;
    return true;
}

void Tracker::begin_span(std::uint64_t at)
{
    // Samples that can be told apart one by one mark their ends exactly.
    bool crisp = model_.deterministic || model_.clean;
    std::uint64_t leading_changed = 0;
    if (!model_.tone) {
        const Model_Fit f = fit();
        const std::uint64_t limit = std::max(outside_.from(), reach_back(at));
        std::uint64_t s = at;
        while (s > limit && at - s < kWindow && f.near_level(model_, s - 1)) --s;
        if (!f.pattern_beside(model_, s, at, s > kWindow ? std::max(limit, s - kWindow) : limit, s))
            s = at;
        else
            crisp = false;
        leading_changed = at - s;
        at = s;
    }
    const Outside before = outside_.take(history_, at);
    if (model_.tone)
        record_.begin(at, 0, 0, 0, crisp, before);
    else
        record_.begin(at, model_.words.phase(at), model_.words.cycle, model_.words.repeat, crisp, before);
    stretch_.start(at, model_.words.repeat);
    if (leading_changed > 0)
        accept_changed(at, at + leading_changed);
    record_.tell(level_event(Event::Kind::locked, at));
}

// The pattern holds again under the model found: where the old model
// stopped and the new one began, what happened between, and on.
void Tracker::settle(const Break_Search::Found& found)
{
    std::uint64_t stop = 0, start = 0;
    break_.meet(fit(), found, stop, start);
    accept(break_.at(), stop);
    model_ = found.model;
    resume(break_.old(), stop, start);
    accept(start, found.from + found.n);
    pos_ = found.from + found.n;
    state_ = State::tracking;
}

void Tracker::resume(const Model& old, std::uint64_t stop, std::uint64_t start)
{
    outside_.skip(stop);  // the gap, if any, is foreign now
    const Join j = join(old, model_, stop, start, fit());
    if (!j.phases_tell)
        record_.residues_unknown();
    if (j.changed)
        accept_changed(stop, start);
    else if (j.dropout)
        record_.add_dropout(stop, j.foreign, j.skipped, j.residue);
    if (!j.same_levels)
        change_level(start);
}

void Tracker::lose(std::uint64_t at)
{
    if (at > break_.at() && !model_.tone)
        accept(break_.at(), at);
    if (!model_.tone) {
        // What follows may still be the pattern, changed (a resampler's or
        // a fade's last samples): nearer its own level than the next word's.
        const Model_Fit f = fit();
        const std::uint64_t from = gap_start();
        std::uint64_t end = from;
        while (end < history_.end() && end - from < kWindow && f.near_level(model_, end)) ++end;
        if (f.pattern_beside(model_, from, end, end, std::min(history_.end(), end + kWindow))) {
            accept_changed(from, end);
            record_.set_end_crisp(false);
        }
    }
    close_stretch();
    outside_.restart(gap_start());
    pos_ = std::max(pos_, gap_start());
    state_ = State::outside;
    Event e;
    e.kind = Event::Kind::lost;
    e.position = gap_start();
    record_.tell(e);
}

// ---- the model tracked

bool Tracker::judge_block(std::uint64_t from, std::size_t n)
{
    const int cycle = model_.words.cycle;
    const Block_Summary summary = summarize(history_.decoded(from, n, scratch_.data()), n,
                                            model_.words.phase(from), cycle, decoder_.word_width());
    const Word_Model refitted = refit(model_.words, summary);
    const std::complex<double> h_model = fundamental(model_.words.level, cycle);
    const std::complex<double> h_block = fundamental(refitted.level, cycle);
    // The noise left in the fundamental of a fold of n samples.
    const double noise = cycle * refitted.spread / std::sqrt(static_cast<double>(n)) / std::abs(h_model);
    const double size = std::abs(h_block) / std::abs(h_model);
    const double turn = std::arg(h_block / h_model);
    const double expected_turn = model_.turn * static_cast<double>(n);
    double off = turn - expected_turn;
    off = std::remainder(off, 2 * kPi);
    const bool consistent =
        std::fabs(size - 1) <= kSizeDrift + 5 * noise && std::fabs(off) <= kTurnDrift + 5 * noise;
    // A block told as a resampler's tone, or whose phase runs away too fast
    // for the words' fold: followed as a tone.
    if ((!consistent || band_of(refitted, rate_, decoder_.quantum()) == Band::tone) &&
        becomes_tone(from, n, consistent ? Tone_Need::any : Tone_Need::drift))
        return true;
    if (!consistent) {
        break_.start(model_, from, from + n / 2);
        state_ = State::searching;
        return true;
    }
    stretch_.add_summary(summary, n);
    stretch_.phase_line.add(static_cast<double>(from) + static_cast<double>(n) / 2,
                            std::arg(h_block / words_fundamental(cycle)));
    model_.turn = turn / static_cast<double>(n);
    model_.words = refitted;
    record_.extend_to(from + n - 1);
    pos_ = from + n;
    // A chain that settled (a filter after its first moments) may have
    // become deterministic: compare as it lies from here on.
    const Model upgraded = fit().make(refitted, from, n);
    if (upgraded.deterministic) {
        // A new stretch where what came before held other values (a filter
        // settling): the settled part is then judged on its own.
        bool same = true;
        for (int k = 0; k < 3; ++k) {
            const double v = upgraded.table_value[k * upgraded.words.repeat];
            same = same && (stretch_.n[k] == 0 || (stretch_.min[k] == v && stretch_.max[k] == v));
        }
        if (!same)
            close_stretch();
        model_ = upgraded;
        if (!same)
            stretch_.start(pos_, model_.words.repeat);
    }
    return true;
}

bool Tracker::judge_tone_block(std::uint64_t from, std::size_t n)
{
    if (tone_->take(history_.decoded(from, n, scratch_.data()), n, from, rate_)) {
        take_tone(from + n);
        return true;
    }
    // Where it stopped, chunk by chunk, then to the sample.
    const Tone_Edges e = edges();
    std::uint64_t end = from;
    while (end + kToneChunk <= from + n && e.holds(tone_->fit(), end, kToneChunk)) end += kToneChunk;
    end = e.end(tone_->fit(), end, from);
    stretch_.end = end;
    if (end > from)
        record_.extend_to(end - 1);
    lose(end);
    return true;
}

// A word model that is a resampler's tone after all, or stops holding
// because its phase runs away too fast for the words' fold over a block (a
// clock apart). Followed as a tone from where the words began when they
// were never exact.
bool Tracker::becomes_tone(std::uint64_t from, std::size_t n, Tone_Need need)
{
    const long f0 = family_of(model_.words.cycle, rate_);
    if (f0 == 0 || n > 2 * kBlock)
        return false;
    history_.copy(from, n, scratch_.data());
    const auto tone = find_tone(scratch_.data(), n, from, rate_);
    if (!tone || tone->family_hz != f0 || (need != Tone_Need::any && keeps_time(*tone)))
        return false;
    double size[kMaxHarmonic + 1];
    cycle_harmonics(model_.words.level, model_.words.cycle, size);
    const double ratio = std::abs(tone->harmonic[1]) / size[1];
    if (!(ratio > 0.7 && ratio < 1.4))
        return false;
    if (stretch_.differing == 0 && stretch_.changed == 0 && stretch_.length() > 0)
        close_stretch();
    else if (stretch_.first == record_.first())
        record_.begins_as_tone();
    start_tone(*tone, from, n);
    take_tone(from + n);
    return true;
}

// Follows the tone from here on; `from`, n: the block it was found in.
void Tracker::start_tone(const Tone_Fit& fit, std::uint64_t from, std::size_t n)
{
    tone_.emplace(fit);
    model_ = Model{};
    model_.tone = true;
    Event e;
    e.kind = Event::Kind::resampled;
    e.position = stretch_.first;
    e.family_hz = fit.family_hz;
    record_.tell(e);
    tone_->take(history_.view(from, n, scratch_.data()), n, from, rate_);
}

void Tracker::take_tone(std::uint64_t end)
{
    stretch_.end = end;
    record_.extend_to(end - 1);
    pos_ = end;
}

// count samples from pos_ on held the model's table from `phase` on.
void Tracker::take_table(std::uint64_t count, int phase)
{
    stretch_.add_table(count, phase, model_.table.period, model_.table_value, model_.table_exact);
    record_.extend_to(pos_ + count - 1);
}

void Tracker::accept(std::uint64_t from, std::uint64_t to)
{
    while (from < to) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(to - from, kBlock));
        stretch_.add_samples(history_.view(from, n, scratch_.data()), n, model_.words.phase(from),
                             model_.words.cycle, decoder_);
        from += n;
        record_.extend_to(from - 1);
    }
}

void Tracker::accept_changed(std::uint64_t from, std::uint64_t to)
{
    for (std::uint64_t i = from; i < to; ++i)
        stretch_.add_changed(history_.value(i), model_.words.phase(i), decoder_);
    if (to > from)
        record_.extend_to(to - 1);
}

void Tracker::change_level(std::uint64_t at)
{
    close_stretch();
    stretch_.start(at, model_.words.repeat);
    record_.tell(level_event(Event::Kind::level_change, at));
}

void Tracker::close_stretch()
{
    stretch_.flush_tallies();
    if (stretch_.length() == 0)
        return;
    record_.add_stretch(model_.tone && tone_ ? judge_tone_stretch(stretch_, *tone_, rate_)
                                             : judge_stretch(stretch_, decoder_, rate_),
                        stretch_);
    // The next stretch begins where this one ended.
    stretch_.start(stretch_.end, stretch_.repeat);
}

Event Tracker::level_event(Event::Kind kind, std::uint64_t at) const
{
    Event e;
    e.kind = kind;
    e.position = at;
    e.repeat = model_.words.repeat;
    e.exact = model_.exact();
    e.gain_factor = model_.words.gain;
    return e;
}

// ---- the end

Channel_Report Tracker::so_far() const
{
    // A copy is finished in place of this one, and tells nobody.
    Tracker copy = *this;
    copy.record_.quiet();
    return copy.finish();
}

// What is left of the last block, judged as far as it goes.
void Tracker::finish_tracking()
{
    if (state_ == State::tracking && model_.tone && pos_ < history_.end()) {
        // Blocks, then the rest to the sample.
        while (state_ == State::tracking && history_.end() - pos_ >= kBlock + kToneChunk)
            judge_tone_block(pos_, kBlock);
        const auto n = static_cast<std::size_t>(history_.end() - pos_);
        if (state_ == State::tracking && n >= kToneChunk) {
            judge_tone_block(pos_, n);
        } else if (state_ == State::tracking && n > 0) {
            const std::uint64_t end = edges().end(tone_->fit(), pos_, pos_);
            stretch_.end = end;
            if (end > pos_)
                record_.extend_to(end - 1);
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
}

Channel_Report Tracker::finish()
{
    finish_tracking();
    if (state_ == State::searching) {
        // Too little left to tell whether the pattern came back.
        lose(break_.last_held(fit(), history_.end()));
    }
    if (state_ == State::outside && !record_.open() &&
        history_.end() - outside_.next_window() >= static_cast<std::uint64_t>(4 * 12)) {
        // A short capture: one last window of what is left, whatever the
        // windows before it showed.
        outside_.forget_tone();
        const auto n = static_cast<std::size_t>(
            std::min<std::uint64_t>(history_.end() - outside_.next_window(), 2 * kBlock));
        if (lock_at(history_.end() - n, n) && state_ == State::tracking && !model_.deterministic &&
            pos_ < history_.end())
            accept(pos_, history_.end());
        if (state_ == State::tracking && model_.deterministic)
            step_tracking();
        if (state_ == State::searching)
            lose(break_.last_held(fit(), history_.end()));
    }
    if (state_ == State::tracking) {
        record_.set_end_crisp(record_.end_crisp() && (model_.deterministic || model_.clean));
        close_stretch();
    }
    if (!record_.open())
        return Channel_Report{};
    return record_.report(outside_.after(history_, gap_start()), model_.words, history_.end());
}

}  // namespace kova::analysis::detail
