#include "tone.h"

#include <cmath>
#include <initializer_list>

namespace kova::analysis::detail {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSignificance = 8.0;
// A resampled pattern is clean: its tone and harmonics carry nearly all of
// its swing. Music or noise with a component there carries little.
constexpr double kMinFraction = 0.5;
// Harmonics up to where a resampler's filter still passes them.
constexpr double kPassband = 0.45;

struct Demod {
    double mean = 0.0;
    double var = 0.0;
    std::complex<double> c[4];
    int harmonics = 0;
};

Demod demodulate(const double* x, std::size_t n, std::uint64_t first, double omega, long rate, long f0)
{
    Demod d;
    for (int k = 1; k <= 3 && k * f0 < kPassband * static_cast<double>(rate); ++k)
        d.harmonics = k;
    double sum = 0.0, sq = 0.0, taken = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        if (x[i] == x[i]) {
            sum += x[i];
            taken += 1;
        }
    if (taken < 2)
        return d;
    d.mean = sum / taken;
    std::complex<double> acc[4];
    // The phase from an absolute index: reduced to one turn first, so that
    // hours into a capture it keeps its precision.
    const double start = std::fmod(omega * static_cast<double>(first), 2 * kPi);
    const std::complex<double> step = std::polar(1.0, -omega);
    std::complex<double> rot = std::polar(1.0, -start);
    for (std::size_t i = 0; i < n; ++i) {
        const double v = x[i] - d.mean;
        if (v == v) {
            sq += v * v;
            std::complex<double> r = rot;
            for (int k = 1; k <= d.harmonics; ++k) {
                acc[k] += v * r;
                r *= rot;
            }
        }
        rot *= step;
        if ((i & 1023) == 1023)
            rot /= std::abs(rot);  // keep it on the unit circle
    }
    d.var = sq / taken;
    for (int k = 1; k <= d.harmonics; ++k)
        d.c[k] = acc[k] * (2.0 / taken);
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
    for (int k = 1; k <= d.harmonics; ++k)
        tone_power += std::norm(d.c[k]) / 2;
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
        for (const long cycle : {3L, 6L, 12L})
            divides = divides || f0 * cycle == rate;
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
    double phase = std::arg(t.fundamental);
    if (n_ > 0) {
        while (phase - last_phase_ > kPi)
            phase -= 2 * kPi;
        while (phase - last_phase_ < -kPi)
            phase += 2 * kPi;
    }
    last_phase_ = phase;
    const double at = static_cast<double>(first) + static_cast<double>(n) / 2;
    if (n_ == 0)
        x_first_ = at;
    x_last_ = at;
    sx_ += at;
    sxx_ += at * at;
    sy_ += phase;
    sxy_ += at * phase;
    n_ += 1;
    fit_ = t;
    return true;
}

double Tone_Tracker::drift_ppm() const
{
    const double den = n_ * sxx_ - sx_ * sx_;
    if (n_ < 3 || den <= 0)
        return 0.0;
    const double slope = (n_ * sxy_ - sx_ * sy_) / den;  // radians per sample
    return slope / fit_.omega * 1e6;
}

}  // namespace kova::analysis::detail
