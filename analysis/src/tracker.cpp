#include "tracker.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>

#include "kova/pattern.h"
#include "kova/settings.h"
#include "levels.h"

namespace kova::analysis::detail {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Windows that a clean pattern is found in: enough cycles of the longest.
constexpr std::size_t kWindow = static_cast<std::size_t>(kMinCycles) * 12;
// After a break, how long to look for the pattern before calling it lost.
constexpr std::size_t kGiveUp = 2 * Tracker::kBlock;
// A block may change the fundamental's size by this much (a fade, a slow
// gain) and turn it this far beyond what the last blocks did (a clock that
// drifts) before it counts as a change: a whole sample's shift turns it by
// at least 30 degrees, a change of level by far more than 5 %.
constexpr double kSizeDrift = 0.05;
constexpr double kTurnDrift = 0.3;
// Outside the span, what counts as a stretch of the same sample: long
// enough that compares as it lies pay off.
constexpr std::size_t kConstantRun = 16;
// A stretch that is altered still shows an offset when its mean moved by
// more than this share of the words' spacing.
constexpr double kNamedOffset = 0.05;
// Dropouts and stretches kept in the report; the rest are only counted.
constexpr std::size_t kKept = 8;

std::complex<double> fundamental(const double* levels, int cycle)
{
    std::complex<double> h;
    for (int p = 0; p < cycle; ++p)
        h += levels[p] * std::polar(1.0, -2 * kPi * p / cycle);
    return h;
}

std::complex<double> words_fundamental(int cycle)
{
    double words[12];
    for (int p = 0; p < cycle; ++p)
        words[p] = kPatternWords[p / (cycle / 3)];
    return fundamental(words, cycle);
}

int wrap(long long v, int cycle)
{
    const long long r = v % cycle;
    return static_cast<int>(r < 0 ? r + cycle : r);
}

}  // namespace

Tracker::Tracker(long rate, const Sample_Format& format, int channel, Event_Sink* sink)
    : rate_(rate),
      format_(format),
      decoder_(format),
      channel_(channel),
      sink_(sink),
      value_ring_(kHistory),
      raw_ring_(kHistory * static_cast<std::size_t>(format.bytes)),
      scratch_(2 * kBlock + kWindow)
{
}

// ---- history

double Tracker::value(std::uint64_t i) const
{
    if (i >= table_run_.from && i < table_run_.to)
        return table_run_.values[(table_run_.phase + (i - table_run_.from)) %
                                 static_cast<std::uint64_t>(table_run_.table.period)];
    return value_ring_[i % kHistory];
}

const unsigned char* Tracker::raw(std::uint64_t i) const
{
    if (i >= table_run_.from && i < table_run_.to)
        return table_run_.table.value[(table_run_.phase + (i - table_run_.from)) %
                                      static_cast<std::uint64_t>(table_run_.table.period)];
    return raw_ring_.data() + (i % kHistory) * static_cast<std::size_t>(format_.bytes);
}

void Tracker::copy_values(std::uint64_t from, std::size_t n, double* out) const
{
    if (from >= table_run_.to || from + n <= table_run_.from) {
        // All in the ring: at most two pieces, either side of its end.
        const std::size_t slot = from % kHistory;
        const std::size_t first = std::min(n, kHistory - slot);
        std::memcpy(out, value_ring_.data() + slot, first * sizeof(double));
        std::memcpy(out + first, value_ring_.data(), (n - first) * sizeof(double));
        return;
    }
    for (std::size_t k = 0; k < n; ++k)
        out[k] = value(from + k);
}

const double* Tracker::values_at(std::uint64_t from, std::size_t n)
{
    const std::size_t slot = from % kHistory;
    if ((from >= table_run_.to || from + n <= table_run_.from) && slot + n <= kHistory)
        return value_ring_.data() + slot;
    copy_values(from, n, scratch_.data());
    return scratch_.data();
}

void Tracker::keep_table_run_in_rings()
{
    if (table_run_.to > table_run_.from) {
        // Only what the ring still has room for: older slots now hold samples
        // that came after the run.
        const std::uint64_t from = std::max(table_run_.from, index_ > kHistory ? index_ - kHistory : 0);
        const auto bytes = static_cast<std::size_t>(format_.bytes);
        for (std::uint64_t i = from; i < table_run_.to; ++i) {
            const int p = static_cast<int>((table_run_.phase + (i - table_run_.from)) %
                                           static_cast<std::uint64_t>(table_run_.table.period));
            value_ring_[i % kHistory] = table_run_.values[p];
            std::memcpy(raw_ring_.data() + (i % kHistory) * bytes, table_run_.table.value[p], bytes);
        }
    }
    table_run_.from = table_run_.to = 0;
}

// ---- input

const Raw_Table* Tracker::expected(int& phase) const
{
    if (pos_ != index_)
        return nullptr;
    if (state_ == State::tracking && model_.deterministic) {
        phase = model_.words.phase(index_);
        return &model_.table;
    }
    if (state_ == State::outside && outside_table_.period == 1) {
        phase = 0;
        return &outside_table_;
    }
    return nullptr;
}

void Tracker::take_expected(std::uint64_t count)
{
    int phase = 0;
    const Raw_Table* t = expected(phase);
    if (!t || count == 0)
        return;
    if (table_run_.to != index_ || !(table_run_.table == *t)) {
        keep_table_run_in_rings();
        table_run_.from = table_run_.to = index_;
        table_run_.table = *t;
        table_run_.phase = phase;
        for (int p = 0; p < t->period; ++p)
            table_run_.values[p] = decoder_.decode_one(t->value[p]);
    }
    table_run_.to += count;
    if (state_ == State::tracking) {
        stretch_.add_table(count, phase, model_.table.period, model_.table_value, model_.table_exact);
        last_ = index_ + count - 1;
    }
    index_ += count;
    pos_ = index_;
}

void Tracker::feed(Raw_View raw, std::size_t count)
{
    const auto bytes = static_cast<std::size_t>(format_.bytes);
    while (count > 0) {
        // No more than a block at a time, and never across the rings' end.
        const std::size_t slot = index_ % kHistory;
        const std::size_t n = std::min({count, kBlock, kHistory - slot});
        unsigned char* to = raw_ring_.data() + slot * bytes;
        if (raw.stride == bytes) {
            std::memcpy(to, raw.data, n * bytes);
        } else {
            for (std::size_t k = 0; k < n; ++k)
                std::memcpy(to + k * bytes, raw.data + k * raw.stride, bytes);
        }
        decoder_.decode({to, bytes}, n, value_ring_.data() + slot);
        index_ += n;
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
        case State::outside: progressed = step_outside(); break;
        case State::tracking: progressed = step_tracking(); break;
        case State::searching: progressed = step_searching(); break;
        }
        if (!progressed)
            return;
    }
}

// ---- outside the span

bool Tracker::step_outside()
{
    if (pos_ == index_)
        return false;
    // Test windows in order; the first that holds the pattern starts the span.
    while (next_window_ + kWindow <= index_) {
        if (lock_at(next_window_, kWindow))
            return true;
        next_window_ += kWindow;
    }
    // A whole block for a pattern too noisy for a short window, and for a
    // tone: once per block.
    if (index_ - outside_from_ >= kBlock && index_ % kBlock < (index_ - pos_)) {
        const std::uint64_t from = index_ - kBlock;
        if (lock_at(from, kBlock))
            return true;
    }
    // Runs of one value (silence) are then compared as they lie.
    outside_table_.period = 0;
    if (index_ - pos_ >= kConstantRun || index_ - outside_from_ >= kConstantRun) {
        const unsigned char* last = raw(index_ - 1);
        bool constant = true;
        for (std::uint64_t i = index_ - kConstantRun; i < index_ - 1 && constant; ++i)
            constant = same_sample(raw(i), last, format_.bytes);
        if (constant) {
            outside_table_.period = 1;
            outside_table_.bytes = format_.bytes;
            std::memcpy(outside_table_.value[0], last, static_cast<std::size_t>(format_.bytes));
            outside_table_.laid_out.clear();
            outside_table_.lay_out();
        }
    }
    pos_ = index_;
    return false;
}

bool Tracker::make_model(const Word_Model& words, std::uint64_t from, std::size_t n, Model& out) const
{
    out = Model{};
    out.words = words;
    const auto cycle = static_cast<std::uint64_t>(words.cycle);
    bool periodic = true;
    for (std::uint64_t i = from + cycle; i < from + n && periodic; ++i)
        periodic = same_sample(raw(i), raw(i - cycle), format_.bytes);
    if (periodic) {
        out.deterministic = true;
        out.table.period = words.cycle;
        out.table.bytes = format_.bytes;
        for (std::uint64_t i = from; i < from + cycle; ++i) {
            const int p = words.phase(i);
            std::memcpy(out.table.value[p], raw(i), static_cast<std::size_t>(format_.bytes));
            out.table_value[p] = value(i);
            out.words.level[p] = value(i);
            out.table_exact[p] = decoder_.is_word(value(i), kPatternWords[p / words.repeat]);
        }
        out.table.lay_out();
        out.words.spread = 0.0;
    }
    // A sample may stray by the capture's rounding and a few times the
    // spread; the model is clean when that is still nearer its own level
    // than the next word's.
    out.tolerance = std::max(1.5 * std::max(decoder_.quantum(), 1.0), 4 * out.words.spread);
    out.clean = out.tolerance < 0.5 * std::fabs(words.gain) * 1024;
    return true;
}

bool Tracker::near_level(const Model& m, std::uint64_t i) const
{
    const double v = value(i);
    return std::fabs(v - m.words.level[m.words.phase(i)]) < 0.5 * std::fabs(m.words.gain) * 1024;
}

bool Tracker::fits(const Model& m, std::uint64_t i) const
{
    const int p = m.words.phase(i);
    if (m.deterministic)
        return same_sample(raw(i), m.table.value[p], format_.bytes);
    const double v = value(i);
    return std::fabs(v - m.words.level[p]) <= m.tolerance;
}

std::uint64_t Tracker::refine_back(const Model& m, std::uint64_t from, std::uint64_t limit) const
{
    const std::uint64_t oldest = index_ > kHistory - kBlock ? index_ - (kHistory - kBlock) : 0;
    limit = std::max(limit, oldest);
    if (!m.deterministic && !m.clean)
        return change_point(m, limit, from);
    std::uint64_t s = from;
    while (s > limit && fits(m, s - 1))
        --s;
    return s;
}

// Where other material gives way to the pattern within [lo, hi): the split
// that leaves the least squared error, the other material taken as its own
// mean (silence, or the level of whatever was there).
std::uint64_t Tracker::change_point(const Model& m, std::uint64_t lo, std::uint64_t hi) const
{
    if (hi <= lo)
        return hi;
    const std::uint64_t head = std::max<std::uint64_t>(1, (hi - lo) / 4);
    double mean = 0.0, taken = 0.0;
    for (std::uint64_t i = lo; i < lo + head; ++i)
        if (value(i) == value(i)) {
            mean += value(i);
            taken += 1;
        }
    mean = taken > 0 ? mean / taken : 0.0;
    // cost(m) = sum over [lo, m) of other + sum over [m, hi) of pattern;
    // walk m down from hi keeping the running difference.
    double best = 0.0, running = 0.0;
    std::uint64_t at = hi;
    for (std::uint64_t i = hi; i-- > lo;) {
        const double v = value(i);
        if (v != v)
            continue;
        const double e_model = v - m.words.level[m.words.phase(i)];
        const double e_other = v - mean;
        running += e_model * e_model - e_other * e_other;
        if (running < best) {
            best = running;
            at = i;
        }
    }
    return at;
}

// The first sample from `from` on that the model does not take, up to hi.
std::uint64_t Tracker::last_fit(const Model& m, std::uint64_t from, std::uint64_t hi) const
{
    if (m.deterministic || m.clean) {
        std::uint64_t i = from;
        while (i < hi && fits(m, i))
            ++i;
        return i;
    }
    // Noisy: the split between the model and what follows it.
    double best = 0.0, running = 0.0;
    std::uint64_t at = from;
    double mean = 0.0, taken = 0.0;
    const std::uint64_t tail = std::max<std::uint64_t>(1, (hi - from) / 4);
    for (std::uint64_t i = hi - tail; i < hi; ++i)
        if (value(i) == value(i)) {
            mean += value(i);
            taken += 1;
        }
    mean = taken > 0 ? mean / taken : 0.0;
    for (std::uint64_t i = from; i < hi; ++i) {
        const double v = value(i);
        if (v != v)
            continue;
        const double e_model = v - m.words.level[m.words.phase(i)];
        const double e_other = v - mean;
        running += e_model * e_model - e_other * e_other;
        if (running < best) {
            best = running;
            at = i + 1;
        }
    }
    return at;
}

bool Tracker::lock_at(std::uint64_t from, std::size_t n)
{
    copy_values(from, n, scratch_.data());
    const auto words = find_words(scratch_.data(), n, from, decoder_.quantum());
    if (!words)
        return n >= kBlock && try_tone(from, n);
    Model m;
    make_model(*words, from, n, m);
    const std::uint64_t limit = span_ ? gap_start() : outside_from_;
    const std::uint64_t s = refine_back(m, from, limit);
    if (!span_) {
        model_ = m;
        begin_span(s);
    } else {
        old_ = model_;
        model_ = m;
        resume(gap_start(), s);
    }
    accept(s, from + n);
    pos_ = from + n;
    state_ = State::tracking;
    return true;
}

// Chunks a resampled span's ends are found to.
constexpr std::size_t kToneChunk = 256;

bool Tracker::try_tone(std::uint64_t from, std::size_t n)
{
    const auto fit = find_tone(scratch_.data(), n, from, rate_);
    if (!fit)
        return false;
    tone_.emplace(*fit);
    // Back, chunk by chunk, while the tone holds.
    const std::uint64_t oldest = index_ > kHistory - kBlock ? index_ - (kHistory - kBlock) : 0;
    const std::uint64_t limit = std::max(span_ ? gap_start() : outside_from_, oldest);
    std::uint64_t s = from;
    while (s >= limit + kToneChunk && tone_holds(s - kToneChunk, kToneChunk))
        s -= kToneChunk;
    if (span_)
        old_ = model_;
    model_ = Model{};
    model_.tone = true;
    if (!span_) {
        begin_span(s);
    } else {
        count_outside(gap_start());
        gap_ = Outside{};
        close_stretch();
        begin_stretch(s);
        end_crisp_ = true;
    }
    Event e;
    e.kind = Event::Kind::resampled;
    e.position = s;
    e.family_hz = fit->family_hz;
    emit(e);
    tone_->take(values_at(from, n), n, from, rate_);
    stretch_.end = from + n;
    last_ = from + n - 1;
    pos_ = from + n;
    state_ = State::tracking;
    return true;
}

bool Tracker::tone_holds(std::uint64_t from, std::size_t n)
{
    const Tone_Fit t = refit_tone(tone_->fit(), values_at(from, n), n, from, rate_);
    const double ratio = std::abs(t.fundamental) / std::abs(tone_->fit().fundamental);
    return t.fraction >= 0.4 && ratio > 0.7 && ratio < 1.4;
}

bool Tracker::judge_tone_block(std::uint64_t from, std::size_t n)
{
    if (tone_->take(values_at(from, n), n, from, rate_)) {
        stretch_.end = from + n;
        last_ = from + n - 1;
        pos_ = from + n;
        return true;
    }
    // Where it stopped, chunk by chunk.
    std::uint64_t end = from;
    while (end + kToneChunk <= from + n && tone_holds(end, kToneChunk))
        end += kToneChunk;
    stretch_.end = end;
    if (end > from)
        last_ = end - 1;
    break_at_ = end;
    lose(end);
    return true;
}

// ---- tracking

bool Tracker::step_tracking()
{
    if (pos_ == index_)
        return false;
    if (model_.deterministic) {
        // The rings end somewhere: compare up to there at a time.
        const std::size_t slot = pos_ % kHistory;
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(index_ - pos_, kHistory - slot));
        const auto bytes = static_cast<std::size_t>(format_.bytes);
        const std::size_t run = match_run(model_.table, model_.words.phase(pos_),
                                          {raw_ring_.data() + slot * bytes, bytes}, n);
        if (run > 0) {
            stretch_.add_table(run, model_.words.phase(pos_), model_.table.period, model_.table_value,
                               model_.table_exact);
            last_ = pos_ + run - 1;
            pos_ += run;
        }
        if (run < n) {
            break_at_ = pos_;
            old_ = model_;
            next_window_ = pos_ + 1;
            state_ = State::searching;
        }
        return true;
    }
    if (index_ - pos_ < kBlock)
        return false;
    return model_.tone ? judge_tone_block(pos_, kBlock) : judge_block(pos_, kBlock);
}

bool Tracker::judge_block(std::uint64_t from, std::size_t n)
{
    const int cycle = model_.words.cycle;
    const Block_Summary summary = summarize(values_at(from, n), n, model_.words.phase(from), cycle, decoder_.is_float());
    const Word_Model fit = refit(model_.words, summary);
    const std::complex<double> h_model = fundamental(model_.words.level, cycle);
    const std::complex<double> h_block = fundamental(fit.level, cycle);
    // The noise left in the fundamental of a fold of n samples.
    const double noise = cycle * fit.spread / std::sqrt(static_cast<double>(n)) / std::abs(h_model);
    const double size = std::abs(h_block) / std::abs(h_model);
    const double turn = std::arg(h_block / h_model);
    const double expected_turn = model_.turn * static_cast<double>(n);
    double off = turn - expected_turn;
    off = std::remainder(off, 2 * kPi);
    const bool consistent = std::fabs(size - 1) <= kSizeDrift + 5 * noise && std::fabs(off) <= kTurnDrift + 5 * noise;
    if (!consistent) {
        break_at_ = from;
        old_ = model_;
        next_window_ = from + n / 2;
        state_ = State::searching;
        return true;
    }
    stretch_.add_summary(summary, n);
    stretch_.add_phase(static_cast<double>(from) + static_cast<double>(n) / 2,
                       std::arg(h_block / words_fundamental(cycle)));
    model_.turn = turn / static_cast<double>(n);
    model_.words = fit;
    last_ = from + n - 1;
    pos_ = from + n;
    // A chain that settled (a filter after its first moments) may have
    // become deterministic: compare as it lies from here on.
    Model upgraded;
    make_model(fit, from, n, upgraded);
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
            begin_stretch(pos_);
    }
    return true;
}

// ---- after a break

bool Tracker::step_searching()
{
    const bool precise = old_.deterministic || old_.clean;
    const std::size_t window = precise ? kWindow : kBlock;
    while (next_window_ + window <= index_) {
        const std::uint64_t t = next_window_;
        Model resumed;
        if (resumes(old_, t, window, resumed)) {
            settle(resumed, t, window);
            return true;
        }
        copy_values(t, window, scratch_.data());
        if (const auto words = find_words(scratch_.data(), window, t, decoder_.quantum())) {
            Model m;
            make_model(*words, t, window, m);
            settle(m, t, window);
            return true;
        }
        next_window_ += precise ? window : window / 2;
    }
    if (index_ - break_at_ >= kGiveUp) {
        lose(last_fit(old_, break_at_, std::min<std::uint64_t>(index_, break_at_ + kBlock)));
        return true;
    }
    return false;
}

// Whether the old model holds [t, t + n) at some phase: then resumed is it,
// shifted to that phase.
bool Tracker::resumes(const Model& old, std::uint64_t t, std::size_t n, Model& resumed) const
{
    if (!old.deterministic && !old.clean)
        return false;
    const int cycle = old.words.cycle;
    for (int q = 0; q < cycle; ++q) {
        Model m = old;
        // Phase q at t.
        m.words.anchor = t + static_cast<std::uint64_t>(wrap(-q, cycle));
        bool all = true;
        for (std::uint64_t i = t; i < t + n && all; ++i)
            all = fits(m, i);
        if (all) {
            resumed = m;
            return true;
        }
    }
    return false;
}

// The pattern holds again from window [t, t + n) under m: find where the
// old model stopped and the new one began, say what happened between, and
// track on.
void Tracker::settle(const Model& m, std::uint64_t t, std::size_t n)
{
    std::uint64_t stop = break_at_;
    std::uint64_t start;
    if (old_.deterministic || old_.clean) {
        start = refine_back(m, t, break_at_);
        stop = std::min(last_fit(old_, break_at_, start), start);
    } else {
        start = refine_back(m, t, break_at_);
        stop = std::min(last_fit(old_, break_at_, start), start);
    }
    accept(break_at_, stop);
    model_ = m;
    resume(stop, start);
    accept(start, t + n);
    pos_ = t + n;
    state_ = State::tracking;
}

// ---- the span

void Tracker::begin_span(std::uint64_t at)
{
    // Samples that can be told apart one by one mark their ends exactly.
    start_crisp_ = model_.deterministic || model_.clean;
    if (!model_.tone) {
        const std::uint64_t oldest = index_ > kHistory - kBlock ? index_ - (kHistory - kBlock) : 0;
        const std::uint64_t limit = std::max(outside_from_, oldest);
        std::uint64_t s = at;
        while (s > limit && at - s < kWindow && near_level(model_, s - 1))
            --s;
        if (s < at)
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
    e.exact = !model_.tone && model_.deterministic && std::all_of(model_.table_exact, model_.table_exact + model_.words.cycle,
                                                  [](bool b) { return b; });
    e.gain_factor = model_.words.gain;
    emit(e);
}

std::uint64_t Tracker::gap_start() const { return last_ + 1; }

void Tracker::resume(std::uint64_t stop, std::uint64_t start)
{
    count_outside(stop);  // the gap, if any, is foreign now
    gap_ = Outside{};
    const int cycle = model_.words.cycle;
    const std::uint64_t foreign = start - stop;
    const bool same_cycle = cycle == old_.words.cycle;
    const int p_stop = old_.words.phase(stop);
    const int q = model_.words.phase(start);
    const int lost = same_cycle ? wrap(q - p_stop, cycle) : 0;
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
        Dropout d;
        d.position = stop;
        d.foreign = foreign;
        d.skipped = lost == foreign_mod ? static_cast<long long>(foreign)
                                        : (lost > cycle / 2 ? lost - cycle : lost);
        d.lost = static_cast<std::uint64_t>(lost == foreign_mod ? static_cast<long long>(foreign) : lost);
        ++dropout_count_;
        foreign_total_ += foreign;
        lost_residue_total_ += d.lost;
        if (dropouts_.size() < kKept)
            dropouts_.push_back(d);
        Event e;
        e.kind = Event::Kind::dropout;
        e.position = stop;
        e.foreign = foreign;
        e.skipped = d.skipped;
        emit(e);
    }
    if (!same)
        change_level(start);
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
    if (to - from < static_cast<std::uint64_t>(2 * cycle) || to - from > kHistory / 2)
        return false;
    const auto n = static_cast<std::size_t>(to - from);
    std::vector<double> x(n);
    copy_values(from, n, x.data());
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
        stretch_.add_samples(values_at(from, n), n, model_.words.phase(from), model_.words.cycle, decoder_);
        from += n;
        last_ = from - 1;
    }
}

void Tracker::accept_changed(std::uint64_t from, std::uint64_t to)
{
    for (std::uint64_t i = from; i < to; ++i)
        stretch_.add_changed(value(i), model_.words.phase(i), decoder_);
    if (to > from)
        last_ = to - 1;
}

void Tracker::begin_stretch(std::uint64_t at) { stretch_.start(at, model_.words.repeat); }

double Tracker::grid() const
{
    if (!decoder_.is_float())
        return std::max(decoder_.quantum(), 1.0);
    // A float keeps 24 significant bits of the value itself.
    return std::max(1.0, std::ldexp(stretch_.peak, format_.bytes == 4 ? -22 : -51));
}

void Tracker::close_stretch()
{
    const Stretch_Stats& s = stretch_;
    if (s.length() == 0)
        return;
    Stretch st;
    st.first = s.first;
    st.last = s.end - 1;
    if (model_.tone && tone_) {
        st.resampled = true;
        Resampling r;
        r.family_hz = tone_->fit().family_hz;
        r.family_rate = tone_->fit().family_rate;
        r.drift_ppm = tone_->drift_ppm();
        r.ratio = static_cast<double>(rate_) / (static_cast<double>(r.family_rate) * (1 + r.drift_ppm * 1e-6));
        resampling_ = r;
        any_resampled_ = true;
        ++stretch_count_;
        if (stretches_.size() < kKept)
            stretches_.push_back(st);
        stretch_ = Stretch_Stats{};
        stretch_.start(s.end, s.repeat);
        return;
    }
    st.differing = s.differing;
    st.changed = s.changed;
    st.exact = s.differing == 0;
    if (!st.exact) {
        Levels levels{};
        bool any = true;
        for (int k = 0; k < 3; ++k) {
            any = any && s.n[k] > 0;
            levels.min[k] = s.min[k];
            levels.max[k] = s.max[k];
            levels.mean[k] = s.n[k] ? s.sum[k] / static_cast<double>(s.n[k]) : 0.0;
        }
        const Change c = any ? explain_levels(levels, grid()) : Change{};
        if (c.fits) {
            st.inverted = c.inverted;
            st.gain = c.gain;
            st.offset = c.offset;
            st.gain_factor = c.factor;
            st.offset_steps = st.offset_min = st.offset_max = c.offset_steps;
        } else {
            st.altered = true;
            // Still name a change of DC (a codec or filter that removed it):
            // a mean that neither the words' own nor theirs at the levels'
            // swing explains, held for half a second at least (not the
            // passing mean of a gap).
            if (any && s.length() * 2 >= static_cast<std::uint64_t>(rate_)) {
                const double slope = (levels.mean[2] - levels.mean[0]) / (kPatternWords[2] - kPatternWords[0]);
                const double mean = (levels.mean[0] + levels.mean[1] + levels.mean[2]) / 3;
                const double words_mean = (kPatternWords[0] + kPatternWords[1] + kPatternWords[2]) / 3.0;
                const double dc = mean - slope * words_mean;
                const double named = kNamedOffset * 1024 * std::fabs(slope);
                if (std::fabs(dc) > named && std::fabs(mean - words_mean) > named) {
                    st.offset = true;
                    st.offset_steps = st.offset_min = st.offset_max = dc;
                    st.gain_factor = slope;
                }
            }
        }
        // Samples changed in place leave the level judged on the rest.
        if (s.changed > 0)
            st.altered = true;
    }
    // The fundamental turning steadily is a clock apart from the capture's.
    if (s.pn >= 3) {
        const double den = s.pn * s.pxx - s.px * s.px;
        if (den > 0) {
            const double slope = (s.pn * s.pxy - s.px * s.py) / den;  // radians per sample
            const double turned = std::fabs(slope) * static_cast<double>(s.length());
            const double cycle_turn = 2 * kPi / (3 * s.repeat);
            const double ppm = slope / cycle_turn * 1e6;
            if (turned > 0.2 && std::fabs(ppm) >= 0.5) {
                Resampling r;
                r.family_hz = rate_ / (3 * s.repeat) == 14700 || rate_ % 44100 == 0 ? 14700 : 16000;
                r.family_rate = r.family_hz == 14700 ? 44100 : 48000;
                r.drift_ppm = ppm;
                r.ratio = static_cast<double>(rate_) / (r.family_rate * (1 + ppm * 1e-6));
                st.resampled = true;
                st.altered = false;
                st.gain = st.offset = st.inverted = false;
                resampling_ = r;
            }
        }
    }
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
    stretch_ = Stretch_Stats{};
    stretch_.start(s.end, s.repeat);
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
        while (end < index_ && end - from < kWindow && near_level(model_, end))
            ++end;
        if (end < index_ || end == index_) {
            accept_changed(from, end);
            if (end > from)
                end_crisp_ = false;
        }
    }
    close_stretch();
    gap_ = Outside{};
    outside_counted_ = last_ + 1;
    outside_from_ = last_ + 1;
    next_window_ = last_ + 1;
    pos_ = std::max(pos_, last_ + 1);
    state_ = State::outside;
    Event e;
    e.kind = Event::Kind::lost;
    e.position = last_ + 1;
    emit(e);
}

void Tracker::count_outside(std::uint64_t to)
{
    const std::uint64_t oldest = index_ > kHistory ? index_ - kHistory : 0;
    if (outside_counted_ < oldest)
        outside_counted_ = oldest;  // already counted when it went by
    for (std::uint64_t i = outside_counted_; i < to; ++i) {
        const double v = value(i);
        ++gap_.samples;
        if (v != 0.0)
            gap_.silent = false;
        if (v == v)
            gap_.peak = std::max(gap_.peak, std::fabs(v));
        else
            gap_.peak = INFINITY;
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
    if (state_ == State::tracking && model_.tone && pos_ < index_) {
        const auto n = static_cast<std::size_t>(index_ - pos_);
        if (n >= kToneChunk)
            judge_tone_block(pos_, n);
    }
    if (state_ == State::tracking && !model_.deterministic && !model_.tone && pos_ < index_) {
        const auto n = static_cast<std::size_t>(index_ - pos_);
        if (n >= static_cast<std::size_t>(4 * model_.words.cycle))
            judge_block(pos_, n);
        if (state_ == State::tracking && pos_ < index_) {
            accept(pos_, index_);
            pos_ = index_;
        }
    }
    if (state_ == State::searching) {
        // Too little left to tell whether the pattern came back.
        lose(last_fit(old_, break_at_, index_));
    }
    if (state_ == State::outside && !span_ && index_ - next_window_ >= static_cast<std::uint64_t>(4 * 12)) {
        // A short capture: one last window of what is left.
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(index_ - next_window_, 2 * kBlock));
        if (lock_at(index_ - n, n) && state_ == State::tracking && !model_.deterministic && pos_ < index_)
            accept(pos_, index_);
        if (state_ == State::tracking && model_.deterministic)
            step_tracking();
        if (state_ == State::searching)
            lose(last_fit(old_, break_at_, index_));
    }
    if (state_ == State::tracking) {
        end_crisp_ = end_crisp_ && (model_.deterministic || model_.clean);
        close_stretch();
    }

    Channel_Report r;
    if (!span_)
        return r;
    outside_counted_ = std::max(outside_counted_, last_ + 1);
    count_outside(index_);
    r.after = gap_;
    r.before = before_;
    r.present = true;
    r.first = first_;
    r.last = last_;
    r.repeat = repeat_;
    r.repeat_fits = repeat_ == 0 || repeat_ == repetitions_per_word(rate_);
    r.duration = match_duration(r.length(), rate_);
    if (r.length() % static_cast<std::uint64_t>(rate_) == 0)
        r.whole_seconds = static_cast<long long>(r.length() / static_cast<std::uint64_t>(rate_));
    r.inverted = any_inverted_;
    r.gain = any_gain_;
    r.offset = any_offset_;
    r.altered = any_altered_ || !r.repeat_fits;
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
    r.accounting.cycle = repeat_ > 0 && r.repeat_fits && !any_resampled_ ? first_cycle_ : 0;
    r.accounting.first_phase = first_phase_;
    r.accounting.last_phase = r.accounting.cycle > 0 ? model_.words.phase(last_) : 0;
    r.accounting.start_crisp = start_crisp_;
    r.accounting.end_crisp = end_crisp_;
    r.accounting.starts_capture = first_ == 0;
    r.accounting.ends_capture = last_ + 1 == index_;
    r.accounting.foreign = foreign_total_;
    r.accounting.lost_residue = lost_residue_total_;
    judge_length(r, rate_);
    return r;
}

}  // namespace kova::analysis::detail
