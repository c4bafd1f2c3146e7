#include "full_channel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "target_clones.h"

namespace kova::analysis::detail {
namespace {

// After a break, windows are tried this far apart for this long, then at
// the search's step.
constexpr std::uint64_t kDenseStep = 64;
constexpr std::uint64_t kDense = 8192;
// After a break, the places this near the one before it are tried first on
// this many samples (more where the words come with noise, which a wrong
// place fits by chance more often).
constexpr std::int64_t kResumeReach = 2048;
constexpr std::uint64_t kResumeExact = 8;
constexpr std::uint64_t kResume = 16;
// Windows in a row whose words fit nothing before the pilot is followed as
// a tone instead.
constexpr int kUnfitWindows = 3;
// Samples before a window that must not repeat the pattern's cycle: runs of
// the pattern (or silence) are never the full signal, however they came.
constexpr std::size_t kLead = 24;
constexpr int kCycle = 12;
// Samples in a row that do not fit before it counts as a break: fewer are
// words changed in place.
constexpr std::size_t kBreak = 4;
// Samples of a new segment looked at to tell its symbol's lowest bit.
constexpr std::uint64_t kBitLook = 8;
constexpr std::size_t kKeptDropouts = 64;
constexpr std::size_t kKeptStretches = 8;
// A level model's tolerance: never near the code's 2^15 of room.
constexpr double kMaxTolerance = 16384.0;
// Blocks a tone is followed in, and the least of one taken at the end.
constexpr std::size_t kToneBlock = 4096;
constexpr std::size_t kToneTail = 256;

// A gain is one where it moves the loudest words by half a step of the
// grid or more: less is what a fit through noise or dither leaves.
bool names_gain(double g, double step)
{
    return std::fabs(std::fabs(g) - 1) * full::kPeak >= step / 2;
}

// A sample's difference from its word at a level below or above unity, in
// whole steps (towards zero, which a vector unit converts at once): its
// neighbours' products tell shaped noise there, as x - w does at unity. The
// same in a run as alone.
inline std::int32_t level_residual(double x, double g, std::int32_t w, double o)
{
    double d = x - g * w - o;
    d = d < -1073741824.0 ? -1073741824.0 : d;
    d = d > 1073741824.0 ? 1073741824.0 : d;
    return static_cast<std::int32_t>(d);
}

typedef double V4 __attribute__((vector_size(32)));
typedef long long M4 __attribute__((vector_size(32)));
typedef std::int32_t I4 __attribute__((vector_size(16)));

// x - g w at four samples, in the lanes of the vector loops that call it
// (through a reference: a vector returned would change the ABI by target).
__attribute__((always_inline)) inline void level_diff4(const double* x, const std::int32_t* w, double g,
                                                       V4& e)
{
    V4 v;
    std::memcpy(&v, x, sizeof v);
    const V4 wv = {static_cast<double>(w[0]), static_cast<double>(w[1]), static_cast<double>(w[2]),
                   static_cast<double>(w[3])};
    e = v - g * wv;
}

typedef std::uint32_t Words __attribute__((vector_size(32)));

KOVA_TARGET_DEFAULT void count_lanes(const std::int32_t* x, const std::int32_t* w, std::size_t n,
                                     std::uint32_t (*lanes)[kFullBitLanes]);

// The bits in which x and w differ, counted per position into lanes[24]
// of eight or sixteen words side by side (W's lanes): bit b lands in nibble
// b / 4 of the sum for b % 4, which holds fifteen words; the nibbles then go
// into bytes, which hold seventeen such sums, and the bytes into the lanes.
template <typename W>
__attribute__((always_inline)) inline void count_words(const std::int32_t* x, const std::int32_t* w,
                                                       std::size_t n, std::uint32_t (*lanes)[kFullBitLanes])
{
    constexpr std::size_t width = sizeof(W) / sizeof(std::uint32_t);
    constexpr std::uint32_t kNibbles = 0x111111;  // bits 0, 4, ... 20
    constexpr std::uint32_t kLow = 0x0F0F0F;
    std::size_t k = 0;
    while (n - k >= width) {
        W bytes[8] = {};  // [j]: bits j, j + 8 and j + 16 in bytes 0 to 2
        for (int round = 0; round < 17 && n - k >= width; ++round) {
            W nibbles[4] = {};
            for (int row = 0; row < 15 && n - k >= width; ++row, k += width) {
                W xv, wv;
                std::memcpy(&xv, x + k, sizeof xv);
                std::memcpy(&wv, w + k, sizeof wv);
                const W e = xv ^ wv;
                nibbles[0] += e & kNibbles;
                nibbles[1] += e >> 1 & kNibbles;
                nibbles[2] += e >> 2 & kNibbles;
                nibbles[3] += e >> 3 & kNibbles;
            }
            for (int j = 0; j < 4; ++j) {
                bytes[j] += nibbles[j] & kLow;
                bytes[j + 4] += nibbles[j] >> 4 & kLow;
            }
        }
        for (int j = 0; j < 8; ++j) {
            const W parts[3] = {bytes[j] & 0xFF, bytes[j] >> 8 & 0xFF, bytes[j] >> 16};
            for (int p = 0; p < 3; ++p) {
                W lane;
                std::memcpy(&lane, lanes[j + 8 * p], sizeof lane);
                lane += parts[p];
                std::memcpy(lanes[j + 8 * p], &lane, sizeof lane);
            }
        }
    }
    if (k < n) {
        // The last words with zeros after them, which differ in no bit.
        std::int32_t a[width] = {}, b[width] = {};
        std::memcpy(a, x + k, (n - k) * sizeof *a);
        std::memcpy(b, w + k, (n - k) * sizeof *b);
        count_lanes(a, b, width, lanes);
    }
}

#ifdef KOVA_TARGET_WIDE
typedef std::uint32_t Words16 __attribute__((vector_size(64)));

KOVA_TARGET_WIDE void count_lanes(const std::int32_t* x, const std::int32_t* w, std::size_t n,
                                  std::uint32_t (*lanes)[kFullBitLanes])
{
    count_words<Words16>(x, w, n, lanes);
}

__attribute__((target("avx2"))) void count_lanes(const std::int32_t* x, const std::int32_t* w, std::size_t n,
                                                 std::uint32_t (*lanes)[kFullBitLanes])
{
    count_words<Words>(x, w, n, lanes);
}
#endif

KOVA_TARGET_DEFAULT void count_lanes(const std::int32_t* x, const std::int32_t* w, std::size_t n,
                                     std::uint32_t (*lanes)[kFullBitLanes])
{
    count_words<Words>(x, w, n, lanes);
}

// What a run of samples held against its words and their prediction,
// in loops a vector unit takes whole.
struct Run_Figures {
    int bad = 0;
    std::uint32_t off_step = 0;
    std::int64_t sr = 0, srr = 0, srw = 0, sw = 0, sww = 0;
    std::int32_t lo = 0, hi = 0;
    std::uint32_t differ = 0, grid = 0;
    double glo = 0, ghi = 0;  // x - g w, at a gain g
    // The products of neighbours' differences (x - w at unity, else at the
    // level), and at a level their sum and the sum of their squares.
    std::int64_t lag = 0, dsum = 0, dsq = 0;
};

// A sample past the last whole set of lanes, into the fit's figures.
inline void fit_one(double x, std::int32_t w, double g, double o, double tolerance, double step,
                    Run_Figures& f)
{
    const double e = x - g * w;
    const double a = std::fabs(e - o);
    f.bad |= !(a <= tolerance);
    f.off_step += a >= step;
    f.glo = f.glo < e ? f.glo : e;
    f.ghi = f.ghi > e ? f.ghi : e;
}

// Integers as doubles, element by element: GCC converts that with one
// instruction, where converting a vector of eight takes it apart.
__attribute__((always_inline)) inline void to_doubles(const std::int32_t* p, V4& v)
{
    v = V4{static_cast<double>(p[0]), static_cast<double>(p[1]), static_cast<double>(p[2]),
           static_cast<double>(p[3])};
}

#ifdef KOVA_TARGET_WIDE
typedef double V8 __attribute__((vector_size(64)));
typedef long long M8 __attribute__((vector_size(64)));
typedef std::int32_t I8 __attribute__((vector_size(32)));

__attribute__((always_inline)) inline void to_doubles(const std::int32_t* p, V8& v)
{
    v = V8{static_cast<double>(p[0]), static_cast<double>(p[1]), static_cast<double>(p[2]),
           static_cast<double>(p[3]), static_cast<double>(p[4]), static_cast<double>(p[5]),
           static_cast<double>(p[6]), static_cast<double>(p[7])};
}
#endif

// A run at a level other than unity in one pass over whole steps: x - g w
// against the tolerance and the step, its least and greatest, and each
// sample's difference at the level as level_residual gives it, in lanes of
// our own (GCC takes no minimum of doubles side by side by itself), four or
// eight at a time. Within the tolerance no clamp is needed; a lane outside
// it converts 0 instead, and the run is not taken.
template <typename V, typename M, typename I>
__attribute__((always_inline)) inline void fit_lanes(const std::int32_t* xi, const std::int32_t* w,
                                                     std::size_t n, double g, double o, double tolerance,
                                                     double step, std::int32_t* d, Run_Figures& f)
{
    constexpr std::size_t lanes = sizeof(V) / sizeof(double);
    M ok = ~M{}, offs = {};  // a true compare is all ones
    V lo = {}, hi = {};
    std::size_t k = 0;
    for (; k + lanes <= n; k += lanes) {
        V xv, wv;
        to_doubles(xi + k, xv);
        to_doubles(w + k, wv);
        const V e = xv - g * wv;
        const V t = e - o;
        // |t| as its sign bit cleared: one instruction, where GCC keeps a
        // compare and a blend for t < 0 ? -t : t.
        M bits;
        std::memcpy(&bits, &t, sizeof bits);
        bits &= 0x7FFFFFFFFFFFFFFFLL;
        V a;
        std::memcpy(&a, &bits, sizeof a);
        const M in = a <= tolerance;
        ok &= in;
        offs -= a >= step;
        lo = lo < e ? lo : e;
        hi = hi > e ? hi : e;
        const I di = __builtin_convertvector(in ? t : V{}, I);
        std::memcpy(d + k, &di, sizeof di);
    }
    long long all = ~0LL, off_lanes = 0;
    double glo = 0, ghi = 0;
    for (std::size_t j = 0; j < lanes; ++j) {
        all &= ok[j];
        off_lanes += offs[j];
        glo = glo < lo[j] ? glo : lo[j];
        ghi = ghi > hi[j] ? ghi : hi[j];
    }
    f.bad = all == 0;
    f.off_step = static_cast<std::uint32_t>(off_lanes);
    f.glo = glo;
    f.ghi = ghi;
    for (; k < n; ++k) {
        fit_one(xi[k], w[k], g, o, tolerance, step, f);
        d[k] = level_residual(xi[k], g, w[k], o);
    }
}

#ifdef KOVA_TARGET_WIDE
KOVA_TARGET_WIDE void fit_level(const std::int32_t* xi, const std::int32_t* w, std::size_t n, double g,
                                double o, double tolerance, double step, std::int32_t* d, Run_Figures& f)
{
    fit_lanes<V8, M8, I8>(xi, w, n, g, o, tolerance, step, d, f);
}

__attribute__((target("avx2"))) void fit_level(const std::int32_t* xi, const std::int32_t* w, std::size_t n,
                                               double g, double o, double tolerance, double step,
                                               std::int32_t* d, Run_Figures& f)
{
    fit_lanes<V4, M4, I4>(xi, w, n, g, o, tolerance, step, d, f);
}
#endif

KOVA_TARGET_DEFAULT void fit_level(const std::int32_t* xi, const std::int32_t* w, std::size_t n, double g,
                                   double o, double tolerance, double step, std::int32_t* d, Run_Figures& f)
{
    fit_lanes<V4, M4, I4>(xi, w, n, g, o, tolerance, step, d, f);
}

// The same for samples that are no whole number of steps (floats, 32-bit
// integers).
KOVA_TARGET_CLONES("avx2", "default")
void fit_run(const double* x, const std::int32_t* w, std::size_t n, double g, double o, double tolerance,
             double step, Run_Figures& f)
{
    // Four lanes of our own: GCC takes no minimum of doubles side by side
    // by itself. Each difference is the one a sample alone gives.
    M4 bad4 = {}, off4 = {};  // a true compare is all ones
    V4 lo4 = {}, hi4 = {};
    std::size_t k = 0;
    for (; k + 4 <= n; k += 4) {
        V4 e;
        level_diff4(x + k, w + k, g, e);
        const V4 t = e - o;
        const V4 d = t < 0 ? -t : t;
        bad4 |= (d <= tolerance) == 0;
        off4 -= d >= step;
        lo4 = lo4 < e ? lo4 : e;
        hi4 = hi4 > e ? hi4 : e;
    }
    f.bad = (bad4[0] | bad4[1] | bad4[2] | bad4[3]) != 0;
    f.off_step = static_cast<std::uint32_t>(off4[0] + off4[1] + off4[2] + off4[3]);
    double glo = 0, ghi = 0;
    for (int j = 0; j < 4; ++j) {
        glo = glo < lo4[j] ? glo : lo4[j];
        ghi = ghi > hi4[j] ? ghi : hi4[j];
    }
    f.glo = glo;
    f.ghi = ghi;
    for (; k < n; ++k) fit_one(x[k], w[k], g, o, tolerance, step, f);
}

// `level`: d holds the differences at the level, d[-1] zero so that the
// first has no neighbour to multiply; all in the one pass.
template <bool level>
__attribute__((always_inline)) inline void sum_body(const std::int32_t* xi, const std::int32_t* w,
                                                    const std::int32_t* d, std::size_t n, Run_Figures& f)
{
    std::int64_t sr = 0, srr = 0, srw = 0, sw = 0, sww = 0, lag = 0, dsum = 0, dsq = 0;
    std::int32_t lo = 0, hi = 0;
    std::uint32_t differ = 0, grid = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const std::int32_t r = xi[k] - w[k];
        lo = lo < r ? lo : r;
        hi = hi > r ? hi : r;
        sr += r;
        srr += static_cast<std::int64_t>(r) * r;
        srw += static_cast<std::int64_t>(r) * w[k];
        sw += w[k];
        sww += static_cast<std::int64_t>(w[k]) * w[k];
        differ += r != 0;
        grid |= static_cast<std::uint32_t>(xi[k]);
        if (level) {
            lag += static_cast<std::int64_t>(d[k]) * d[static_cast<std::ptrdiff_t>(k) - 1];
            dsum += d[k];
            dsq += static_cast<std::int64_t>(d[k]) * d[k];
        }
    }
    f.sr = sr;
    f.srr = srr;
    f.srw = srw;
    f.sw = sw;
    f.sww = sww;
    f.lo = lo;
    f.hi = hi;
    f.differ = differ;
    f.grid = grid;
    if (level) {
        f.lag = lag;
        f.dsum = dsum;
        f.dsq = dsq;
    }
}

// A run's sums: with d (see sum_body) at a level, else at the words' own,
// where the products of neighbours come from x - w.
KOVA_TARGET_CLONES("arch=x86-64-v4", "avx2", "default")
void sum_run(const std::int32_t* xi, const std::int32_t* w, const std::int32_t* d, std::size_t n,
             Run_Figures& f)
{
    if (d) {
        sum_body<true>(xi, w, d, n, f);
        return;
    }
    std::int64_t lag = 0;
    for (std::size_t k = 1; k < n; ++k)
        lag += static_cast<std::int64_t>(xi[k] - w[k]) * (xi[k - 1] - w[k - 1]);
    f.lag = lag;
    sum_body<false>(xi, w, nullptr, n, f);
}

// Neither a number missing nor the pattern's cycle (or silence) repeated.
bool free_of_cycle(const double* x, std::size_t n)
{
    std::size_t repeating = 0;
    for (std::size_t t = kCycle; t < n; ++t) {
        if (std::isnan(x[t]))
            return false;
        repeating = x[t] == x[t - kCycle] ? repeating + 1 : 0;
        if (repeating >= static_cast<std::size_t>(kCycle))
            return false;
    }
    return true;
}

}  // namespace

void Full_Channel::Sum::add_product(std::int64_t a, std::int64_t b)
{
    const bool negative = (a < 0) != (b < 0);
    const std::uint64_t x = a < 0 ? 0 - static_cast<std::uint64_t>(a) : static_cast<std::uint64_t>(a);
    const std::uint64_t y = b < 0 ? 0 - static_cast<std::uint64_t>(b) : static_cast<std::uint64_t>(b);
    const std::uint64_t x0 = x & 0xFFFFFFFF, x1 = x >> 32, y0 = y & 0xFFFFFFFF, y1 = y >> 32;
    const std::uint64_t p00 = x0 * y0, p01 = x0 * y1, p10 = x1 * y0, p11 = x1 * y1;
    const std::uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFF) + (p10 & 0xFFFFFFFF);
    std::uint64_t plo = (middle << 32) | (p00 & 0xFFFFFFFF);
    std::uint64_t phi = p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
    if (negative) {
        plo = ~plo + 1;
        phi = ~phi + (plo == 0 ? 1 : 0);
    }
    const std::uint64_t before = lo;
    lo += plo;
    hi += static_cast<std::int64_t>(phi) + (lo < before ? 1 : 0);
}

Full_Channel::Full_Channel(int index, long rate, const Sample_Format& format, Event_Sink* sink,
                           Full_Words& words)
    : index_(index),
      rate_(rate),
      format_(format),
      decoder_(format),
      step_(std::max(decoder_.quantum(), 1.0)),
      probe_(rate),
      sink_(sink),
      words_(&words)
{
}

void Full_Channel::run(const Full_Frames& frames, bool finishing)
{
    for (;;) {
        bool progressed = false;
        switch (state_) {
            case State::searching:
            case State::resuming:
                progressed = step_searching(frames, finishing);
                break;
            case State::tracking:
                progressed = step_tracking(frames, finishing);
                break;
            case State::tone:
                progressed = step_tone(frames, finishing);
                break;
            case State::done:
                break;
        }
        if (!progressed)
            break;
    }
    if (state_ == State::resuming || state_ == State::done)
        count_gap(frames, frames.end());
}

// ---- searching and resuming

bool Full_Channel::step_searching(const Full_Frames& frames, bool finishing)
{
    if (state_ == State::resuming && !resume_tried_) {
        // A sample or a few lost or played again: the signal goes on a few
        // places off, before any window could be read there (the next break
        // may come sooner than a window).
        const std::uint64_t need = exact_ ? kResumeExact : kResume;
        if (frames.end() < break_at_ + need && !finishing)
            return false;
        resume_tried_ = true;
        if (resume_near(frames, std::min(need, frames.end() - std::min(frames.end(), break_at_))))
            return true;
    }
    while (next_test_ + kFullWindow <= frames.end()) {
        const std::uint64_t s = next_test_;
        const bool dense = state_ == State::resuming && s < break_at_ + kDense;
        next_test_ = dense ? s + kDenseStep : (s / kSearchStep + 1) * kSearchStep;
        if (state_ == State::resuming)
            count_gap(frames, std::min(frames.end(), s));
        if (try_window(frames, s, floor_))
            return true;
        if (dense && next_test_ >= break_at_ + kDense) {
            Event e;
            e.kind = Event::Kind::lost;
            e.position = break_at_;
            emit(e);
            next_test_ = (next_test_ + kSearchStep - 1) / kSearchStep * kSearchStep;
        }
    }
    return false;
}

bool Full_Channel::resume_near(const Full_Frames& frames, std::uint64_t n)
{
    if (n < kBreak)
        return false;
    double x[kResume];
    if (!frames.values(index_, break_at_, static_cast<std::size_t>(n), x))
        return false;
    Full_Lock lock = lock_;
    if (!place_piece(x, break_at_, n, break_delta_, lock))
        return false;
    return adopt(frames, lock, source_, break_at_ + n, floor_, true);
}

bool Full_Channel::place_piece(const double* x, std::uint64_t from, std::uint64_t n, std::int64_t around,
                               Full_Lock& lock) const
{
    // Every place within kResumeReach of `around` whose words the n samples
    // from `from` are, either way for a message bit not yet read; taken
    // only where exactly one is.
    std::optional<Full_Lock> found;
    for (std::int64_t d = around - kResumeReach; d <= around + kResumeReach; ++d) {
        if (d == around || static_cast<std::int64_t>(from) < d)
            continue;
        const auto p0 = static_cast<std::uint64_t>(static_cast<std::int64_t>(from) - d);
        const std::uint64_t f0 = p0 / full::kSegment, f1 = (p0 + n - 1) / full::kSegment;
        for (int v = 0; v < 4; ++v) {
            Full_Message m = lock_.message;
            if ((v & 1) && m.has_bit(f0))
                continue;
            if ((v & 2) && (m.has_bit(f1) || f1 == f0))
                continue;
            if (!m.has_bit(f0))
                m.learn(f0, v & 1);
            if (!m.has_bit(f1))
                m.learn(f1, v >> 1 & 1);
            std::uint64_t k = 0;
            for (; k < n; ++k) {
                double predicted = 0;
                std::int32_t word = 0;
                if (!predict_at(from + k, d, predicted, word, &m) || !fits(x[k], predicted, word))
                    break;
            }
            if (k < n)
                continue;
            if (found)
                return false;
            found = lock_;
            found->delta = d;
            found->message = m;
        }
    }
    if (!found)
        return false;
    lock = *found;
    return true;
}

bool Full_Channel::try_window(const Full_Frames& frames, std::uint64_t s, std::uint64_t floor)
{
    // Never before the floor: what lies there is held or not depending on
    // how the blocks came.
    const std::size_t lead = static_cast<std::size_t>(std::min<std::uint64_t>(kLead, s - std::min(s, floor)));
    // A window the pattern's analysis took whole as one of its tables
    // repeats its cycle, as the test below would find: passed over unread.
    if (frames.one_table_run(s - lead, s + kFullWindow))
        return false;
    // The pilot first, on the window's first samples: most windows end here.
    // Where the pattern's analysis holds this channel's table, its cycle
    // found among them ends the window as the test below would, for less.
    double first[kPilotProbe];
    if (!frames.values(index_, s, kPilotProbe, first) ||
        (pattern_held_ && !free_of_cycle(first, kPilotProbe)) || !probe_.take(first))
        return false;
    // The capture's own rate class first; another one is a rate changed
    // without resampling.
    const int own = full::repeat(rate_);
    const int order[3] = {own, own == 1 ? 2 : 1, own == 4 ? 2 : 4};
    bool any = false;
    for (const int r : order) any = any || probe_.pilot(r);
    long tone_hz = any ? 0 : probe_.tone();
    if (!any && tone_hz == 0)
        return false;

    scratch_.resize(lead + kFullWindow);
    if (!frames.values(index_, s - lead, lead + kFullWindow, scratch_.data()))
        return false;
    const double* x = scratch_.data() + lead;
    bool unfit = false;
    if (!free_of_cycle(scratch_.data(), scratch_.size()))
        return false;
    for (const int r : order) {
        if (!any || !probe_.pilot(r))
            continue;
        const auto lock = find_full_lock(x, kFullWindow, s, r);
        if (!lock)
            continue;
        const auto source = fit_full_source(x, kFullWindow, s, *lock);
        if (source && holds(x, s, *lock, *source) && adopt(frames, *lock, *source, s, floor)) {
            unfit_run_ = 0;
            return true;
        }
        // The code read, the words beyond any fit: a clock that drifts, or
        // a chain that changes them past recognition. Followed as a tone,
        // once the windows after it fit nothing either: a break within a
        // window fits nothing too.
        tone_hz = rate_ / (4 * r);
        unfit = true;
        break;
    }
    std::uint64_t from = s;
    if (unfit) {
        if (unfit_run_ == 0 || s != unfit_next_) {
            unfit_run_ = 0;
            unfit_first_ = s;
        }
        ++unfit_run_;
        unfit_next_ = s + kFullWindow;
        if (unfit_run_ < kUnfitWindows) {
            next_test_ = unfit_next_;
            return false;
        }
        unfit_run_ = 0;
        from = unfit_first_;
        // No place to look again soon, whatever becomes of the tone.
        next_test_ = std::max(next_test_, (s / kSearchStep + 1) * kSearchStep);
    } else {
        unfit_run_ = 0;
    }
    if (tone_hz == 0)
        tone_hz = probe_.tone();
    return tone_hz != 0 && enter_tone(from, s, x, tone_hz);
}

bool Full_Channel::holds(const double* x, std::uint64_t s, const Full_Lock& lock, const Full_Source& source)
{
    // The window the model was fitted to must follow it, as tracking would:
    // no break in it, and few samples off. Else the fit is a chance one (a
    // noise that happens to read as code), and would break at once.
    const std::int32_t* tables[full::kMaxChannels] = {};
    for (int c = 0; c < source.channels; ++c)
        if (source.channel == 0 || source.channel == c + 1)
            tables[c] = words_->table(c + 1, source.channels, lock.repeat);
    const double q = decoder_.quantum() > 0 ? decoder_.quantum() : 1.0;
    const double tolerance =
        std::min(kMaxTolerance, std::max(4 * q, 8 * source.residual + 2 * q)) +
        (source.channel > 0 ? std::fabs(source.weights[source.channel - 1] - 1) * full::kPeak : 0);
    std::size_t off = 0, run = 0;
    for (std::size_t t = 0; t < kFullWindow; ++t) {
        const std::int64_t pos = static_cast<std::int64_t>(s + t) - lock.delta;
        if (pos < 0)
            return false;
        const auto f = static_cast<std::uint64_t>(pos) / full::kSegment;
        if (!lock.message.has_bit(f))
            continue;
        const double predicted =
            source.predict(tables, full_index(static_cast<std::uint64_t>(pos), lock.message.symbol(f)));
        const bool fit = std::fabs(x[t] - predicted) <= tolerance;
        run = fit ? 0 : run + 1;
        off += !fit;
        if (run >= kBreak || off * 16 > kFullWindow)
            return false;
    }
    return true;
}

bool Full_Channel::enter_tone(std::uint64_t first, std::uint64_t s, const double* x, long hz)
{
    const Pilot_Fit fit = fit_pilot(x, kFullWindow, s, rate_, hz);
    // The pilot under the signal's noise: a pure tone carries all its swing.
    if (!(fit.fraction >= 0.5 && fit.fraction <= 0.99))
        return false;
    if (!span_) {
        span_ = true;
        first_ = first;
        decided_at_ = s + kFullWindow;
        before_ = Outside{};
        before_.samples = first;
        Event e;
        e.kind = Event::Kind::locked;
        e.position = first;
        emit(e);
    } else if (!ever_exact_) {
        // Near the words for a while (a clock a few ppm off starts near
        // them), never on them: all of it the pilot's.
        const std::uint64_t span_first = first_;
        const Outside before = before_;
        const auto decided = decided_at_;
        *this = Full_Channel(index_, rate_, format_, sink_, *words_);
        span_ = true;
        first_ = span_first;
        before_ = before;
        decided_at_ = decided;
    } else {
        close_stretch();
    }
    tone_.emplace(fit);
    tone_first_ = ever_exact_ ? first : first_;
    Event e;
    e.kind = Event::Kind::resampled;
    e.position = tone_first_;
    e.family_hz = hz;
    emit(e);
    open_stretch(tone_first_);
    current_.s.resampled = true;
    last_ = s;
    pos_ = s;
    state_ = State::tone;
    return true;
}

bool Full_Channel::step_tone(const Full_Frames& frames, bool finishing)
{
    bool progressed = false;
    for (;;) {
        std::size_t n = kToneBlock;
        if (pos_ + n > frames.end()) {
            if (!finishing || pos_ == frames.end())
                return progressed;
            if (frames.end() - pos_ < kToneTail) {
                // Too little to fit a tone to: the span runs on to the end.
                last_ = frames.end() - 1;
                current_.s.last = last_;
                pos_ = frames.end();
                return true;
            }
            n = static_cast<std::size_t>(frames.end() - pos_);
        }
        scratch_.resize(n);
        if (!frames.values(index_, pos_, n, scratch_.data()) ||
            !tone_->take(scratch_.data(), n, pos_, rate_)) {
            // The tone is gone: so is the span.
            state_ = State::done;
            gap_ = Outside{};
            gap_counted_ = pos_;
            return true;
        }
        last_ = pos_ + n - 1;
        current_.s.last = last_;
        pos_ += n;
        progressed = true;
    }
}

void Full_Channel::set_model(const Full_Lock& lock, const Full_Source& source)
{
    // What the old model learnt is counted under it before it goes.
    ++model_id_;
    flush_learned();
    learned_.reset();
    noisy_ = false;
    const Full_Lock old_lock = lock_;
    lock_ = lock;
    if (span_)
        lock_.message = old_lock.message;  // what the span has read so far stands
    if (span_) {
        // Carry over what the window learnt of the message.
        for (int k = 0; k < 16; ++k)
            if ((lock.message.known >> k & 1) && !(lock_.message.known >> k & 1)) {
                lock_.message.known = static_cast<std::uint16_t>(lock_.message.known | 1u << k);
                lock_.message.value =
                    static_cast<std::uint16_t>(lock_.message.value | (lock.message.value & 1u << k));
            }
    }
    source_ = source;
    for (int c = 0; c < full::kMaxChannels; ++c)
        tables_[c] = c < source.channels && (source.channel == 0 || source.channel == c + 1)
                         ? words_->table(c + 1, source.channels, lock.repeat)
                         : nullptr;
    const double g = source.channel > 0 ? source.weights[source.channel - 1] : 0.0;
    exact_ = source.channel > 0 && std::fabs(g - 1) < 1e-7 && std::fabs(source.offset) < 0.01 &&
             source.residual < 0.01;
    if (exact_) {
        source_.weights[source.channel - 1] = 1.0;
        source_.offset = 0.0;
    }
    const double q = decoder_.quantum() > 0 ? decoder_.quantum() : 1.0;
    tolerance_ = exact_ ? 0.0 : std::min(kMaxTolerance, std::max(4 * q, 8 * source.residual + 2 * q));
    if (!exact_ && source.channel > 0 && std::fabs(g - 1) < 2e-4) {
        // The words at their own level (a cut, dither): followed as such,
        // which the whole numbers of a run tell at once; what the window's
        // fit put off unity widens the tolerance.
        tolerance_ = std::min(kMaxTolerance, tolerance_ + std::fabs(g - 1) * full::kPeak);
        source_.weights[source.channel - 1] = 1.0;
    }
    if (!exact_) {
        const auto n = static_cast<std::size_t>(full::kTableLength);
        learned_.emplace();
        learned_->bytes.resize(n * static_cast<std::size_t>(format_.bytes));
        learned_->known.assign((n + 63) / 64, 0);
        learned_->visits.assign(n + 1, 0);
    }
}

bool Full_Channel::adopt(const Full_Frames& frames, const Full_Lock& lock, const Full_Source& source,
                         std::uint64_t s, std::uint64_t floor, bool same_model)
{
    if (same_model) {
        // The same source at the same level, only elsewhere: what was learnt
        // of its words holds.
        lock_.delta = lock.delta;
        lock_.message = lock.message;
    } else {
        set_model(lock, source);
    }

    // Back from the window while the samples fit, to where the span (or the
    // resumed part of it) begins.
    std::uint64_t t = s;
    // As far back as the ring holds whatever the blocks were.
    const std::uint64_t reach = frames.ring_frames() - kFullWindow - kLead;
    floor = std::max(floor, s > reach ? s - reach : 0);
    while (t > floor && frames.held(t - 1)) {
        const std::int64_t pos = static_cast<std::int64_t>(t - 1) - lock_.delta;
        if (pos < 0)
            break;
        const auto f = static_cast<std::uint64_t>(pos) / full::kSegment;
        if (!lock_.message.has_bit(f)) {
            const std::uint64_t seg_first = static_cast<std::uint64_t>(
                std::max<std::int64_t>(static_cast<std::int64_t>(f * full::kSegment) + lock_.delta,
                                       static_cast<std::int64_t>(floor)));
            const std::uint64_t from = std::max(seg_first, t - 1 >= kBitLook ? t - kBitLook : 0);
            if (settle_bit(frames, f, from, t - 1) < 0)
                break;
        }
        double value[1];
        frames.values(index_, t - 1, 1, value);
        double predicted = 0;
        std::int32_t word = 0;
        if (!predict(t - 1, predicted, word) || !fits(value[0], predicted, word))
            break;
        --t;
    }

    if (!span_) {
        // A piece before it, too short for a window of its own, from a few
        // places off: the span begins there, with a dropout.
        std::int64_t head_delta = lock_.delta;
        const std::uint64_t head = t > floor ? piece_before(frames, t, floor, head_delta) : 0;
        span_ = true;
        first_ = t - head;
        last_ = t;
        first_position_ = static_cast<std::uint64_t>(static_cast<std::int64_t>(first_) - head_delta);
        decided_at_ = s + kFullWindow;
        // Before the span: only counted. What it held may have been passed
        // over as the pattern's, unseen here.
        before_ = Outside{};
        before_.samples = first_;
        open_stretch(first_);
        Event e;
        e.kind = Event::Kind::locked;
        e.position = first_;
        e.repeat = lock_.repeat;
        e.exact = exact_;
        e.gain_factor = source_.channel > 0 ? source_.weights[source_.channel - 1] : 1.0;
        e.offset_steps = source_.offset;
        emit(e);
        if (head > 0) {
            const std::int64_t delta = lock_.delta;
            lock_.delta = head_delta;
            for (std::uint64_t k = 0; k < head; ++k) {
                double x[1];
                double predicted = 0;
                std::int32_t word = 0;
                frames.values(index_, first_ + k, 1, x);
                predict(first_ + k, predicted, word);
                take(x[0], word, predicted, first_ + k);
            }
            lock_.delta = delta;
            break_at_ = t;
            break_delta_ = head_delta;
            note_dropout(
                0, (static_cast<std::int64_t>(t) - delta) - (static_cast<std::int64_t>(t) - head_delta), t);
        }
    } else {
        const auto foreign = t - break_at_;
        const std::int64_t jump = (static_cast<std::int64_t>(t) - lock_.delta) -
                                  (static_cast<std::int64_t>(break_at_) - break_delta_);
        const bool same_level =
            exact_ == break_exact_ && source_.channel == break_source_.channel &&
            source_.channels == break_source_.channels &&
            (exact_ || std::fabs(source_.weights[std::max(0, source_.channel - 1)] -
                                 break_source_.weights[std::max(0, source_.channel - 1)]) < 1e-4);
        if (foreign > 0 || jump != 0)
            note_dropout(foreign, jump, t);
        if (!same_level) {
            close_stretch();
            open_stretch(t);
            Event e;
            e.kind = Event::Kind::level_change;
            e.position = t;
            e.exact = exact_;
            e.gain_factor = source_.channel > 0 ? source_.weights[source_.channel - 1] : 1.0;
            e.offset_steps = source_.offset;
            emit(e);
        }
    }
    state_ = State::tracking;
    ever_exact_ = ever_exact_ || exact_;
    pos_ = t;
    adopted_at_ = t;
    adopted_window_ = same_model ? std::nullopt : std::optional<std::uint64_t>(s);
    misses_.clear();
    return true;
}

void Full_Channel::note_dropout(std::uint64_t foreign, std::int64_t jump, std::uint64_t t)
{
    Dropout d;
    d.position = break_at_;
    d.foreign = foreign;
    d.skipped = jump;
    d.lost = jump > 0 ? static_cast<std::uint64_t>(jump) : 0;
    d.lost_exact = true;
    // Inserted: what is not the signal, and what it played again.
    d.inserted = foreign + (jump < 0 ? static_cast<std::uint64_t>(-jump) : 0);
    ++dropout_count_;
    if (dropouts_.size() < kKeptDropouts) {
        dropouts_.push_back(d);
        resumed_at_.push_back(static_cast<std::uint64_t>(static_cast<std::int64_t>(t) - lock_.delta));
    }
    Event e;
    e.kind = Event::Kind::dropout;
    e.position = break_at_;
    e.foreign = foreign;
    e.skipped = jump;
    emit(e);
}

std::uint64_t Full_Channel::piece_before(const Full_Frames& frames, std::uint64_t t, std::uint64_t floor,
                                         std::int64_t& delta)
{
    // The samples just before t, back to the floor or as many as a resume
    // takes, at the one place near the lock's that they all fit; then on
    // back as far as they go.
    const std::uint64_t need = exact_ ? kResumeExact : kResume;
    const std::uint64_t n = std::min(need, t - floor);
    if (n < kBreak || (n < need && floor > 0))
        return 0;
    double x[kResume];
    Full_Lock lock = lock_;
    if (!frames.values(index_, t - n, static_cast<std::size_t>(n), x) ||
        !place_piece(x, t - n, n, lock_.delta, lock))
        return 0;
    lock_.message = lock.message;
    delta = lock.delta;
    std::uint64_t m = n;
    double v[1];
    double predicted = 0;
    std::int32_t word = 0;
    while (t - m > floor && frames.values(index_, t - m - 1, 1, v) &&
           predict_at(t - m - 1, delta, predicted, word) && fits(v[0], predicted, word))
        ++m;
    return m;
}

// ---- tracking

bool Full_Channel::predict(std::uint64_t t, double& value, std::int32_t& word) const
{
    return predict_at(t, lock_.delta, value, word);
}

bool Full_Channel::predict_at(std::uint64_t t, std::int64_t delta, double& value, std::int32_t& word,
                              const Full_Message* message) const
{
    const Full_Message& msg = message ? *message : lock_.message;
    const std::int64_t pos = static_cast<std::int64_t>(t) - delta;
    if (pos < 0 || static_cast<std::uint64_t>(pos) >= full::kMaxSamples)
        return false;
    const auto f = static_cast<std::uint64_t>(pos) / full::kSegment;
    if (!msg.has_bit(f))
        return false;
    const std::uint32_t i = full_index(static_cast<std::uint64_t>(pos), msg.symbol(f));
    if (source_.channel > 0) {
        word = tables_[source_.channel - 1][i];
        value = source_.weights[source_.channel - 1] * word + source_.offset;
    } else {
        word = 0;
        value = source_.predict(tables_, i);
    }
    return true;
}

bool Full_Channel::fits(double x, double predicted, std::int32_t word) const
{
    if (exact_)
        return decoder_.is_word(x, word);
    return std::fabs(x - predicted) <= tolerance_;
}

int Full_Channel::settle_bit(const Full_Frames& frames, std::uint64_t f, std::uint64_t from, std::uint64_t to)
{
    if (to < from)
        return -1;
    const auto n = static_cast<std::size_t>(to - from + 1);
    std::vector<double> x(n);
    if (!frames.values(index_, from, n, x.data()))
        return -1;
    int fitting[2] = {0, 0};
    for (int bit = 0; bit < 2; ++bit) {
        Full_Message m = lock_.message;
        m.learn(f, bit);
        const int symbol = m.symbol(f);
        for (std::size_t k = 0; k < n; ++k) {
            const auto pos = static_cast<std::uint64_t>(static_cast<std::int64_t>(from + k) - lock_.delta);
            const std::uint32_t i = full_index(pos, symbol);
            double value;
            std::int32_t word = 0;
            if (source_.channel > 0) {
                word = tables_[source_.channel - 1][i];
                value = source_.weights[source_.channel - 1] * word + source_.offset;
            } else {
                value = source_.predict(tables_, i);
            }
            fitting[bit] += fits(x[k], value, word);
        }
    }
    // One symbol fits more than half of them, the other fewer.
    const int half = static_cast<int>(n) / 2;
    int bit = -1;
    if (fitting[0] > half && fitting[1] <= half)
        bit = 0;
    else if (fitting[1] > half && fitting[0] <= half)
        bit = 1;
    if (bit >= 0)
        lock_.message.learn(f, bit);
    return bit;
}

bool Full_Channel::follows_rule(std::int64_t& delta) const
{
    if (state_ != State::tracking || !(exact_ || learned_) || !misses_.empty() || !lock_.message.complete())
        return false;
    delta = lock_.delta;
    return true;
}

bool Full_Channel::knows(std::uint32_t index, std::size_t n) const
{
    return exact_ || all_set(learned_->known, index, n);
}

bool Full_Channel::sample_bytes(std::uint32_t index, unsigned char* out) const
{
    if (exact_)
        return encode_word(tables_[source_.channel - 1][index], format_, out);
    std::memcpy(
        out,
        learned_->bytes.data() + static_cast<std::size_t>(index) * static_cast<std::size_t>(format_.bytes),
        static_cast<std::size_t>(format_.bytes));
    return true;
}

void Full_Channel::take_known(std::uint32_t index, std::size_t count)
{
    if (count == 0)
        return;
    if (exact_) {
        compared_ += count;
        grid_ |= 1;  // exact words: every bit came through
    } else {
        learned_->visits[index] += 1;
        learned_->visits[index + count] -= 1;
        learned_->visited = true;
    }
    pos_ += count;
    last_ = pos_ - 1;
    current_.s.last = last_;
    last_position_ = static_cast<std::uint64_t>(static_cast<std::int64_t>(last_) - lock_.delta);
}

bool Full_Channel::step_tracking(const Full_Frames& frames, bool finishing)
{
    bool progressed = false;
    while (pos_ < frames.end()) {
        const std::int64_t pos = static_cast<std::int64_t>(pos_) - lock_.delta;
        // Within the signal, a segment's rest is taken as a run, however
        // short: a run of one where a block ended, taken alone, would add
        // to the sums in another order than where it did not.
        std::size_t want = 1;
        bool in_signal = false;
        if (pos >= 0 && static_cast<std::uint64_t>(pos) < full::kMaxSamples) {
            in_signal = true;
            const auto f = static_cast<std::uint64_t>(pos) / full::kSegment;
            const auto j = static_cast<std::uint64_t>(pos) % full::kSegment;
            if (!lock_.message.has_bit(f)) {
                const std::uint64_t look = std::min<std::uint64_t>(kBitLook, full::kSegment - j);
                if (frames.end() - pos_ < look && !finishing)
                    return progressed;
                settle_bit(frames, f, pos_, std::min(frames.end(), pos_ + look) - 1);
            }
            want = static_cast<std::size_t>(full::kSegment - j);
        }
        Raw_View raw;
        std::size_t n = frames.run(index_, pos_, want, raw);
        if (n == 0)
            return progressed;  // not held: passed over
        if (in_signal && misses_.empty() && learned_) {
            const auto p = static_cast<std::uint64_t>(static_cast<std::int64_t>(pos_) - lock_.delta);
            const std::size_t k =
                take_learned(raw, n, pos_, full_index(p, lock_.message.symbol(p / full::kSegment)));
            if (k > 0) {
                pos_ += k;
                progressed = true;
                continue;
            }
            n = 1;  // this one judged alone
        }
        // A run is a segment at most: on the stack, never grown and zeroed.
        double run[full::kSegment];
        if (in_signal && misses_.empty() && source_.channel != 0) {
            const auto p = static_cast<std::uint64_t>(static_cast<std::int64_t>(pos_) - lock_.delta);
            const std::uint32_t index = full_index(p, lock_.message.symbol(p / full::kSegment));
            bool taken;
            if (!exact_ && decoder_.whole()) {
                // Whole steps: as integers, and as values only if judged alone.
                std::int32_t xi[full::kSegment];
                decoder_.decode_whole(raw, n, xi);
                taken = take_whole(xi, n, pos_, index);
                if (!taken)
                    for (std::size_t k = 0; k < n; ++k) run[k] = xi[k];
            } else {
                decoder_.decode(raw, n, run);
                taken = take_run(run, n, pos_, index);
            }
            if (taken) {
                pos_ += n;
                progressed = true;
                continue;
            }
        } else {
            decoder_.decode(raw, n, run);
        }
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint64_t t = pos_ + k;
            double predicted = 0;
            std::int32_t word = 0;
            const bool known = predict(t, predicted, word);
            const double x = run[k];
            if (known && fits(x, predicted, word)) {
                if (misses_.empty()) {
                    take(x, word, predicted, t);
                    continue;
                }
                // Past the changed words the runs take over again here, not
                // where the call's samples happen to end.
                take_changed();
                take(x, word, predicted, t);
                n = k + 1;
                break;
            }
            nonfinite_ += std::isnan(x);
            misses_.push_back({t, x, word, known});
            if (misses_.size() >= kBreak) {
                pos_ = t + 1;
                break_at(misses_.front().t);
                return true;
            }
        }
        pos_ += n;
        progressed = true;
    }
    return progressed;
}

void Full_Channel::take(double x, std::int32_t word, double predicted, std::uint64_t t)
{
    last_ = t;
    last_position_ = static_cast<std::uint64_t>(static_cast<std::int64_t>(t) - lock_.delta);
    current_.s.last = t;
    if (source_.channel == 0 || std::isnan(x))
        return;  // a mix has no one word to compare bits with
    ++compared_;
    if (exact_)
        grid_ |= 1;
    const double r = x - word;
    if (exact_ && r == 0.0)
        return;
    const double fl = std::floor(x);
    finer_ = finer_ || fl != x;
    const auto x24 = static_cast<std::uint32_t>(static_cast<std::int64_t>(fl)) & 0xFFFFFF;
    grid_ |= x24;
    for (std::uint32_t e = (x24 ^ static_cast<std::uint32_t>(word)) & 0xFFFFFF; e != 0; e &= e - 1)
        ++bit_errors_[static_cast<std::size_t>(__builtin_ctz(e))];
    if (!decoder_.is_word(x, word)) {
        ++differing_;
        ++current_.s.differing;
    }
    word_min_ = std::min(word_min_, r);
    word_max_ = std::max(word_max_, r);
    const double g = source_.weights[source_.channel - 1];
    if (g != 1.0) {
        level_min_ = std::min(level_min_, x - g * word);
        level_max_ = std::max(level_max_, x - g * word);
    }
    off_step_ += std::fabs(x - predicted) >= step_;
    current_.sw.add(word);
    current_.sww.add(static_cast<std::int64_t>(word) * word);
    // Whole numbers of steps summed exactly; others one by one, in order,
    // as take_run does: by the format, never by the value.
    if (!decoder_.is_float() && decoder_.bytes() <= 3) {
        const auto xi = static_cast<std::int64_t>(x);
        sum_sq_.add((xi - word) * (xi - word));
        current_.sx.add(xi);
        current_.sxw.add(xi * word);
        if (g == 1.0) {
            note_lag(t, xi - word, xi - word, 0, 1, xi - word, (xi - word) * (xi - word));
        } else {
            const std::int64_t d = level_residual(x, g, word, source_.offset);
            note_lag(t, d, d, 0, 1, d, d * d);
        }
    } else {
        sum_sq_.rest += r * r;
        current_.sx.rest += x;
        current_.sxw.rest += x * word;
    }
    ++current_.n;
}

void Full_Channel::note_lag(std::uint64_t t, std::int64_t first, std::int64_t last, std::int64_t lag,
                            std::size_t n, std::int64_t sum, std::int64_t sum_sq)
{
    // Neighbours' differences from their words, multiplied: what tells
    // noise shaped towards high frequencies from white noise.
    if (t == lag_next_) {
        lag_.add_product(lag_prev_, first);
        ++lag_pairs_;
    }
    lag_.add(lag);
    lag_pairs_ += n - 1;
    lag_sum_.add(sum);
    lag_sum_sq_.add(sum_sq);
    lag_n_ += n;
    lag_prev_ = last;
    lag_next_ = t + n;
}

bool Full_Channel::take_run(const double* x, std::size_t n, std::uint64_t t, std::uint32_t index)
{
    // A segment's run at once, where every sample fits: exact words, or
    // samples that are no whole number of steps, summed one by one in order.
    if (source_.channel == 0)
        return false;
    const std::int32_t* w = tables_[source_.channel - 1] + index;
    if (exact_) {
        bool all = true;
        for (std::size_t k = 0; k < n; ++k) all &= decoder_.is_word(x[k], w[k]);
        if (!all)
            return false;
        compared_ += n;
        grid_ |= 1;
    } else {
        Run_Figures f;
        fit_run(x, w, n, source_.weights[source_.channel - 1], source_.offset, tolerance_, step_, f);
        if (f.bad)
            return false;
        off_step_ += f.off_step;
        level_min_ = std::min(level_min_, f.glo);
        level_max_ = std::max(level_max_, f.ghi);
        take_fractions(x, n, w);
    }
    took_run(t, n);
    return true;
}

bool Full_Channel::take_whole(const std::int32_t* xi, std::size_t n, std::uint64_t t, std::uint32_t index)
{
    // The same for whole steps within 24 bits, not exact: sums of whole
    // numbers per run (added exactly), loops without branches.
    const std::int32_t* w = tables_[source_.channel - 1] + index;
    const double g = source_.weights[source_.channel - 1];
    const double o = source_.offset;
    Run_Figures f;
    if (g == 1.0) {
        // The words' own level: x - w against the offset, from the run's
        // least and greatest difference, in whole numbers.
        sum_run(xi, w, nullptr, n, f);
        if (f.lo - o < -tolerance_ || f.hi - o > tolerance_)
            return false;
        off_step_ += f.lo - o <= -step_ || f.hi - o >= step_;
        note_lag(t, xi[0] - w[0], xi[n - 1] - w[n - 1], f.lag, n, f.sr, f.srr);
    } else {
        std::int32_t d[full::kSegment + 1];
        d[0] = 0;
        fit_level(xi, w, n, g, o, tolerance_, step_, d + 1, f);
        if (f.bad)
            return false;
        off_step_ += f.off_step;
        level_min_ = std::min(level_min_, f.glo);
        level_max_ = std::max(level_max_, f.ghi);
        sum_run(xi, w, d + 1, n, f);
        note_lag(t, d[1], d[n], f.lag, n, f.dsum, f.dsq);
    }
    count_bits(xi, w, n);
    compared_ += n;
    differing_ += f.differ;
    current_.s.differing += f.differ;
    grid_ |= f.grid & 0xFFFFFF;
    word_min_ = std::min(word_min_, static_cast<double>(f.lo));
    word_max_ = std::max(word_max_, static_cast<double>(f.hi));
    sum_sq_.add(f.srr);
    // x = w + r: its sums from the words' and the residual's.
    current_.sw.add(f.sw);
    current_.sww.add(f.sww);
    current_.sx.add(f.sw + f.sr);
    current_.sxw.add(f.sww + f.srw);
    current_.n += n;
    took_run(t, n);
    return true;
}

void Full_Channel::took_run(std::uint64_t t, std::size_t n)
{
    last_ = t + n - 1;
    last_position_ = static_cast<std::uint64_t>(static_cast<std::int64_t>(last_) - lock_.delta);
    current_.s.last = last_;
}

std::size_t Full_Channel::take_learned(Raw_View raw, std::size_t n, std::uint64_t t, std::uint32_t index)
{
    Learned& l = *learned_;
    const auto bytes = static_cast<std::size_t>(format_.bytes);
    const auto known = [&](std::size_t i) { return (l.known[i / 64] >> (i % 64) & 1) != 0; };
    std::size_t k = 0;
    if (raw.stride == bytes && all_set(l.known, index, n) &&
        std::memcmp(raw.data, l.bytes.data() + index * bytes, n * bytes) == 0) {
        k = n;
    } else {
        const bool mix = source_.channel == 0;
        const std::int32_t* w = mix ? nullptr : tables_[source_.channel - 1] + index;
        const double g = mix ? 0.0 : source_.weights[source_.channel - 1];
        for (; k < n; ++k) {
            const std::size_t i = index + k;
            const unsigned char* p = raw.data + k * raw.stride;
            unsigned char* held = l.bytes.data() + i * bytes;
            if (known(i) && same_sample(p, held, format_.bytes))
                continue;
            const double x = decoder_.decode_one(p);
            const double predicted =
                mix ? source_.predict(tables_, static_cast<std::uint32_t>(i)) : g * w[k] + source_.offset;
            if (!fits(x, predicted, mix ? 0 : w[k]))
                break;  // judged alone: a changed word, or a break
            if (known(i)) {
                // The same word came as another value: noise (dither), not a
                // rule. Judged one by one from here.
                if (k > 0) {
                    l.visits[index] += 1;
                    l.visits[index + k] -= 1;
                    l.visited = true;
                    last_ = t + k - 1;
                }
                flush_learned();
                learned_.reset();
                noisy_ = true;
                return k;
            }
            std::memcpy(held, p, bytes);
            l.known[i / 64] |= std::uint64_t{1} << (i % 64);
        }
    }
    if (k > 0) {
        l.visits[index] += 1;
        l.visits[index + k] -= 1;
        l.visited = true;
        last_ = t + k - 1;
        last_position_ = static_cast<std::uint64_t>(static_cast<std::int64_t>(last_) - lock_.delta);
        current_.s.last = last_;
    }
    return k;
}

void Full_Channel::flush_learned()
{
    if (!learned_ || !learned_->visited)
        return;
    Learned& l = *learned_;
    const auto bytes = static_cast<std::size_t>(format_.bytes);
    if (source_.channel == 0) {
        // A mix's weights as all it visited tell them, more closely than the
        // window they were found in (a fold-down's rounding is within half a
        // step of them); then, having no one word to compare bits with,
        // only how far off each is.
        refine_mix();
        std::int64_t v = 0;
        for (std::size_t i = 0; i < static_cast<std::size_t>(full::kTableLength); ++i) {
            v += l.visits[i];
            l.visits[i] = 0;
            if (v != 0 && std::fabs(decoder_.decode_one(l.bytes.data() + i * bytes) -
                                    source_.predict(tables_, static_cast<std::uint32_t>(i))) >= step_)
                off_step_ += static_cast<std::uint64_t>(v);
        }
        l.visits[static_cast<std::size_t>(full::kTableLength)] = 0;
        l.visited = false;
        return;
    }
    const std::int32_t* table = tables_[source_.channel - 1];
    const double g = source_.weights[source_.channel - 1];
    const bool whole = !decoder_.is_float() && decoder_.bytes() <= 3;
    std::int64_t v = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(full::kTableLength); ++i) {
        v += l.visits[i];
        l.visits[i] = 0;
        if (v == 0)
            continue;
        const double x = decoder_.decode_one(l.bytes.data() + i * bytes);
        const std::int32_t w = table[i];
        if (g != 1.0) {
            level_min_ = std::min(level_min_, x - g * w);
            level_max_ = std::max(level_max_, x - g * w);
        }
        compared_ += static_cast<std::uint64_t>(v);
        current_.n += static_cast<std::uint64_t>(v);
        if (std::fabs(x - (g * w + source_.offset)) >= step_)
            off_step_ += static_cast<std::uint64_t>(v);
        const double r = x - w;
        if (!decoder_.is_word(x, w)) {
            differing_ += static_cast<std::uint64_t>(v);
            current_.s.differing += static_cast<std::uint64_t>(v);
        }
        word_min_ = std::min(word_min_, r);
        word_max_ = std::max(word_max_, r);
        const double fl = std::floor(std::max(-2147483648.0, std::min(2147483647.0, x)));
        finer_ = finer_ || fl != x;
        const auto x24 = static_cast<std::uint32_t>(static_cast<std::int32_t>(fl)) & 0xFFFFFF;
        grid_ |= x24;
        // The bits that differ, one by one: most words differ in few.
        for (std::uint32_t e = (x24 ^ static_cast<std::uint32_t>(w)) & 0xFFFFFF; e != 0; e &= e - 1)
            bit_errors_[static_cast<std::size_t>(__builtin_ctz(e))] += static_cast<std::uint64_t>(v);
        current_.sw.add(v * w);
        current_.sww.add(v * w * w);
        if (whole) {
            const auto xi = static_cast<std::int64_t>(x);
            sum_sq_.add_product(v * (xi - w), xi - w);
            current_.sx.add(v * xi);
            current_.sxw.add_product(v * xi, w);
        } else {
            sum_sq_.rest += static_cast<double>(v) * r * r;
            current_.sx.rest += static_cast<double>(v) * x;
            current_.sxw.rest += static_cast<double>(v) * x * w;
        }
    }
    l.visits[static_cast<std::size_t>(full::kTableLength)] = 0;
    l.visited = false;
}

void Full_Channel::refine_mix()
{
    const Learned& l = *learned_;
    const auto bytes = static_cast<std::size_t>(format_.bytes);
    int carried[full::kMaxChannels];
    int u = 0;
    for (int c = 0; c < source_.channels; ++c)
        if (source_.weights[c] != 0)
            carried[u++] = c;
    const int m = u + 1;
    std::vector<double> a(static_cast<std::size_t>(m * m), 0.0), b(static_cast<std::size_t>(m), 0.0);
    double f[full::kMaxChannels + 1];
    std::int64_t v = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(full::kTableLength); ++i) {
        v += l.visits[i];
        if (v == 0)
            continue;
        const double x = decoder_.decode_one(l.bytes.data() + i * bytes);
        if (!std::isfinite(x))
            return;
        // In units of the pilot's level, to keep the sums well scaled.
        for (int k = 0; k < u; ++k) f[k] = tables_[carried[k]][i] / 131072.0;
        f[u] = 1.0;
        const auto n = static_cast<double>(v);
        for (int r = 0; r < m; ++r) {
            for (int k = 0; k < m; ++k) a[static_cast<std::size_t>(r * m + k)] += n * f[r] * f[k];
            b[static_cast<std::size_t>(r)] += n * f[r] * x / 131072.0;
        }
    }
    if (!solve(a, b, m))
        return;
    for (int k = 0; k < u; ++k) source_.weights[carried[k]] = b[static_cast<std::size_t>(k)];
    source_.offset = b[static_cast<std::size_t>(u)] * 131072.0;
}

void Full_Channel::take_fractions(const double* x, std::size_t n, const std::int32_t* w)
{
    std::int32_t xi[full::kSegment];
    std::int64_t sw = 0, sww = 0;
    std::uint32_t grid = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const double fl = std::floor(std::max(-2147483648.0, std::min(2147483647.0, x[k])));
        finer_ = finer_ || fl != x[k];
        xi[k] = static_cast<std::int32_t>(fl);
        grid |= static_cast<std::uint32_t>(xi[k]);
        const double r = x[k] - w[k];
        word_min_ = std::min(word_min_, r);
        word_max_ = std::max(word_max_, r);
        if (!decoder_.is_word(x[k], w[k])) {
            ++differing_;
            ++current_.s.differing;
        }
        sum_sq_.rest += r * r;
        current_.sx.rest += x[k];
        current_.sxw.rest += x[k] * w[k];
        sw += w[k];
        sww += static_cast<std::int64_t>(w[k]) * w[k];
    }
    count_bits(xi, w, n);
    compared_ += n;
    grid_ |= grid & 0xFFFFFF;
    current_.sw.add(sw);
    current_.sww.add(sww);
    current_.n += n;
}

void Full_Channel::count_bits(const std::int32_t* x, const std::int32_t* w, std::size_t n)
{
    count_lanes(x, w, n, bit_lanes_);
    lane_words_ += n;
    if (lane_words_ >= std::uint64_t{1} << 31)
        flush_bits();
}

void Full_Channel::flush_bits()
{
    for (std::size_t b = 0; b < 24; ++b)
        for (auto& lane : bit_lanes_[b]) {
            bit_errors_[b] += lane;
            lane = 0;
        }
    lane_words_ = 0;
}

void Full_Channel::take_changed()
{
    // Words at their place, wrong: counted, and the bits that went.
    for (const auto& m : misses_) {
        if (!m.predicted)
            continue;
        ++changed_;
        const bool was_exact = exact_;
        exact_ = false;  // every bit of it compared
        take(m.x, m.word, m.x, m.t);
        exact_ = was_exact;
    }
    misses_.clear();
}

void Full_Channel::break_at(std::uint64_t t)
{
    misses_.clear();
    state_ = State::resuming;
    break_at_ = t;
    break_delta_ = lock_.delta;
    break_source_ = source_;
    break_exact_ = exact_;
    floor_ = t;
    // Broken where it was just taken up, before a sample fitted (a window
    // whose unread segments hid samples that do not fit): looked for again
    // from there it would be found again, for ever, so past it.
    const bool again = span_ && t == adopted_at_;
    next_test_ = again && adopted_window_ ? std::max(t, *adopted_window_ + 1) : t;
    resume_tried_ = again;
    pos_ = t;
    gap_ = Outside{};
    gap_counted_ = t;
}

void Full_Channel::count_gap(const Full_Frames& frames, std::uint64_t to)
{
    double v[1];
    for (; gap_counted_ < to; ++gap_counted_) {
        ++gap_.samples;
        if (frames.values(index_, gap_counted_, 1, v) && !std::isnan(v[0])) {
            gap_.silent = gap_.silent && v[0] == 0;
            gap_.peak = std::max(gap_.peak, std::fabs(v[0]));
        }
    }
}

// ---- stretches

void Full_Channel::open_stretch(std::uint64_t at)
{
    current_ = Stretch_Acc{};
    current_.s.first = at;
    current_.s.last = at;
    current_.level = !exact_;
    current_.s.gain_factor = source_.channel > 0 ? source_.weights[source_.channel - 1] : 1.0;
    current_.s.offset_steps = source_.offset;
    stretch_open_ = true;
}

void Full_Channel::close_stretch()
{
    if (!stretch_open_)
        return;
    flush_learned();
    stretch_open_ = false;
    auto& s = current_.s;
    s.exact = !current_.level && s.differing == 0;
    if (current_.level && source_.channel > 0 && current_.n >= 2) {
        const auto n = static_cast<double>(current_.n);
        const double sw = current_.sw.value(), sx = current_.sx.value();
        const double den = n * current_.sww.value() - sw * sw;
        if (den > 0) {
            s.gain_factor = (n * current_.sxw.value() - sw * sx) / den;
            s.offset_steps = (sx - s.gain_factor * sw) / n;
        }
    }
    if (current_.level) {
        s.inverted = s.gain_factor < 0;
        const double step = std::max(decoder_.quantum(), 1.0);
        s.gain = names_gain(s.gain_factor, step);
        s.offset = std::fabs(s.offset_steps) >= step;
        if (!s.offset)
            s.offset_steps = 0;
        s.altered = s.differing > 0 && !s.gain && !s.inverted && !s.offset;
    } else {
        s.altered = s.differing > 0;
    }
    ++stretch_count_;
    if (stretches_.size() < kKeptStretches)
        stretches_.push_back(current_);
    if (current_.level && s.last - s.first >= level_.s.last - level_.s.first)
        level_ = current_;
}

void Full_Channel::emit(Event e) const
{
    if (!sink_)
        return;
    e.channel = index_;
    e.full = true;
    sink_->on_event(e);
}

// ---- the report

Channel_Report Full_Channel::report() const
{
    Channel_Report r;
    if (!span_)
        return r;
    Full_Channel c = *this;
    c.sink_ = nullptr;
    if (c.state_ == State::tracking)
        c.misses_.clear();  // the capture ends: what did not fit lies after the span
    c.close_stretch();

    r.present = true;
    r.first = c.first_;
    r.last = c.last_;
    r.repeat = c.lock_.repeat;
    r.repeat_fits = c.lock_.repeat == 0 || c.lock_.repeat == full::repeat(rate_);
    r.before = c.before_;
    if (c.state_ == State::resuming)
        r.after = c.gap_;
    else
        r.after.samples = 0;

    Full_Findings f;
    f.source_channels = c.source_.channels;
    f.source_channel = c.source_.channel;
    if (c.source_.channel == 0)
        for (int k = 0; k < c.source_.channels; ++k)
            if (c.source_.weights[k] != 0)
                f.mix.push_back({k + 1, c.source_.weights[k]});
    f.first_position = c.first_position_;
    f.last_position = c.last_position_;
    f.repeat = c.lock_.repeat;
    const auto& m = c.lock_.message;
    if ((m.known & 0x8000) != 0)
        f.source_rate = full::message_family_rate(m.value) * c.lock_.repeat;
    if ((m.known & 0x7FFF) == 0x7FFF)
        f.source_seconds = full::message_seconds(m.value);
    f.compared = c.compared_;
    c.flush_bits();
    f.bit_errors = c.bit_errors_;
    f.finer_than_24 = c.finer_;
    int low = 0;
    while (low < 24 && !(c.grid_ >> low & 1)) ++low;
    // Against the words at the gain measured: one of 2^k moves every word k
    // bits up, and its grid with it, without a bit lost. A grid coarser
    // still is a cut, counted in the capture's bits.
    const Stretch_Acc* level = c.level_.n > 0 || c.level_.level ? &c.level_ : nullptr;
    if (level && c.source_.channel > 0 && low > 0) {
        const double up = std::log2(std::fabs(level->s.gain_factor));
        const double k = std::round(up);
        if (k >= low && std::fabs(up - k) < 1e-6)
            low = 0;
    }
    f.word_bits = c.finer_ || c.grid_ == 0 ? 24 : 24 - low;

    // What the words came through as: cut to fewer bits, at a level, with noise.
    const double q = std::ldexp(1.0, 24 - f.word_bits);
    const bool single = c.source_.channel > 0;
    bool cut_at_gain = false;
    const bool differs = c.differing_ > 0;
    // Dither shaped away from the low frequencies: its neighbours pull
    // apart, as white noise's do not.
    const auto shaped = [&c] {
        if (c.lag_n_ <= 1000)
            return false;
        const auto n = static_cast<double>(c.lag_n_);
        const double mean = c.lag_sum_.value() / n;
        const double var = c.lag_sum_sq_.value() / n - mean * mean;
        const double cov =
            c.lag_.value() / static_cast<double>(std::max<std::uint64_t>(c.lag_pairs_, 1)) - mean * mean;
        return var > 0 && cov < -0.2 * var;
    };
    if (single && differs && f.word_bits < 24) {
        if (c.word_min_ > -q && c.word_max_ <= 0)
            f.cut = Word_Cut::truncated;
        else if (c.word_min_ >= -q / 2 && c.word_max_ <= q / 2)
            f.cut = Word_Cut::rounded;
        else if (c.word_min_ >= -4 * q && c.word_max_ <= 4 * q)
            f.cut = Word_Cut::dithered;
        else if (c.word_min_ >= -32 * q && c.word_max_ <= 32 * q && shaped())
            f.cut = Word_Cut::shaped;
        // After a gain: the same, against the words at that gain (as a
        // window measured it, within a sixteenth of a step of the grid).
        const bool at_gain = c.level_min_ < 0 || c.level_max_ > 0;
        const double slack = q / 16;
        if (f.cut == Word_Cut::none && at_gain && c.level_min_ > -q - slack && c.level_max_ <= slack)
            f.cut = Word_Cut::truncated;
        else if (f.cut == Word_Cut::none && at_gain && c.level_min_ >= -q / 2 - slack &&
                 c.level_max_ <= q / 2 + slack)
            f.cut = Word_Cut::rounded;
        else if (f.cut == Word_Cut::none && at_gain && c.level_min_ >= -32 * q - slack &&
                 c.level_max_ <= 32 * q + slack && shaped())
            f.cut = Word_Cut::shaped;
        else if (f.cut == Word_Cut::none && at_gain && c.level_min_ >= -4 * q - slack &&
                 c.level_max_ <= 4 * q + slack)
            f.cut = Word_Cut::dithered;
        cut_at_gain = at_gain && f.cut != Word_Cut::none;
    }
    r.truncated = f.word_bits < 24 && differs;
    const bool cut_explains = f.cut == Word_Cut::truncated || f.cut == Word_Cut::rounded;
    r.channels = !single || c.source_.channel != index_ + 1;

    // The level, from the longest stretch that was not exact.
    if (level && single && (f.cut == Word_Cut::none || cut_at_gain)) {
        const auto& s = level->s;
        r.gain_factor = s.gain_factor;
        r.gain_db = 20 * std::log10(std::fabs(s.gain_factor));
        r.offset_steps = s.offset_steps;
        r.inverted = s.gain_factor < 0;
        r.gain = names_gain(s.gain_factor, std::max(q, 1.0));
        // Within a step, the offset is the rounding's or cutting's bias.
        r.offset = std::fabs(s.offset_steps) >= std::max(q, 1.0);
        if (!r.offset)
            r.offset_steps = 0;
    }
    const bool level_explains = (r.gain || r.inverted || r.offset) && c.off_step_ == 0;
    r.altered = c.changed_ > 0 || f.cut == Word_Cut::dithered || f.cut == Word_Cut::shaped ||
                (single && differs && !cut_explains && !level_explains) || (!single && c.off_step_ > 0);

    r.dropout_count = c.dropout_count_;
    r.first_dropouts = c.dropouts_;
    f.resumed_at = c.resumed_at_;
    r.dropouts = c.dropout_count_ > 0;
    r.differing = c.differing_;
    r.nonfinite = c.nonfinite_;
    r.max_difference = std::max(std::fabs(c.word_min_), std::fabs(c.word_max_));
    r.rms_difference =
        c.compared_ > 0 ? std::sqrt(c.sum_sq_.value() / static_cast<double>(c.compared_)) : 0.0;
    for (const auto& s : c.stretches_) r.stretches.push_back(s.s);
    r.stretch_count = c.stretch_count_;

    // Where the span lies in the source, and what is missing from it.
    r.duration = match_duration(r.length(), rate_);
    if (r.length() % static_cast<std::uint64_t>(rate_) == 0)
        r.whole_seconds = static_cast<long long>(r.length() / static_cast<std::uint64_t>(rate_));
    r.missing_start = f.first_position;
    r.missing_start_exact = true;
    if (f.source_seconds && f.source_rate > 0) {
        const auto total =
            static_cast<std::uint64_t>(*f.source_seconds) * static_cast<std::uint64_t>(f.source_rate);
        r.missing_end = total > f.last_position + 1 ? total - f.last_position - 1 : 0;
        r.missing_end_exact = true;
        r.judged_seconds = *f.source_seconds;
        if (f.source_rate == rate_) {
            r.whole_seconds.reset();
            if (r.missing_start == 0 && r.missing_end == 0 && !r.dropouts)
                r.whole_seconds = *f.source_seconds;
        }
    } else {
        r.missing_end_exact = false;
        r.judged_seconds = r.duration.nearest_seconds;
    }
    r.incomplete = r.missing_start > 0 || r.missing_end > 0;
    // Played at another rate than it was made at, untouched: the words are
    // right and the time is not.
    if (!r.repeat_fits || (f.source_rate > 0 && f.source_rate != rate_))
        r.altered = true;
    if (c.tone_) {
        // Resampled: between the families, or by a clock that drifts; in
        // its own family at its own speed, the words were changed (a
        // resampler within the family, a codec).
        Resampling s;
        s.family_hz = c.tone_->hz();
        s.family_rate = 4 * c.tone_->hz();
        s.drift_ppm = c.tone_->drift_ppm(rate_);
        s.ratio =
            static_cast<double>(rate_) / (static_cast<double>(s.family_rate) * (1 + s.drift_ppm * 1e-6));
        const bool own_family =
            rate_ % s.family_rate == 0 &&
            (rate_ / s.family_rate == 1 || rate_ / s.family_rate == 2 || rate_ / s.family_rate == 4);
        // In its own family, what the pilot carries against the rest tells
        // the rate it was made at: another one than the capture's is a
        // resampler within the family.
        const long from = own_family ? c.tone_->source_rate(s.family_rate, rate_) : 0;
        if (from > 0 && from != rate_) {
            s.source_rate = from;
            s.ratio = static_cast<double>(rate_) / (static_cast<double>(from) * (1 + s.drift_ppm * 1e-6));
        }
        if (!own_family || std::fabs(s.drift_ppm) >= 0.1 || s.source_rate > 0) {
            r.resampled = true;
            r.resampling = s;
        } else {
            r.altered = true;
        }
        f.positioned = c.tone_first_ > c.first_;
        if (!f.positioned) {
            r.missing_start = 0;
            r.missing_end = 0;
            r.missing_start_exact = r.missing_end_exact = false;
            r.incomplete = false;
            r.channels = false;
        }
    }
    if (c.state_ == State::done)
        r.after = c.gap_;
    r.accounting.starts_capture = c.first_ == 0;
    r.accounting.ends_capture = c.state_ == State::tracking || c.state_ == State::tone;
    r.full = f;
    return r;
}

}  // namespace kova::analysis::detail
