#include "tone.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <numeric>
#include <vector>

#include "kova/pattern.h"
#include "target_clones.h"

namespace kova::analysis::detail {
namespace {

constexpr double kSignificance = 8.0;
// A resampled pattern is clean: its tone and harmonics carry nearly all of
// its swing. Music or noise with a component there carries little.
constexpr double kMinFraction = 0.5;
// Harmonics up to where a resampler's filter still passes them.
constexpr double kPassband = 0.45;
// The drifts searched: two crystals 1000 ppm apart, and some room.
constexpr double kMaxDrift = 1.5e-3;
// Samples demodulated at the nominal frequency at a time: short enough
// that the largest drift turns the phase by little within one, so that
// each is turned back by the drift as a whole.
constexpr std::size_t kSub = 256;
// Samples a tone is fitted over at most: two blocks.
constexpr std::size_t kMaxSamples = 8192;
constexpr std::size_t kMaxSubs = kMaxSamples / kSub;
// The words' fundamental, peak: (2/3) |sum of the words times e^{-2 pi i p / 3}|.
const double kWordsFundamental = 1024 * 2 / std::sqrt(3.0);
constexpr double kMeanWord = (kPatternWords[0] + kPatternWords[1] + kPatternWords[2]) / 3.0;

bool followed(int k, long f0, long rate)
{
    return k % 3 != 0 && static_cast<double>(k * f0) < kPassband * static_cast<double>(rate);
}

// e^{-i k omega n} over one period of the tone against the rate and a
// sub-block beyond, so that a sub-block starting anywhere reads it in one
// piece: its values are exact for every sample of the capture.
struct Table {
    long f0 = 0;
    long rate = 0;
    std::size_t period = 0;
    std::vector<double> re[kMaxHarmonic + 1];
    std::vector<double> im[kMaxHarmonic + 1];
    // Sums of the first n of each, for taking the mean's share out.
    std::vector<double> re_sum[kMaxHarmonic + 1];
    std::vector<double> im_sum[kMaxHarmonic + 1];
};

const Table& table_for(long f0, long rate)
{
    // One per frequency and rate; a capture has one rate, so this stays tiny.
    thread_local std::vector<Table> tables;
    for (const auto& t : tables)
        if (t.f0 == f0 && t.rate == rate)
            return t;
    Table t;
    t.f0 = f0;
    t.rate = rate;
    t.period = static_cast<std::size_t>(rate / std::gcd(rate, f0));
    const std::size_t length = t.period + kSub;
    for (int k = 1; k <= kMaxHarmonic; ++k) {
        if (!followed(k, f0, rate))
            continue;
        t.re[k].resize(length);
        t.im[k].resize(length);
        t.re_sum[k].assign(length + 1, 0.0);
        t.im_sum[k].assign(length + 1, 0.0);
        for (std::size_t n = 0; n < length; ++n) {
            // The turn in whole numbers first: exact for any n.
            const auto turn = static_cast<long long>(k) * f0 * static_cast<long long>(n) % rate;
            const double a = 2 * kPi * static_cast<double>(turn) / static_cast<double>(rate);
            t.re[k][n] = std::cos(a);
            t.im[k][n] = -std::sin(a);
            t.re_sum[k][n + 1] = t.re_sum[k][n] + t.re[k][n];
            t.im_sum[k][n + 1] = t.im_sum[k][n] + t.im[k][n];
        }
    }
    tables.push_back(std::move(t));
    return tables.back();
}

// Four sums side by side in vector registers: floating-point sums may not
// be reordered, so lanes of our own are what lets them run in parallel.
typedef double Lanes __attribute__((vector_size(32)));

KOVA_TARGET_CLONES("avx2", "default")
void moments(const double* x, std::size_t n, double& sx, double& sxx)
{
    Lanes a = {}, b = {};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        Lanes v;
        std::memcpy(&v, x + i, sizeof v);
        a += v;
        b += v * v;
    }
    sx = a[0] + a[1] + a[2] + a[3];
    sxx = b[0] + b[1] + b[2] + b[3];
    for (; i < n; ++i) {
        sx += x[i];
        sxx += x[i] * x[i];
    }
}

KOVA_TARGET_CLONES("avx2", "default")
void products(const double* x, std::size_t n, const double* re, const double* im, double& sr, double& si)
{
    Lanes c = {}, d = {};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        Lanes v, r, m;
        std::memcpy(&v, x + i, sizeof v);
        std::memcpy(&r, re + i, sizeof r);
        std::memcpy(&m, im + i, sizeof m);
        c += v * r;
        d += v * m;
    }
    sr = c[0] + c[1] + c[2] + c[3];
    si = d[0] + d[1] + d[2] + d[3];
    for (; i < n; ++i) {
        sr += x[i] * re[i];
        si += x[i] * im[i];
    }
}

// Where the tone's period divides 12 (its family's cycle divides the rate),
// a sub-block is first folded onto 12 phases: a quarter of an add a sample.
KOVA_TARGET_CLONES("avx2", "default")
std::size_t fold12(const double* x, std::size_t n, double* bins, double& sxx)
{
    Lanes a = {}, b = {}, c = {}, q = {};
    std::size_t i = 0;
    for (; i + 12 <= n; i += 12) {
        Lanes u, v, w;
        std::memcpy(&u, x + i, sizeof u);
        std::memcpy(&v, x + i + 4, sizeof v);
        std::memcpy(&w, x + i + 8, sizeof w);
        a += u;
        b += v;
        c += w;
        q += u * u + v * v + w * w;
    }
    for (int k = 0; k < 4; ++k) {
        bins[k] = a[k];
        bins[4 + k] = b[k];
        bins[8 + k] = c[k];
    }
    sxx = q[0] + q[1] + q[2] + q[3];
    return i;
}

// Each sub-block demodulated at the nominal frequency, against the phase
// the capture's sample 0 has.
struct Pass {
    long f0 = 0;
    std::size_t n = 0;
    std::size_t subs = 0;
    double sx = 0.0, sxx = 0.0;
    double center[kMaxSubs] = {};
    double length[kMaxSubs] = {};
    std::complex<double> r[kMaxHarmonic + 1][kMaxSubs];
    std::complex<double> t[kMaxHarmonic + 1][kMaxSubs];  // of the table alone: the mean's share
    bool nan = false;
};

void gather(const double* x, std::size_t n, std::uint64_t first, long rate, long f0, Pass& p)
{
    const Table& table = table_for(f0, rate);
    p.f0 = f0;
    p.n = n;
    p.subs = 0;
    p.sx = p.sxx = 0.0;
    const bool folds = 12 % table.period == 0;
    for (std::size_t s = 0; s < n; s += kSub) {
        const std::size_t len = std::min(kSub, n - s);
        const std::size_t j = p.subs++;
        const auto o = static_cast<std::size_t>((first + s) % table.period);
        const double* v = x + s;
        double bins[12] = {}, sxx = 0.0;
        const std::size_t folded = folds ? fold12(v, len, bins, sxx) : 0;
        double rest_x, rest_xx;
        moments(v + folded, len - folded, rest_x, rest_xx);
        double sx = rest_x;
        for (const double b : bins) sx += b;
        p.sx += sx;
        p.sxx += sxx + rest_xx;
        p.center[j] = static_cast<double>(first + s) + static_cast<double>(len - 1) / 2;
        p.length[j] = static_cast<double>(len);
        for (int k = 1; k <= kMaxHarmonic; ++k) {
            if (table.re[k].empty())
                continue;
            const double* re = table.re[k].data() + o;
            const double* im = table.im[k].data() + o;
            double sr = 0.0, si = 0.0;
            if (folded > 0) {
                for (int b = 0; b < 12; ++b) {
                    sr += bins[b] * re[b];
                    si += bins[b] * im[b];
                }
            }
            // The rest, at phases from `folded` on: the table repeats.
            double tr, ti;
            const std::size_t ro = (o + folded) % table.period;
            products(v + folded, len - folded, table.re[k].data() + ro, table.im[k].data() + ro, tr, ti);
            p.r[k][j] = {sr + tr, si + ti};
            p.t[k][j] = {table.re_sum[k][o + len] - table.re_sum[k][o],
                         table.im_sum[k][o + len] - table.im_sum[k][o]};
        }
    }
    p.nan = std::isnan(p.sx);
}

// Sum over n samples of e^{i theta m}, against n, about the middle.
double smear(double theta, double n)
{
    const double half = theta / 2;
    return std::fabs(half) < 1e-12 ? 1.0 : std::sin(half * n) / (n * std::sin(half));
}

// Harmonic k at `shift`, against the nominal phase at `at`. Sub-blocks lie
// kSub apart, so each turn back is the last one's turned once more.
std::complex<double> combine(const Pass& p, int k, double shift, double at)
{
    const double mean = p.sx / static_cast<double>(p.n);
    const double theta = k * shift;
    std::complex<double> turn = std::polar(1.0, -std::fmod(theta * (p.center[0] - at), 2 * kPi));
    const std::complex<double> step = std::polar(1.0, -theta * static_cast<double>(kSub));
    const double whole = smear(theta, static_cast<double>(kSub));
    std::complex<double> sum;
    double weight = 0.0;
    for (std::size_t j = 0; j < p.subs; ++j) {
        if (j + 1 == p.subs && p.length[j] != static_cast<double>(kSub)) {
            // The last, shorter: its centre lies nearer.
            turn = std::polar(1.0, -std::fmod(theta * (p.center[j] - at), 2 * kPi));
            weight += p.length[j] * smear(theta, p.length[j]);
        } else {
            weight += p.length[j] * whole;
        }
        sum += (p.r[k][j] - mean * p.t[k][j]) * turn;
        turn *= step;
    }
    return weight > 0 ? sum * (2.0 / weight) : std::complex<double>{};
}

Tone_Fit fit_from(const Pass& p, long rate, double shift, double at)
{
    Tone_Fit t;
    t.family_hz = p.f0;
    t.family_rate = p.f0 == 14700 ? 44100 : 48000;
    t.omega = 2 * kPi * static_cast<double>(p.f0) / static_cast<double>(rate);
    t.shift = shift;
    t.at = at;
    const auto n = static_cast<double>(p.n);
    t.mean = p.sx / n;
    t.weight = n;
    const double var = std::max(0.0, p.sxx / n - t.mean * t.mean);
    double power = 0.0;
    int harmonics = 0;
    for (int k = 1; k <= kMaxHarmonic; ++k) {
        if (!followed(k, p.f0, rate))
            continue;
        t.harmonic[k] = combine(p, k, shift, at);
        power += std::norm(t.harmonic[k]) / 2;
        ++harmonics;
    }
    t.fraction = var > 0 ? power / var : 0.0;
    const double rest = var - power;
    t.spread = rest > 0 ? std::sqrt(rest * n / std::max(1.0, n - 2 * harmonics - 1)) : 0.0;
    return t;
}

// The shift beyond nominal that gathers the fundamental best: searched on a
// grid a quarter of the main lobe apart, then followed by the slope of the
// sub-blocks' phases once turned back.
double search_shift(const Pass& p, double omega)
{
    const double mean = p.sx / static_cast<double>(p.n);
    std::complex<double> z[kMaxSubs];
    for (std::size_t j = 0; j < p.subs; ++j) z[j] = p.r[1][j] - mean * p.t[1][j];
    const double widest = kMaxDrift * omega;
    const double step = kPi / (2 * static_cast<double>(p.n));
    const int steps = static_cast<int>(std::ceil(widest / step));
    double best = 0.0, best_size = -1.0;
    for (int s = -steps; s <= steps; ++s) {
        const double shift = s * step;
        std::complex<double> sum;
        for (std::size_t j = 0; j < p.subs; ++j)
            sum += z[j] * std::polar(1.0, -std::fmod(shift * (p.center[j] - p.center[0]), 2 * kPi));
        const double size = std::abs(sum);
        if (size > best_size) {
            best_size = size;
            best = shift;
        }
    }
    if (p.subs < 3)
        return best;
    for (int pass = 0; pass < 2; ++pass) {
        // Weighted least squares of the turned phases against position.
        double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, last = 0;
        for (std::size_t j = 0; j < p.subs; ++j) {
            const double x = p.center[j] - p.center[0];
            const std::complex<double> v = z[j] * std::polar(1.0, -std::fmod(best * x, 2 * kPi));
            double y = std::arg(v);
            if (j > 0)
                y = last + std::remainder(y - last, 2 * kPi);
            last = y;
            const double w = std::norm(v);
            sw += w;
            sx += w * x;
            sy += w * y;
            sxx += w * x * x;
            sxy += w * x * y;
        }
        const double den = sw * sxx - sx * sx;
        if (!(den > 0))
            break;
        best += (sw * sxy - sx * sy) / den;
    }
    return best;
}

}  // namespace

std::optional<Tone_Fit> find_tone(const double* x, std::size_t n, std::uint64_t first, long rate)
{
    if (n < 2 * kSub || n > kMaxSamples)
        return std::nullopt;
    std::optional<Tone_Fit> best;
    thread_local Pass p;
    for (const long f0 : {14700L, 16000L}) {
        if (!followed(1, f0, rate))
            continue;
        gather(x, n, first, rate, f0, p);
        if (p.nan)
            return std::nullopt;  // a foreign float: no tone here
        const double omega = 2 * kPi * static_cast<double>(f0) / static_cast<double>(rate);
        const double shift = search_shift(p, omega);
        if (std::fabs(shift) > 1.2 * kMaxDrift * omega)
            continue;
        const Tone_Fit t = fit_from(p, rate, shift, static_cast<double>(first) + static_cast<double>(n) / 2);
        const double amplitude = std::abs(t.harmonic[1]) / std::sqrt(2.0);
        if (t.fraction >= kMinFraction && amplitude > kSignificance * t.spread / std::sqrt(n / 2.0) &&
            (!best || t.fraction > best->fraction))
            best = t;
    }
    return best;
}

Tone_Fit refit_tone(const Tone_Fit& tone, const double* x, std::size_t n, std::uint64_t first, long rate)
{
    thread_local Pass p;
    if (n == 0 || n > kMaxSamples)
        return Tone_Fit{};
    gather(x, n, first, rate, tone.family_hz, p);
    if (p.nan)
        return Tone_Fit{};
    return fit_from(p, rate, tone.shift, static_cast<double>(first) + static_cast<double>(n) / 2);
}

double tone_value(const Tone_Fit& tone, std::uint64_t i, long rate)
{
    // The nominal turn at i in whole numbers first: exact however far in.
    const auto nominal = static_cast<double>(static_cast<std::uint64_t>(tone.family_hz) * i %
                                             static_cast<std::uint64_t>(rate)) *
                         2 * kPi / static_cast<double>(rate);
    const double turn = nominal + std::fmod(tone.shift * (static_cast<double>(i) - tone.at), 2 * kPi);
    double v = tone.mean;
    for (int k = 1; k <= kMaxHarmonic; ++k)
        if (tone.harmonic[k] != 0.0)
            v += std::real(tone.harmonic[k] * std::polar(1.0, std::fmod(k * turn, 2 * kPi)));
    return v;
}

long source_rate(const double* size, double mean, long family_hz, long rate, double tolerance,
                 bool* elsewhere)
{
    if (elsewhere)
        *elsewhere = false;
    // Against the words' own fundamental at the words' own mean: a gain
    // after the resampler scales both alike. Where the DC was taken away
    // (a high-pass), against the fundamental alone, which only the
    // harmonics above it can tell by.
    const double scale = kWordsFundamental * std::fabs(mean) / kMeanWord;
    const bool dc = scale > 0.5 * size[1] && std::isfinite(scale);
    if ((!dc && !followed(2, family_hz, rate)) || !(tolerance < 0.1))
        return 0;
    const long family_rate = family_hz == 14700 ? 44100 : 48000;
    long best = 0;
    double best_error = tolerance;
    int fits = 0;
    bool own = false;
    for (const int hold : {1, 2, 4}) {
        const long source = family_rate * hold;
        auto expected = [&](int k) {
            const bool held = 2 * k * family_hz < source;
            return held ? std::fabs(std::sin(kPi * k / 3) / (hold * std::sin(kPi * k / (3.0 * hold)))) : 0.0;
        };
        double error = 0.0;
        for (int k = 1; k <= kMaxHarmonic; ++k) {
            if (!followed(k, family_hz, rate))
                continue;
            error = std::max(error, dc ? std::fabs(size[k] / scale - expected(k))
                                       : std::fabs(size[k] / size[1] - expected(k) / expected(1)));
        }
        if (error <= tolerance) {
            ++fits;
            own = own || source == rate;
        }
        if (error <= best_error) {
            best_error = error;
            best = source;
        }
    }
    if (elsewhere)
        *elsewhere = fits > 0 && !own;
    return fits == 1 ? best : 0;
}

void cycle_harmonics(const double* levels, int cycle, double* size)
{
    // e^{-2 pi i k p / 12}: every cycle's twiddles are among them.
    static const auto twiddles = [] {
        std::array<std::complex<double>, 12> t{};
        for (int p = 0; p < 12; ++p) t[static_cast<std::size_t>(p)] = std::polar(1.0, -2 * kPi * p / 12);
        return t;
    }();
    const int stride = 12 / cycle;
    for (int k = 1; k <= kMaxHarmonic; ++k) {
        size[k] = 0.0;
        if (2 * k >= cycle)
            continue;
        std::complex<double> h;
        for (int p = 0; p < cycle; ++p)
            h += levels[p] * twiddles[static_cast<std::size_t>(k * p * stride % 12)];
        size[k] = 2 * std::abs(h) / cycle;
    }
}

bool Tone_Tracker::take(const double* x, std::size_t n, std::uint64_t first, long rate)
{
    Tone_Fit guess = fit_;
    guess.shift = phase_.slope().value_or(fit_.shift);
    const Tone_Fit t = refit_tone(guess, x, n, first, rate);
    const double ratio = std::abs(t.harmonic[1]) / std::abs(fit_.harmonic[1]);
    if (!(t.fraction >= kMinFraction * 0.8) || !(ratio > 0.8 && ratio < 1.25))
        return false;
    phase_.add(t.at, std::arg(t.harmonic[1]), guess.shift);
    const auto w = static_cast<double>(n);
    for (int k = 1; k <= kMaxHarmonic; ++k) size_sum_[k] += std::abs(t.harmonic[k]) * w;
    mean_sum_ += t.mean * w;
    spread_sum_ += t.spread * w;
    weight_ += w;
    fit_ = t;
    fit_.shift = phase_.slope().value_or(guess.shift);
    return true;
}

double Tone_Tracker::drift_ppm() const
{
    Tone_Fit t = fit_;
    t.shift = phase_.slope().value_or(fit_.shift);
    return drift_ppm_of(t);
}

long Tone_Tracker::source(long rate) const
{
    if (weight_ <= 0)
        return 0;
    double size[kMaxHarmonic + 1];
    for (int k = 1; k <= kMaxHarmonic; ++k) size[k] = size_sum_[k] / weight_;
    const double mean = mean_sum_ / weight_;
    // A resampler's passband is flat to a fraction of a per cent; the noise
    // in the sizes adds its own share.
    const double noise = spread_sum_ / weight_ * std::sqrt(2 / weight_) / std::max(size[1], 1.0);
    return source_rate(size, mean, fit_.family_hz, rate, 0.01 + 4 * noise);
}

}  // namespace kova::analysis::detail
