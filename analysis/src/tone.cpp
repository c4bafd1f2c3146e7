#include "tone.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "target_clones.h"

namespace kova::analysis::detail {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSignificance = 8.0;
// A resampled pattern is clean: its tone and harmonics carry nearly all of
// its swing. Music or noise with a component there carries little.
constexpr double kMinFraction = 0.5;
// Harmonics up to where a resampler's filter still passes them.
constexpr double kPassband = 0.45;
// Samples a tone is fitted over at most: two blocks.
constexpr std::size_t kTableLength = 8192;

struct Demod {
    double mean = 0.0;
    double var = 0.0;
    std::complex<double> c[4];
    int harmonics = 0;
};

// e^{-i k omega n} for n within a block, so that the hot loop is plain
// multiply-adds; a block's own start turns the sums afterwards.
struct Table {
    long f0 = 0;
    long rate = 0;
    int harmonics = 0;
    std::vector<double> re[4];
    std::vector<double> im[4];
    // Sums of the first n of each, for taking the mean's share out.
    std::vector<double> re_sum[4];
    std::vector<double> im_sum[4];
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
    for (int k = 1; k <= 3 && k * f0 < kPassband * static_cast<double>(rate); ++k) t.harmonics = k;
    const double omega = 2 * kPi * static_cast<double>(f0) / static_cast<double>(rate);
    for (int k = 1; k <= t.harmonics; ++k) {
        t.re[k].resize(kTableLength);
        t.im[k].resize(kTableLength);
        t.re_sum[k].assign(kTableLength + 1, 0.0);
        t.im_sum[k].assign(kTableLength + 1, 0.0);
        for (std::size_t n = 0; n < kTableLength; ++n) {
            // Reduced to one turn before the sine: exact enough for any n here.
            const double a = std::fmod(k * omega * static_cast<double>(n), 2 * kPi);
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
void sums(const double* x, std::size_t n, const double* re, const double* im, double& sx, double& sxx,
          double& sr, double& si)
{
    Lanes a = {}, b = {}, c = {}, d = {};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        Lanes v, r, m;
        std::memcpy(&v, x + i, sizeof v);
        std::memcpy(&r, re + i, sizeof r);
        std::memcpy(&m, im + i, sizeof m);
        a += v;
        b += v * v;
        c += v * r;
        d += v * m;
    }
    sx = a[0] + a[1] + a[2] + a[3];
    sxx = b[0] + b[1] + b[2] + b[3];
    sr = c[0] + c[1] + c[2] + c[3];
    si = d[0] + d[1] + d[2] + d[3];
    for (; i < n; ++i) {
        sx += x[i];
        sxx += x[i] * x[i];
        sr += x[i] * re[i];
        si += x[i] * im[i];
    }
}

Demod demodulate(const double* x, std::size_t n, std::uint64_t first, double omega, long rate, long f0)
{
    Demod d;
    if (n < 2 || n > kTableLength)
        return d;
    const Table& t = table_for(f0, rate);
    d.harmonics = t.harmonics;
    double sx = 0, sxx = 0;
    for (int k = 1; k <= t.harmonics; ++k) {
        double sr, si;
        sums(x, n, t.re[k].data(), t.im[k].data(), sx, sxx, sr, si);
        if (std::isnan(sx))
            return Demod{};  // a foreign float: no tone here
        const double mean = sx / static_cast<double>(n);
        const double er = t.re_sum[k][n], ei = t.im_sum[k][n];
        // Less the mean: its own share of each sum. Then turned to the
        // block's place in the capture, reduced to one turn first.
        const std::complex<double> local(sr - mean * er, si - mean * ei);
        const double start = std::fmod(k * omega * static_cast<double>(first), 2 * kPi);
        d.c[k] = local * std::polar(1.0, -start) * (2.0 / static_cast<double>(n));
    }
    d.mean = sx / static_cast<double>(n);
    d.var = std::max(0.0, sxx / static_cast<double>(n) - d.mean * d.mean);
    return d;
}

Tone_Fit fit_from(const Demod& d, long f0, long family_rate, double omega, double n)
{
    Tone_Fit t;
    t.family_hz = f0;
    t.family_rate = family_rate;
    t.omega = omega;
    t.fundamental = d.c[1];
    t.mean = d.mean;
    double tone_power = 0.0;
    for (int k = 1; k <= d.harmonics; ++k) tone_power += std::norm(d.c[k]) / 2;
    t.fraction = d.var > 0 ? tone_power / d.var : 0.0;
    const double rest = d.var - tone_power;
    t.spread = rest > 0 ? std::sqrt(rest * n / std::max(1.0, n - 2 * d.harmonics - 1)) : 0.0;
    return t;
}

}  // namespace

std::optional<Tone_Fit> find_tone(const double* x, std::size_t n, std::uint64_t first, long rate)
{
    std::optional<Tone_Fit> best;
    for (const long f0 : {14700L, 16000L}) {
        const long family_rate = f0 == 14700 ? 44100 : 48000;
        if (f0 >= kPassband * static_cast<double>(rate))
            continue;
        // A whole division of the rate is a word cycle, followed as such.
        bool divides = false;
        for (const long cycle : {3L, 6L, 12L}) divides = divides || f0 * cycle == rate;
        if (divides)
            continue;
        const double omega = 2 * kPi * static_cast<double>(f0) / static_cast<double>(rate);
        const Demod d = demodulate(x, n, first, omega, rate, f0);
        const Tone_Fit t = fit_from(d, f0, family_rate, omega, static_cast<double>(n));
        const double amplitude = std::abs(t.fundamental) / std::sqrt(2.0);
        if (t.fraction >= kMinFraction && amplitude > kSignificance * t.spread / std::sqrt(n / 2.0) &&
            (!best || t.fraction > best->fraction))
            best = t;
    }
    return best;
}

Tone_Fit refit_tone(const Tone_Fit& tone, const double* x, std::size_t n, std::uint64_t first, long rate)
{
    const Demod d = demodulate(x, n, first, tone.omega, rate, tone.family_hz);
    return fit_from(d, tone.family_hz, tone.family_rate, tone.omega, static_cast<double>(n));
}

bool Tone_Tracker::take(const double* x, std::size_t n, std::uint64_t first, long rate)
{
    const Tone_Fit t = refit_tone(fit_, x, n, first, rate);
    const double ratio = std::abs(t.fundamental) / std::abs(fit_.fundamental);
    if (!(t.fraction >= kMinFraction * 0.8) || !(ratio > 0.8 && ratio < 1.25))
        return false;
    phase_.add(static_cast<double>(first) + static_cast<double>(n) / 2, std::arg(t.fundamental));
    fit_ = t;
    return true;
}

double Tone_Tracker::drift_ppm() const
{
    const std::optional<double> slope = phase_.slope();  // radians per sample
    return slope ? *slope / fit_.omega * 1e6 : 0.0;
}

}  // namespace kova::analysis::detail
