#include "tracker.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>

#include "kova/pattern.h"
#include "kova/settings.h"
#include "stretch_judge.h"

namespace kova::analysis::detail {
namespace {

constexpr double kPi = 3.14159265358979323846;
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
// Digital silence that ends a resampler's ringing: a run of zeros this long.
constexpr std::uint64_t kSilentRun = 16;
// A tone at a rate its cycle divides drifts at least this much to be a
// clock apart rather than the staircase.
constexpr double kToneDriftPpm = 3.0;

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
      format_(format),
      decoder_(format),
      channel_(channel),
      sink_(sink),
      history_(format),
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
    // Only once every window still to be tested lies within the run: a run
    // taken whole then never leaves a window that reaches before it untested.
    if (state_ == State::outside && outside_table_.period == 1 && next_window_ >= constant_from_ &&
        next_block_ >= constant_from_) {
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
    if (state_ == State::outside) {
        // Windows wholly within a run of one value cannot hold the pattern:
        // passed over as their tests would have.
        const std::uint64_t end = history_.end() + count;
        auto pass = [&](std::uint64_t& next, std::size_t size) {
            if (next >= constant_from_ && next + size <= end)
                next += (end - size - next) / size * size + size;
        };
        pass(next_window_, kWindow);
        pass(next_block_, kBlock);
        // What came before the run is counted while the history still
        // holds it; the run itself after, in one go.
        count_outside(std::min(history_.end(), reach_back(std::min(next_window_, next_block_))));
    }
    if (state_ == State::tracking) {
        stretch_.add_table(count, phase, model_.table.period, model_.table_value, model_.table_exact);
        last_ = history_.end() + count - 1;
    }
    history_.append_table(count, *t, phase);
    pos_ = history_.end();
    if (state_ == State::outside)
        count_settled_outside();
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

// ---- outside the span

bool Tracker::step_outside()
{
    if (pos_ == history_.end())
        return false;
    // Short windows find a clean pattern within a few cycles of its start,
    // whole blocks a noisy one or a tone. They are tested in the order they
    // end, whatever the samples arrived in: the first that holds the
    // pattern starts the span.
    for (;;) {
        const std::uint64_t short_end = next_window_ + kWindow;
        const std::uint64_t block_end = next_block_ + kBlock;
        if (std::min(short_end, block_end) > history_.end())
            break;
        if (short_end <= block_end) {
            if (lock_at(next_window_, kWindow))
                return true;
            next_window_ += kWindow;
        } else {
            if (lock_at(next_block_, kBlock))
                return true;
            next_block_ += kBlock;
        }
    }
    // Runs of one value (silence) are then compared as they lie.
    const bool had_table = outside_table_.period == 1;
    outside_table_.period = 0;
    if (history_.end() - pos_ >= kConstantRun || history_.end() - outside_from_ >= kConstantRun) {
        const unsigned char* last = history_.raw(history_.end() - 1);
        bool constant = true;
        for (std::uint64_t i = history_.end() - kConstantRun; i < history_.end() - 1 && constant; ++i)
            constant = same_sample(history_.raw(i), last, format_.bytes);
        if (constant) {
            // Where the run is known to begin: kept while it goes on.
            if (!had_table || !same_sample(outside_table_.value[0], last, format_.bytes))
                constant_from_ = history_.end() - kConstantRun;
            outside_table_.period = 1;
            outside_table_.bytes = format_.bytes;
            std::memcpy(outside_table_.value[0], last, static_cast<std::size_t>(format_.bytes));
            outside_table_.laid_out.clear();
            outside_table_.lay_out();
        }
    }
    pos_ = history_.end();
    count_settled_outside();
    return false;
}

bool Tracker::make_model(const Word_Model& words, std::uint64_t from, std::size_t n, Model& out) const
{
    out = Model{};
    out.words = words;
    const auto cycle = static_cast<std::uint64_t>(words.cycle);
    bool periodic = true;
    for (std::uint64_t i = from + cycle; i < from + n && periodic; ++i)
        periodic = same_sample(history_.raw(i), history_.raw(i - cycle), format_.bytes);
    if (periodic) {
        out.deterministic = true;
        out.table.period = words.cycle;
        out.table.bytes = format_.bytes;
        for (std::uint64_t i = from; i < from + cycle; ++i) {
            const int p = words.phase(i);
            std::memcpy(out.table.value[p], history_.raw(i), static_cast<std::size_t>(format_.bytes));
            out.table_value[p] = history_.value(i);
            out.words.level[p] = history_.value(i);
            out.table_exact[p] = decoder_.is_word(history_.value(i), kPatternWords[p / words.repeat]);
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
    const double v = history_.value(i);
    return std::fabs(v - m.words.level[m.words.phase(i)]) < 0.5 * std::fabs(m.words.gain) * 1024;
}

bool Tracker::fits(const Model& m, std::uint64_t i) const
{
    const int p = m.words.phase(i);
    if (m.deterministic)
        return same_sample(history_.raw(i), m.table.value[p], format_.bytes);
    const double v = history_.value(i);
    return std::fabs(v - m.words.level[p]) <= m.tolerance;
}

std::uint64_t Tracker::refine_back(const Model& m, std::uint64_t from, std::uint64_t limit) const
{
    limit = std::max(limit, reach_back(from));
    if (!m.deterministic && !m.clean)
        return change_point(m, limit, from);
    std::uint64_t s = from;
    while (s > limit && fits(m, s - 1)) --s;
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
    const double mean = mean_of(lo, lo + head);
    // cost(m) = sum over [lo, m) of other + sum over [m, hi) of pattern;
    // walk m down from hi keeping the running difference.
    double best = 0.0, running = 0.0;
    std::uint64_t at = hi;
    for (std::uint64_t i = hi; i-- > lo;) {
        running += fit_difference(m, i, mean);
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
        while (i < hi && fits(m, i)) ++i;
        return i;
    }
    // Noisy: the split between the model and what follows it.
    double best = 0.0, running = 0.0;
    std::uint64_t at = from;
    const std::uint64_t tail = std::max<std::uint64_t>(1, (hi - from) / 4);
    const double mean = mean_of(hi - tail, hi);
    for (std::uint64_t i = from; i < hi; ++i) {
        running += fit_difference(m, i, mean);
        if (running < best) {
            best = running;
            at = i + 1;
        }
    }
    return at;
}

// The mean of the values in [lo, hi), leaving out any that is not a number.
double Tracker::mean_of(std::uint64_t lo, std::uint64_t hi) const
{
    double sum = 0.0, taken = 0.0;
    for (std::uint64_t i = lo; i < hi; ++i)
        if (history_.value(i) == history_.value(i)) {
            sum += history_.value(i);
            taken += 1;
        }
    return taken > 0 ? sum / taken : 0.0;
}

// Sample i's squared error against the model less its squared error against
// `other`: negative where the model fits it better; 0 for a sample that is
// not a number, which speaks for neither.
double Tracker::fit_difference(const Model& m, std::uint64_t i, double other) const
{
    const double v = history_.value(i);
    if (v != v)
        return 0.0;
    const double e_model = v - m.words.level[m.words.phase(i)];
    const double e_other = v - other;
    return e_model * e_model - e_other * e_other;
}

bool Tracker::lock_at(std::uint64_t from, std::size_t n)
{
    if (n >= kBlock && tone_seen_) {
        // The block from the window that showed a tone: what came before
        // it (silence, a resampler's first samples) is none of the tone.
        tone_seen_ = false;
        const std::uint64_t t = std::max(tone_at_, from);
        const auto rest = static_cast<std::size_t>(from + n - t);
        history_.copy(t, rest, scratch_.data());
        if (rest >= 2 * kToneChunk && try_tone(t, rest, Tone_Need::any))
            return true;
    }
    history_.copy(from, n, scratch_.data());
    const auto words = find_words(scratch_.data(), n, from, decoder_.quantum());
    const bool tone_seen = tone_seen_ && n < kBlock;
    tone_seen_ = tone_seen;
    if (!words)
        return n >= kBlock && try_tone(from, n, Tone_Need::apart);
    // Told apart before the span is judged: a resampler's tone is followed
    // as one from its first sample, the staircase as words.
    const Band band = band_of(*words);
    tone_seen_ = n < kBlock && (tone_seen || band == Band::tone);
    if (tone_seen_ && !tone_seen)
        tone_at_ = from;
    if (band == Band::tone && n >= 2 * kToneChunk && try_tone(from, n, Tone_Need::any))
        return true;
    if (band == Band::unsure && n >= kBlock && try_tone(from, n, Tone_Need::drift))
        return true;
    // Once a window showed a tone, the block around it tells its frequency
    // and where it began (a resampler's first samples are no staircase).
    if (tone_seen_)
        return false;
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

long Tracker::family_of(int cycle) const
{
    for (const long f0 : {14700L, 16000L})
        if (f0 * cycle == rate_)
            return f0;
    return 0;
}

Tracker::Band Tracker::band_of(const Word_Model& w) const
{
    const long f0 = family_of(w.cycle);
    if (f0 == 0)
        return Band::staircase;
    double mean = 0.0;
    for (int p = 0; p < w.cycle; ++p) mean += w.level[p] / w.cycle;
    // The words at a gain and an offset, within the noise of their means
    // and the capture's rounding.
    double aw = 0.0, ww = 0.0;
    for (int p = 0; p < w.cycle; ++p) {
        aw += (w.level[p] - mean) * word_swing(p, w.repeat);
        ww += word_swing(p, w.repeat) * word_swing(p, w.repeat);
    }
    const double noise = w.samples > w.cycle ? w.spread / std::sqrt(w.samples / w.cycle) : w.spread;
    const double tolerance = std::max(1.5 * std::max(decoder_.quantum(), 1.0), 4 * noise);
    bool staircase = true;
    for (int p = 0; p < w.cycle; ++p)
        staircase =
            staircase && std::fabs(w.level[p] - mean - aw / ww * word_swing(p, w.repeat)) <= tolerance;
    // A resampler's tone where only other rates' staircases leave these
    // harmonics, within the noise of the levels.
    double size[kMaxHarmonic + 1];
    cycle_harmonics(w.level, w.cycle, size);
    bool elsewhere = false;
    source_rate(size, mean, f0, rate_, 0.01 + 4 * noise / (size[1] > 0 ? size[1] : 1.0), &elsewhere);
    if (elsewhere)
        return Band::tone;
    // This rate's own harmonics turned by a fraction of a sample may be a
    // clock apart, or a filter: a drift tells.
    return staircase ? Band::staircase : Band::unsure;
}

bool Tracker::try_tone(std::uint64_t from, std::size_t n, Tone_Need need)
{
    const auto fit = find_tone(scratch_.data(), n, from, rate_);
    if (!fit)
        return false;
    if (need != Tone_Need::any && rate_ % fit->family_rate == 0 &&
        std::fabs(drift_ppm_of(*fit)) < kToneDriftPpm) {
        // At a rate this family's cycle divides, a tone that keeps time is
        // the staircase unless its harmonics are another rate's.
        if (need == Tone_Need::drift)
            return false;
        double size[kMaxHarmonic + 1];
        for (int k = 1; k <= kMaxHarmonic; ++k) size[k] = std::abs(fit->harmonic[k]);
        const double noise = fit->spread * std::sqrt(2 / fit->weight) / std::max(size[1], 1.0);
        bool elsewhere = false;
        source_rate(size, fit->mean, fit->family_hz, rate_, 0.01 + 4 * noise, &elsewhere);
        if (!elsewhere)
            return false;
    }
    // Back, chunk by chunk, while the tone holds, then to the sample.
    const std::uint64_t limit = std::max(span_ ? gap_start() : outside_from_, reach_back(from));
    std::uint64_t s = from;
    while (s >= limit + kToneChunk && tone_holds_for(*fit, s - kToneChunk, kToneChunk)) s -= kToneChunk;
    s = tone_start(*fit, s, limit);
    if (span_) {
        // What came before is judged as what it was; the gap, if any, was
        // foreign, and how much was lost a tone cannot count.
        close_stretch();
        count_outside(s);
        gap_ = Outside{};
        residues_known_ = false;
        if (s > gap_start())
            add_dropout(gap_start(), s - gap_start(), 0, 0);
    }
    model_ = Model{};
    model_.tone = true;
    if (!span_) {
        begin_span(s);
    } else {
        begin_stretch(s);
        end_crisp_ = true;
    }
    start_tone(*fit, from, n);
    stretch_.end = from + n;
    last_ = from + n - 1;
    pos_ = from + n;
    state_ = State::tracking;
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
    emit(e);
    tone_->take(history_.view(from, n, scratch_.data()), n, from, rate_);
}

// A word model that is a resampler's tone after all, or stops holding
// because its phase runs away too fast for the words' fold over a block (a
// clock apart). Followed as a tone from where the words began when they
// were never exact.
bool Tracker::becomes_tone(std::uint64_t from, std::size_t n, Tone_Need need)
{
    const long f0 = family_of(model_.words.cycle);
    if (f0 == 0 || n > 2 * kBlock)
        return false;
    history_.copy(from, n, scratch_.data());
    const auto fit = find_tone(scratch_.data(), n, from, rate_);
    if (!fit || fit->family_hz != f0 ||
        (need != Tone_Need::any && std::fabs(drift_ppm_of(*fit)) < kToneDriftPpm))
        return false;
    double size[kMaxHarmonic + 1];
    cycle_harmonics(model_.words.level, model_.words.cycle, size);
    const double ratio = std::abs(fit->harmonic[1]) / size[1];
    if (!(ratio > 0.7 && ratio < 1.4))
        return false;
    if (stretch_.differing == 0 && stretch_.changed == 0 && stretch_.length() > 0) {
        close_stretch();
    } else if (stretch_.first == first_) {
        repeat_ = 0;
        first_cycle_ = 0;
        first_phase_ = 0;
    }
    start_tone(*fit, from, n);
    stretch_.end = from + n;
    last_ = from + n - 1;
    pos_ = from + n;
    return true;
}

bool Tracker::tone_holds(std::uint64_t from, std::size_t n)
{
    return tone_holds_for(tone_->fit(), from, n);
}

bool Tracker::tone_holds_for(const Tone_Fit& tone, std::uint64_t from, std::size_t n)
{
    const double* x = history_.view(from, n, scratch_.data());
    const Tone_Fit t = refit_tone(tone, x, n, from, rate_);
    const double ratio = std::abs(t.harmonic[1]) / std::abs(tone.harmonic[1]);
    // A DC still settling (a high-pass after the resampler) is not other
    // material: its straight line is left out of what the tone must carry.
    double power = 0.0, sxt = 0.0, stt = 0.0;
    for (const auto& h : t.harmonic) power += std::norm(h) / 2;
    const double centre = static_cast<double>(n - 1) / 2;
    for (std::size_t i = 0; i < n; ++i) {
        sxt += (x[i] - t.mean) * (static_cast<double>(i) - centre);
        stt += (static_cast<double>(i) - centre) * (static_cast<double>(i) - centre);
    }
    const double rest =
        (t.fraction > 0 ? power / t.fraction : 0.0) - sxt * sxt / stt / static_cast<double>(n);
    return rest > 0 && power / rest >= 0.4 && ratio > 0.7 && ratio < 1.4;
}

// As fit_difference, against the tone.
double Tracker::tone_difference(const Tone_Fit& tone, std::uint64_t i, double other) const
{
    const double v = history_.value(i);
    if (v != v)
        return 0.0;
    const double e_tone = v - tone_value(tone, i, rate_);
    const double e_other = v - other;
    return e_tone * e_tone - e_other * e_other;
}

// The first sample of a tone that holds from chunk s on. A resampler rings
// ahead of what it was given: after digital silence that ringing belongs
// to the span, back to the silence. After other material, the split that
// leaves the least squared error, that material taken as its mean.
std::uint64_t Tracker::tone_start(const Tone_Fit& tone, std::uint64_t s, std::uint64_t limit) const
{
    const std::uint64_t lo = std::max(limit, s > kToneAhead ? s - kToneAhead : 0);
    std::uint64_t earliest = s + kToneChunk, zeros = 0;
    for (std::uint64_t i = s + kToneChunk; i > lo && zeros < kSilentRun; --i) {
        if (history_.value(i - 1) == 0.0) {
            ++zeros;
        } else {
            zeros = 0;
            earliest = i - 1;
        }
    }
    if (zeros >= kSilentRun)
        return earliest;
    // Where the walk back stopped at what may be taken, not where the tone
    // failed, there is no change to find.
    if (s < limit + kToneChunk)
        return s;
    const std::uint64_t a = s - kToneChunk;
    const double other = mean_of(a, std::min(a + kToneChunk / 4, s + kToneChunk));
    double best = 0.0, running = 0.0;
    std::uint64_t at = s + kToneChunk;
    for (std::uint64_t i = s + kToneChunk; i-- > a;)
        if ((running += tone_difference(tone, i, other)) < best) {
            best = running;
            at = i;
        }
    return at;
}

// One past the last sample of a tone that held up to chunk end e, no
// earlier than floor: the ringing after it too, up to digital silence.
std::uint64_t Tracker::tone_end(const Tone_Fit& tone, std::uint64_t e, std::uint64_t floor) const
{
    const std::uint64_t a = std::max(floor, e > kToneChunk ? e - kToneChunk : 0);
    const std::uint64_t hi = std::min(history_.end(), e + kToneAhead);
    std::uint64_t end = a, zeros = 0, i = a;
    for (; i < hi && zeros < kSilentRun; ++i) {
        if (history_.value(i) == 0.0) {
            ++zeros;
        } else {
            zeros = 0;
            end = i + 1;
        }
    }
    if (zeros >= kSilentRun)
        return end;
    const std::uint64_t b = std::min(hi, e + kToneChunk);
    const double other = mean_of(b - kToneChunk / 4, b);
    double best = 0.0, running = 0.0;
    std::uint64_t at = a;
    for (i = a; i < b; ++i)
        if ((running += tone_difference(tone, i, other)) < best) {
            best = running;
            at = i + 1;
        }
    return at;
}

bool Tracker::judge_tone_block(std::uint64_t from, std::size_t n)
{
    if (tone_->take(history_.decoded(from, n, scratch_.data()), n, from, rate_)) {
        stretch_.end = from + n;
        last_ = from + n - 1;
        pos_ = from + n;
        return true;
    }
    // Where it stopped, chunk by chunk, then to the sample.
    std::uint64_t end = from;
    while (end + kToneChunk <= from + n && tone_holds(end, kToneChunk)) end += kToneChunk;
    end = tone_end(tone_->fit(), end, from);
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
    if (pos_ == history_.end())
        return false;
    if (model_.deterministic) {
        // The ring ends somewhere: compare up to there at a time.
        auto n = static_cast<std::size_t>(history_.end() - pos_);
        const Raw_View raw = history_.raw_run(pos_, n);
        const std::size_t run = match_run(model_.table, model_.words.phase(pos_), raw, n);
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
    if (history_.end() - pos_ < kBlock + (model_.tone ? kToneAhead : 0))
        return false;
    return model_.tone ? judge_tone_block(pos_, kBlock) : judge_block(pos_, kBlock);
}

bool Tracker::judge_block(std::uint64_t from, std::size_t n)
{
    const int cycle = model_.words.cycle;
    const Block_Summary summary = summarize(history_.decoded(from, n, scratch_.data()), n,
                                            model_.words.phase(from), cycle, decoder_.word_width());
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
    const bool consistent =
        std::fabs(size - 1) <= kSizeDrift + 5 * noise && std::fabs(off) <= kTurnDrift + 5 * noise;
    // A block told as a resampler's tone, or whose phase runs away too fast
    // for the words' fold: followed as a tone.
    if ((!consistent || band_of(fit) == Band::tone) &&
        becomes_tone(from, n, consistent ? Tone_Need::any : Tone_Need::drift))
        return true;
    if (!consistent) {
        break_at_ = from;
        old_ = model_;
        next_window_ = from + n / 2;
        state_ = State::searching;
        return true;
    }
    stretch_.add_summary(summary, n);
    stretch_.phase_line.add(static_cast<double>(from) + static_cast<double>(n) / 2,
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
    // Windows within a fixed reach of the break, so that where the search
    // gives up does not depend on how the samples arrived.
    const std::uint64_t reach = std::min(history_.end(), break_at_ + kGiveUp);
    while (next_window_ + window <= reach) {
        const std::uint64_t t = next_window_;
        Model resumed;
        if (resumes(old_, t, window, resumed)) {
            settle(resumed, t, window);
            return true;
        }
        // A few foreign samples at the window's start (silence inserted)
        // would otherwise be taken into a noisy model found across them:
        // the old one resuming within the window comes first.
        if (precise)
            for (std::uint64_t s = t + 1; s + kWindow / 4 <= t + window; ++s)
                if (resumes(old_, s, static_cast<std::size_t>(t + window - s), resumed)) {
                    settle(resumed, s, static_cast<std::size_t>(t + window - s));
                    return true;
                }
        history_.copy(t, window, scratch_.data());
        if (const auto words = find_words(scratch_.data(), window, t, decoder_.quantum())) {
            Model m;
            make_model(*words, t, window, m);
            settle(m, t, window);
            return true;
        }
        next_window_ += precise ? window : window / 2;
    }
    if (history_.end() - break_at_ >= kGiveUp) {
        lose(last_fit(old_, break_at_, std::min<std::uint64_t>(history_.end(), break_at_ + kBlock)));
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
        for (std::uint64_t i = t; i < t + n && all; ++i) all = fits(m, i);
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

}  // namespace kova::analysis::detail
