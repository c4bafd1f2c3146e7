#include "kova/analysis/channel_analyser.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "kova/analysis/levels.h"
#include "kova/pattern.h"

namespace kova::analysis {
namespace {

// Whole cycles in a row before a stretch counts as the pattern: enough that
// noise or music never passes by chance, few enough (1 ms at 192 kHz) that
// a short capture still does.
constexpr int kLockCycles = 16;
// After a break, the cycles in a row that show it has resumed.
constexpr int kResumeCycles = 4;
// Exact cycles in a row that start a stretch of exact words inside a
// stretch of changed ones: at 3 in 4 exact, as 16-bit dither leaves the
// words, 3 x 256 of them in a row never happen by chance.
constexpr int kExactCycles = 256;
// Levels closer together than this (a gain below about -36 dB) are taken for
// silence or noise, not the pattern.
constexpr double kMinHalfSpacing = 8.0;
// Dropouts kept for the report; the rest are only counted.
constexpr std::size_t kKeptDropouts = 8;
// How closely a smoothed cycle must follow the steps to count as the pattern.
// Any cycle of 3 correlates at least 0.5 with the steps at its best shift, as
// a filter or a fractional delay leaves it; that is the floor.
constexpr double kLooseCorrelation = 0.5;
// Samples compared in one go against the expected pattern.
constexpr std::size_t kCompare = 4096;
// A float sample of 1.0 is 2^23 steps of a 24-bit word.
constexpr double kFloatSteps = 8388608.0;

int word(int slot) { return kPatternWords[slot]; }

// The words average 2560; a capture of them at some gain averages about that
// times the gain, give or take an offset of up to half of it.
bool near_mean_level(double mean, double gain)
{
    const double ratio = mean / (gain * (kPatternWords[0] + kPatternWords[1] + kPatternWords[2]) / 3);
    return ratio >= 0.5 && ratio <= 1.5;
}

int wrap(long long value, int cycle)
{
    const long long r = value % cycle;
    return static_cast<int>(r < 0 ? r + cycle : r);
}

}  // namespace

void Channel_Analyser::Sums::add(int slot, const Sample& s, std::int32_t w)
{
    if (n[slot] == 0) {
        min[slot] = max[slot] = s.value;
    } else {
        min[slot] = std::min(min[slot], s.value);
        max[slot] = std::max(max[slot], s.value);
    }
    ++n[slot];
    sum[slot] += s.value;
    if (s.word == w) {
        ++exact;
    } else {
        const double d = std::fabs(s.value - w);
        ++differing;
        max_difference = std::max(max_difference, d);
        sum_sq_difference += d * d;
    }
    if (s.word == -w)
        ++inverted;
}

void Channel_Analyser::Sums::add_exact(int slot, std::int32_t w, std::uint64_t count)
{
    if (count == 0)
        return;
    if (n[slot] == 0) {
        min[slot] = max[slot] = w;
    } else {
        min[slot] = std::min(min[slot], static_cast<double>(w));
        max[slot] = std::max(max[slot], static_cast<double>(w));
    }
    n[slot] += count;
    sum[slot] += static_cast<double>(w) * static_cast<double>(count);
    exact += count;
}

void Channel_Analyser::Sums::merge(const Sums& o)
{
    for (int k = 0; k < 3; ++k) {
        if (o.n[k] == 0)
            continue;
        min[k] = n[k] ? std::min(min[k], o.min[k]) : o.min[k];
        max[k] = n[k] ? std::max(max[k], o.max[k]) : o.max[k];
        n[k] += o.n[k];
        sum[k] += o.sum[k];
    }
    exact += o.exact;
    inverted += o.inverted;
    differing += o.differing;
    max_difference = std::max(max_difference, o.max_difference);
    sum_sq_difference += o.sum_sq_difference;
}

Channel_Analyser::Channel_Analyser(long rate, Sample_Format format) : rate_(rate), format_(format) {}

void Channel_Analyser::set_repeat(int repeat)
{
    repeat_ = repeat;
    cycle_ = 3 * repeat;
    const std::size_t n = kCompare + static_cast<std::size_t>(cycle_);
    expected_int_.resize(n);
    expected_double_.resize(n);
    expected_single_.resize(n);
    expected_bytes_.resize(3 * n);
    for (std::size_t i = 0; i < n; ++i) {
        const int w = word(static_cast<int>(i % static_cast<std::size_t>(cycle_)) / repeat);
        // As libsndfile returns a 24-bit sample: left-justified in 32 bits.
        expected_int_[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(w) << 8);
        expected_double_[i] = w / kFloatSteps;
        expected_single_[i] = static_cast<float>(w / kFloatSteps);  // exact: a word has 12 significant bits
        expected_bytes_[3 * i] = static_cast<unsigned char>(w & 0xFF);
        expected_bytes_[3 * i + 1] = static_cast<unsigned char>((w >> 8) & 0xFF);
        expected_bytes_[3 * i + 2] = static_cast<unsigned char>((w >> 16) & 0xFF);
    }
}

Channel_Analyser::Sample Channel_Analyser::from_int(std::int32_t s) const
{
    // The top 24 bits, rounded down as a shift would, for any width.
    const std::int64_t top = (static_cast<std::int64_t>(s) - (s & 0xFF)) / 256;
    return {s / 256.0, top};
}

Channel_Analyser::Sample Channel_Analyser::from_float(double x) const
{
    if (!std::isfinite(x))
        return {0.0, kNoWord};
    const double v = x * kFloatSteps;
    const bool whole = v == std::floor(v) && std::fabs(v) <= kFloatSteps;
    return {v, whole ? static_cast<std::int64_t>(v) : kNoWord};
}

void Channel_Analyser::feed_int(const std::int32_t* samples, std::size_t count, std::size_t stride)
{
    std::size_t i = 0;
    while (i < count) {
        if (state_ == State::kTracking && identity_) {
            const std::size_t n = exact_run_int(samples + i * stride, count - i, stride);
            accept_exact(n);
            i += n;
            if (i == count)
                break;
        }
        process(from_int(samples[i * stride]));
        ++i;
    }
}

void Channel_Analyser::feed_float(const double* samples, std::size_t count, std::size_t stride)
{
    feed_floats(samples, count, stride, expected_double_);
}

void Channel_Analyser::feed_float(const float* samples, std::size_t count, std::size_t stride)
{
    feed_floats(samples, count, stride, expected_single_);
}

template <typename Float>
void Channel_Analyser::feed_floats(const Float* samples, std::size_t count, std::size_t stride,
                                   const std::vector<Float>& expected)
{
    std::size_t i = 0;
    while (i < count) {
        if (state_ == State::kTracking && identity_) {
            const std::size_t n = exact_run_float(samples + i * stride, count - i, stride, expected);
            accept_exact(n);
            i += n;
            if (i == count)
                break;
        }
        process(from_float(samples[i * stride]));
        ++i;
    }
}

void Channel_Analyser::feed_pcm24le(const unsigned char* bytes, std::size_t count)
{
    std::int32_t decoded[kCompare];
    std::size_t i = 0;
    while (i < count) {
        const std::size_t n = std::min(count - i, kCompare);
        const unsigned char* p = bytes + 3 * i;
        if (state_ == State::kTracking && identity_ &&
            std::memcmp(p, expected_bytes_.data() + 3 * static_cast<std::size_t>(phase_), 3 * n) == 0) {
            accept_exact(n);
        } else {
            for (std::size_t j = 0; j < n; ++j, p += 3)
                decoded[j] = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                                       static_cast<std::uint32_t>(p[1]) << 16 |
                                                       static_cast<std::uint32_t>(p[2]) << 24);
            feed_int(decoded, n);
        }
        i += n;
    }
}

std::size_t Channel_Analyser::exact_run_int(const std::int32_t* x, std::size_t count,
                                            std::size_t stride) const
{
    // Only the top 24 bits decide, whatever the width.
    constexpr std::uint32_t kTop = 0xFFFFFF00u;
    std::size_t done = 0;
    int phase = phase_;
    while (done < count) {
        const std::size_t n = std::min(count - done, kCompare);
        const std::int32_t* e = expected_int_.data() + phase;
        const std::int32_t* s = x + done * stride;
        std::uint32_t diff = 0;
        if (stride == 1 && format_.bits <= 24) {
            // Up to 24 bits the low byte is always zero: a plain compare will do.
            diff = std::memcmp(s, e, n * sizeof *s) == 0 ? 0 : kTop;
        } else if (stride == 1) {
            for (std::size_t j = 0; j < n; ++j)
                diff |= static_cast<std::uint32_t>(s[j] ^ e[j]);
        } else {
            for (std::size_t j = 0; j < n; ++j)
                diff |= static_cast<std::uint32_t>(s[j * stride] ^ e[j]);
        }
        if ((diff & kTop) != 0) {
            std::size_t j = 0;
            while ((static_cast<std::uint32_t>(s[j * stride] ^ e[j]) & kTop) == 0)
                ++j;
            return done + j;
        }
        done += n;
        phase = wrap(phase + static_cast<long long>(n), cycle_);
    }
    return done;
}

template <typename Float>
std::size_t Channel_Analyser::exact_run_float(const Float* x, std::size_t count, std::size_t stride,
                                              const std::vector<Float>& expected) const
{
    std::size_t done = 0;
    int phase = phase_;
    while (done < count) {
        const std::size_t n = std::min(count - done, kCompare);
        const Float* e = expected.data() + phase;
        const Float* s = x + done * stride;
        // A word is neither zero nor NaN, so equal values are equal bits.
        bool differs = false;
        if (stride == 1) {
            differs = std::memcmp(s, e, n * sizeof *s) != 0;
        } else {
            for (std::size_t j = 0; j < n; ++j)
                differs |= s[j * stride] != e[j];
        }
        if (differs) {
            std::size_t j = 0;
            while (s[j * stride] == e[j])
                ++j;
            return done + j;
        }
        done += n;
        phase = wrap(phase + static_cast<long long>(n), cycle_);
    }
    return done;
}

void Channel_Analyser::process(Sample s)
{
    // Field by field, and then used from where it is kept: copying the
    // sample whole through the stack stalled every sample on the store.
    Sample& kept = recent_[index_ % kRecent];
    kept.value = s.value;
    kept.word = s.word;
    switch (state_) {
    case State::kSearching: search(); break;
    case State::kTracking: track(kept); break;
    case State::kBroken: resync(kept); break;
    }
    ++index_;
}

void Channel_Analyser::search()
{
    for (const int repeat : {4, 2, 1})
        if (try_lock(repeat))
            return;
    // Looser, for a chain that smoothed the steps but kept the cycle; the
    // shortest cycle first, since whatever repeats every 3 repeats every 12.
    for (const int repeat : {1, 2, 4})
        if (try_lock_loosely(repeat))
            return;
}

bool Channel_Analyser::try_lock(int repeat)
{
    const int cycle = 3 * repeat;
    const std::uint64_t window = static_cast<std::uint64_t>(kLockCycles) * static_cast<std::uint64_t>(cycle);
    if (index_ + 1 < kept_from_ + window)
        return false;

    // Cheap test first, on the last cycle only: three levels, evenly spaced
    // give or take the noise of a dithered capture.
    const std::uint64_t start = index_ + 1 - window;
    const std::uint64_t last_cycle = index_ + 1 - static_cast<std::uint64_t>(cycle);
    const double level[3] = {recent(last_cycle).value, recent(last_cycle + repeat).value,
                             recent(last_cycle + 2 * repeat).value};
    const double rough = std::fabs(level[2] - level[0]) / 4;
    if (!(rough >= kMinHalfSpacing) || !(std::fabs(level[1] - (level[0] + level[2]) / 2) <= rough))
        return false;

    // Then every sample of the window roughly, newest first so that noise
    // fails fast, for the levels' averages; then every sample against those.
    auto slot_of = [&](std::uint64_t i) {
        return static_cast<int>((i - start) % static_cast<std::uint64_t>(cycle)) / repeat;
    };
    double mean[3] = {};
    for (std::uint64_t i = index_ + 1; i-- > start;) {
        const double v = recent(i).value;
        if (!(std::fabs(v - level[slot_of(i)]) <= 2 * rough))
            return false;
        mean[slot_of(i)] += v / (kLockCycles * repeat);
    }
    // Half the distance between neighbouring levels: nearer its own than any other.
    const double half = std::fabs(mean[2] - mean[0]) / 4;
    if (!(half >= kMinHalfSpacing) || !(std::fabs(mean[1] - (mean[0] + mean[2]) / 2) <= half / 2) ||
        !near_mean_level((mean[0] + mean[1] + mean[2]) / 3, (mean[2] - mean[0]) / (word(2) - word(0))))
        return false;
    for (std::uint64_t i = start; i <= index_; ++i)
        if (!(std::fabs(recent(i).value - mean[slot_of(i)]) <= half))
            return false;

    double levels[12];
    for (int p = 0; p < cycle; ++p)
        levels[p] = mean[p / repeat];
    lock(repeat, start, levels, half);
    return true;
}

bool Channel_Analyser::try_lock_loosely(int repeat)
{
    const int cycle = 3 * repeat;
    const auto k = static_cast<std::size_t>(repeat == 1 ? 0 : repeat == 2 ? 1 : 2);
    const std::uint64_t window = static_cast<std::uint64_t>(kLockCycles) * static_cast<std::uint64_t>(cycle);
    // The rounding of the capture on both sides, and a little for the chain.
    const double tolerance = 16.0 + 2 * std::ldexp(1.0, 24 - (format_.is_float ? 24 : format_.bits));
    if (index_ < kept_from_ + static_cast<std::uint64_t>(cycle) ||
        !(std::fabs(recent(index_).value - recent(index_ - static_cast<std::uint64_t>(cycle)).value) <=
          tolerance)) {
        periodic_run_[k] = 0;
        return false;
    }
    if (++periodic_run_[k] < window)
        return false;

    // Repeats with the pattern's cycle; does one cycle look like the steps?
    const std::uint64_t start = index_ + 1 - window;
    double t[12] = {};
    for (std::uint64_t i = start; i <= index_; ++i)
        t[(i - start) % static_cast<std::uint64_t>(cycle)] += recent(i).value / kLockCycles;
    double t_mean = 0, w_mean = 0;
    for (int p = 0; p < cycle; ++p) {
        t_mean += t[p] / cycle;
        w_mean += static_cast<double>(word(p / repeat)) / cycle;
    }
    // The best shift of the steps that is alike in shape, of some size, and
    // around the words' own mean level for its size (a tone of the same
    // period around zero is not the pattern, nor a falling cycle the rising).
    double best = 0;
    int best_shift = -1;
    for (int shift = 0; shift < cycle; ++shift) {
        double tw = 0, tt = 0, ww = 0;
        for (int p = 0; p < cycle; ++p) {
            const double dt = t[(p + shift) % cycle] - t_mean;
            const double dw = word(p / repeat) - w_mean;
            tw += dt * dw;
            tt += dt * dt;
            ww += dw * dw;
        }
        const double correlation = tt > 0 ? tw / std::sqrt(tt * ww) : 0;
        // The cycle's size against the steps', signed as the shapes agree: a
        // filter that rounds the steps off takes less from it than from the fit.
        const double gain = std::copysign(std::sqrt(tt / ww), correlation);
        if (std::fabs(correlation) >= kLooseCorrelation && std::fabs(correlation) > std::fabs(best) &&
            std::fabs(gain) * 1024 / 2 >= kMinHalfSpacing && near_mean_level(t_mean, gain)) {
            best = correlation;
            best_shift = shift;
        }
    }
    if (best_shift < 0)
        return false;

    double levels[12];
    for (int p = 0; p < cycle; ++p)
        levels[p] = t[(p + best_shift) % cycle];
    lock(repeat, start + static_cast<std::uint64_t>(best_shift), levels, tolerance);
    return true;
}

void Channel_Analyser::new_stretch(int repeat, std::uint64_t first, const double* levels, double tolerance)
{
    if (present_) {
        // Keep the old stretch if it is the longest so far.
        const Channel_Report old = report();
        if (!longest_ || old.length() > longest_->length())
            longest_ = old;
        done_ = Sums{};
        partial_ = Sums{};
        dropout_count_ = 0;
        first_dropouts_.clear();
    }
    set_repeat(repeat);
    identity_ = true;
    for (int p = 0; p < cycle_; ++p) {
        level_[p] = levels[p];
        identity_ = identity_ && levels[p] == word(p / repeat);
    }
    tolerance_ = tolerance;
    present_ = true;
    first_ = first;
    phase_ = 0;
    exact_run_ = 0;
    state_ = State::kTracking;
}

void Channel_Analyser::lock(int repeat, std::uint64_t first, const double* levels, double tolerance)
{
    new_stretch(repeat, first, levels, tolerance);
    for (std::uint64_t i = first; i <= index_; ++i)
        accept(recent(i), i);
}

void Channel_Analyser::lock_exact(std::uint64_t first)
{
    if (done_.differing == 0 && partial_.differing == 0) {
        // Exact all along (by the top 24 bits; the low bits differ): the
        // same stretch, now compared as words.
        for (int p = 0; p < cycle_; ++p)
            level_[p] = word(p / repeat_);
        identity_ = true;
        return;
    }
    double words[12];
    for (int p = 0; p < cycle_; ++p)
        words[p] = word(p / repeat_);
    const std::uint64_t end = index_ + 1;
    // Half the distance between neighbouring words.
    new_stretch(repeat_, first, words, (word(1) - word(0)) / 2.0);
    index_ = first;
    accept_exact(end - first);
    index_ = end - 1;  // process() moves on past the current sample
}

void Channel_Analyser::accept(const Sample& s, std::uint64_t index)
{
    const int slot = phase_ / repeat_;
    partial_.add(slot, s, word(slot));
    if (++phase_ == cycle_) {
        phase_ = 0;
        done_.merge(partial_);
        partial_ = Sums{};
        last_ = index;
    }
}

void Channel_Analyser::accept_exact(std::uint64_t count)
{
    auto one = [this] {
        const int w = word(phase_ / repeat_);
        accept({static_cast<double>(w), w}, index_);
        ++index_;
    };
    while (count > 0 && phase_ != 0) {
        one();
        --count;
    }
    const std::uint64_t cycles = count / static_cast<std::uint64_t>(cycle_);
    if (cycles > 0) {
        for (int k = 0; k < 3; ++k)
            done_.add_exact(k, word(k), cycles * static_cast<std::uint64_t>(repeat_));
        index_ += cycles * static_cast<std::uint64_t>(cycle_);
        count -= cycles * static_cast<std::uint64_t>(cycle_);
        last_ = index_ - 1;
    }
    while (count > 0) {
        one();
        --count;
    }
    kept_from_ = index_;
}

bool Channel_Analyser::fits(const Sample& s, int phase) const
{
    // A stretch of exact words stays exact; anything else breaks it.
    if (identity_)
        return s.word == word(phase / repeat_);
    return std::fabs(s.value - level_[phase]) <= tolerance_;
}

void Channel_Analyser::track(const Sample& s)
{
    if (fits(s, phase_)) {
        if (!identity_)
            count_exact(s);
        accept(s, index_);
        // A stretch that found its way to the exact words (after a fade, say)
        // starts over from there.
        if (!identity_ && phase_ == 0 &&
            exact_run_ >= static_cast<std::uint64_t>((kExactCycles + 1) * cycle_))
            lock_exact(exact_start_ + static_cast<std::uint64_t>(wrap(-exact_start_phase_, cycle_)));
        return;
    }
    break_at_ = index_;
    break_phase_ = phase_;
    std::fill(std::begin(run_), std::end(run_), 0);
    state_ = State::kBroken;
    resync(s);
}

void Channel_Analyser::count_exact(const Sample& s)
{
    if (s.word != word(phase_ / repeat_)) {
        exact_run_ = 0;
        return;
    }
    if (exact_run_++ == 0) {
        exact_start_ = index_;
        exact_start_phase_ = phase_;
    }
}

void Channel_Analyser::resync(const Sample& s)
{
    // The pattern may come back at other levels, or another repeat.
    search();
    if (state_ != State::kBroken)
        return;
    std::uint64_t next[12];
    int longest = 0;
    for (int p = 0; p < cycle_; ++p) {
        next[p] = fits(s, p) ? run_[(p + cycle_ - 1) % cycle_] + 1 : 0;
        if (next[p] > next[longest])
            longest = p;
    }
    std::copy(next, next + cycle_, run_);
    if (run_[longest] >= static_cast<std::uint64_t>(kResumeCycles * cycle_)) {
        const std::uint64_t length = run_[longest];
        resume(index_ + 1 - length, wrap(longest - static_cast<long long>(length - 1), cycle_));
    }
}

void Channel_Analyser::resume(std::uint64_t start, int start_phase)
{
    const std::uint64_t foreign = start - break_at_;
    // A cycle or less changed where the cycle goes on unshifted is a glitch in
    // the values (altered), counted among the region's samples as they are;
    // anything longer, or shifted, is a dropout.
    const bool replaced = foreign <= static_cast<std::uint64_t>(cycle_) &&
                          wrap(break_phase_ + static_cast<long long>(foreign), cycle_) == start_phase;
    if (!replaced) {
        Dropout d;
        d.position = break_at_;
        d.foreign = foreign;
        // Only known modulo the cycle: as many as were foreign if that fits
        // (replaced in place), else the fewest either way.
        int skipped = wrap(start_phase - break_phase_, cycle_);
        if (wrap(static_cast<long long>(foreign), cycle_) == skipped)
            d.skipped = static_cast<long long>(foreign);
        else
            d.skipped = skipped > cycle_ / 2 ? skipped - cycle_ : skipped;
        ++dropout_count_;
        if (first_dropouts_.size() < kKeptDropouts)
            first_dropouts_.push_back(d);
    }

    // The part cycle before the break stays in the region: it continues past it.
    state_ = State::kTracking;
    exact_run_ = 0;
    phase_ = replaced ? break_phase_ : start_phase;
    for (std::uint64_t i = replaced ? break_at_ : start; i <= index_; ++i)
        accept(recent(i), i);
}

Channel_Report Channel_Analyser::finish() const
{
    Channel_Report r = report();
    return longest_ && longest_->length() > r.length() ? *longest_ : r;
}

Channel_Report Channel_Analyser::report() const
{
    Channel_Report r;
    if (!present_)
        return r;
    r.present = true;
    r.first = first_;
    r.last = last_;
    r.repeat = repeat_;
    r.repeat_fits = repeat_ == repetitions_per_word(rate_);
    r.duration = match_duration(r.length(), rate_);

    const Sums& s = done_;
    const std::uint64_t n = s.n[0] + s.n[1] + s.n[2];
    r.differing = s.differing;
    r.max_difference = s.max_difference;
    r.rms_difference = n ? std::sqrt(s.sum_sq_difference / static_cast<double>(n)) : 0.0;
    r.dropout_count = dropout_count_;
    r.first_dropouts = first_dropouts_;
    r.dropouts = dropout_count_ > 0;

    if (s.exact == n)
        return r;
    if (s.inverted == n) {
        r.inverted = true;
        r.gain_factor = -1.0;
        return r;
    }
    Levels levels{};
    for (int k = 0; k < 3; ++k) {
        levels.min[k] = s.min[k];
        levels.max[k] = s.max[k];
        levels.mean[k] = s.n[k] ? s.sum[k] / static_cast<double>(s.n[k]) : 0.0;
    }
    // The capture rounds to its own resolution: 2^(24 - bits) steps for
    // integers, and for floats 24 significant bits of the value itself
    // (taken twice over, for the chain's own float arithmetic).
    double quantum = std::ldexp(1.0, 24 - format_.bits);
    if (format_.is_float)
        quantum = std::ldexp(std::max({std::fabs(s.min[0]), std::fabs(s.max[0]), std::fabs(s.min[2]),
                                       std::fabs(s.max[2]), 1.0}),
                             -22);
    const Change c = explain_levels(levels, quantum);
    if (!c.fits) {
        r.altered = true;
        return r;
    }
    r.inverted = c.inverted;
    r.gain = c.gain;
    r.offset = c.offset;
    r.gain_factor = c.factor;
    r.gain_db = 20 * std::log10(std::fabs(c.factor));
    r.offset_steps = c.offset_steps;
    return r;
}

}  // namespace kova::analysis
