#include "full_pilot.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "target_clones.h"

namespace kova::analysis::detail {
namespace {

// A block still holds the pilot while it carries this share of the swing,
// at a size within a quarter of the first.
constexpr double kHeld = 0.4;
// Radians the pilot may walk within a block fitted at nominal: it keeps
// sin(w / 2) / (w / 2), 0.8 of its swing, and as much against the first.
constexpr double kWalk = 2.2;

double omega_of(long hz, long rate)
{
    return 2 * kPi * static_cast<double>(hz) / static_cast<double>(rate);
}

// A block's sums against turns made beforehand: four apart in four sums
// each, in lanes of our own that a vector unit takes side by side (sums of
// floating point may not be reordered), in the same order always.
struct Turned_Sums {
    double sx[4] = {}, sxx[4] = {}, re[4] = {}, im[4] = {}, tre[4] = {}, tim[4] = {};
};

typedef double Lanes __attribute__((vector_size(32)));

KOVA_TARGET_CLONES("avx2", "default")
void turned_sums(const double* x, const double* c, const double* s, std::size_t n, Turned_Sums& q)
{
    Lanes sx = {}, sxx = {}, re = {}, im = {}, tre = {}, tim = {};
    std::size_t t = 0;
    for (; t + 4 <= n; t += 4) {
        Lanes v, cv, sv;
        std::memcpy(&v, x + t, sizeof v);
        std::memcpy(&cv, c + t, sizeof cv);
        std::memcpy(&sv, s + t, sizeof sv);
        sx += v;
        sxx += v * v;
        re += v * cv;
        im += v * sv;
        tre += cv;
        tim += sv;
    }
    std::memcpy(q.sx, &sx, sizeof sx);
    std::memcpy(q.sxx, &sxx, sizeof sxx);
    std::memcpy(q.re, &re, sizeof re);
    std::memcpy(q.im, &im, sizeof im);
    std::memcpy(q.tre, &tre, sizeof tre);
    std::memcpy(q.tim, &tim, sizeof tim);
    for (; t < n; ++t) {
        q.sx[0] += x[t];
        q.sxx[0] += x[t] * x[t];
        q.re[0] += x[t] * c[t];
        q.im[0] += x[t] * s[t];
        q.tre[0] += c[t];
        q.tim[0] += s[t];
    }
}

}  // namespace

Pilot_Fit fit_pilot(const double* x, std::size_t n, std::uint64_t first, long rate, long hz)
{
    Pilot_Fit fit;
    fit.hz = hz;
    if (n == 0)
        return fit;
    // The nominal turn at `first` in whole numbers, exact however far in;
    // then a phasor turned sample by sample, in plain multiplications (a
    // complex product would check every one for infinities).
    const double start =
        static_cast<double>(static_cast<std::uint64_t>(hz) * first % static_cast<std::uint64_t>(rate)) * 2 *
        kPi / static_cast<double>(rate);
    const double sc = std::cos(omega_of(hz, rate)), ss = -std::sin(omega_of(hz, rate));
    double c = std::cos(start), si = -std::sin(start);
    double re = 0, im = 0, tre = 0, tim = 0, sx = 0, sxx = 0;
    for (std::size_t t = 0; t < n; ++t) {
        sx += x[t];
        sxx += x[t] * x[t];
        re += x[t] * c;
        im += x[t] * si;
        tre += c;
        tim += si;
        const double nc = c * sc - si * ss;
        si = c * ss + si * sc;
        c = nc;
    }
    const std::complex<double> sum(re, im), turns(tre, tim);
    const auto dn = static_cast<double>(n);
    const double mean = sx / dn;
    const double var = sxx / dn - mean * mean;
    fit.amplitude = (sum - mean * turns) * (2.0 / dn);
    fit.fraction = var > 0 ? std::norm(fit.amplitude) / 2 / var : 0.0;
    return fit;
}

Pilot_Fit Pilot_Tracker::fit(const double* x, std::size_t n, std::uint64_t first, long rate)
{
    // The turns of a block from its own start, made once: the sums are then
    // products of a block with them, four apart in four sums each, instead
    // of a phasor turned sample by sample.
    if (rate != rate_ || n > cos_.size()) {
        rate_ = rate;
        const std::size_t m = std::max<std::size_t>(n, 4096);
        cos_.resize(m);
        sin_.resize(m);
        const double w = omega_of(first_.hz, rate) + shift_;
        for (std::size_t t = 0; t < m; ++t) {
            cos_[t] = std::cos(w * static_cast<double>(t));
            sin_[t] = -std::sin(w * static_cast<double>(t));
        }
    }
    Turned_Sums q;
    turned_sums(x, cos_.data(), sin_.data(), n, q);
    const auto total = [](const double* a) { return (a[0] + a[1]) + (a[2] + a[3]); };
    double* sx = q.sx;
    double* sxx = q.sxx;
    double* re = q.re;
    double* im = q.im;
    double* tre = q.tre;
    double* tim = q.tim;
    // Turned back to the phase at `first`, the nominal part in whole numbers
    // exact however far in.
    double start = static_cast<double>(static_cast<std::uint64_t>(first_.hz) * first %
                                       static_cast<std::uint64_t>(rate)) *
                   2 * kPi / static_cast<double>(rate);
    if (shift_ != 0)
        start += std::fmod(shift_ * static_cast<double>(first), 2 * kPi);
    const std::complex<double> turn(std::cos(start), -std::sin(start));
    const std::complex<double> sum = std::complex<double>(total(re), total(im)) * turn;
    const std::complex<double> turns = std::complex<double>(total(tre), total(tim)) * turn;
    Pilot_Fit f;
    f.hz = first_.hz;
    if (n == 0)
        return f;
    const auto dn = static_cast<double>(n);
    const double mean = total(sx) / dn;
    const double var = total(sxx) / dn - mean * mean;
    f.amplitude = (sum - mean * turns) * (2.0 / dn);
    f.fraction = var > 0 ? std::norm(f.amplitude) / 2 / var : 0.0;
    return f;
}

bool Pilot_Tracker::take(const double* x, std::size_t n, std::uint64_t first, long rate)
{
    if (block_ == 0) {
        // How fast the pilot turns from nominal, from the block's eighths
        // (a clock 1500 ppm off turns it less than half a turn between
        // two): where it would walk too far round within a block, the
        // blocks are fitted at that frequency instead. A short last block
        // alone tells too little.
        const std::size_t m = n >= 1024 ? n / 8 : 0;
        std::complex<double> turned;
        for (std::size_t k = 0; m > 0 && k + 1 < 8; ++k)
            turned += std::conj(fit_pilot(x + k * m, m, first + k * m, rate, first_.hz).amplitude) *
                      fit_pilot(x + (k + 1) * m, m, first + (k + 1) * m, rate, first_.hz).amplitude;
        const double shift = m > 0 ? std::arg(turned) / static_cast<double>(m) : 0.0;
        if (std::fabs(shift) * static_cast<double>(n) > kWalk) {
            shift_ = shift;
            rate_ = 0;  // the turns made again at that frequency
        }
    }
    const Pilot_Fit f = fit(x, n, first, rate);
    const double ratio = std::abs(f.amplitude) / std::abs(first_.amplitude);
    if (!(f.fraction >= kHeld) || !(ratio > 0.75 && ratio < 1.33))
        return false;
    phase_.add(static_cast<double>(first) + static_cast<double>(n) / 2, std::arg(f.amplitude));
    // Blocks of the first one's length only: a drift takes the same share
    // of the pilot from each, given back when the drift is known.
    if (block_ == 0)
        block_ = n;
    if (n == block_) {
        power_ += std::norm(f.amplitude) / 2;
        swing_ += std::norm(f.amplitude) / 2 / f.fraction;
    }
    return true;
}

double pilot_spread(long source, long family_rate, long rate)
{
    const int r = static_cast<int>(source / family_rate);
    // A harmonic at k / 4 of the family rate lies below the lower half-rate.
    const double below = static_cast<double>(std::min(source, rate)) / 2;
    double pilot = 0;
    for (int k = 1; k < 2 * r; k += 2) {
        if (static_cast<double>(k) * static_cast<double>(family_rate) / 4 >= below)
            break;
        const double g = std::sin(kPi * k / 4) / (r * std::sin(kPi * k / (4.0 * r)));
        pilot += g * g;
    }
    const double g1 = std::sin(kPi / 4) / (r * std::sin(kPi / (4.0 * r)));
    const double noise = (0.25 + 1.0 / 48) / 4.5 * std::min(1.0, static_cast<double>(rate) / source);
    return (pilot - g1 * g1 + noise) / (g1 * g1);
}

long Pilot_Tracker::source_rate(long family_rate, long rate) const
{
    if (!(power_ > 0))
        return 0;
    // Fitted at the frequency taken, a block of n samples keeps
    // |sin(n d / 2) / (n sin(d / 2))| of a pilot d radians a sample off it.
    const double d = omega_of(first_.hz, rate) * drift_ppm(rate) * 1e-6 - shift_;
    const auto n = static_cast<double>(block_);
    const double kept = std::fabs(d * n) < 1e-9 ? 1.0 : std::sin(n * d / 2) / (n * std::sin(d / 2));
    if (!(std::fabs(kept) > 0.5))
        return 0;
    const double spread = swing_ / (power_ / (kept * kept)) - 1;
    // A resampler's filter takes a little of the noise near its edge (up to
    // about a tenth); a fold-down of channels a little of their own.
    long found = 0;
    for (const long source : {family_rate, 2 * family_rate, 4 * family_rate}) {
        const double p = pilot_spread(source, family_rate, rate);
        if (spread >= 0.88 * p && spread <= 1.08 * p) {
            if (found != 0)
                return 0;
            found = source;
        }
    }
    return found;
}

double Pilot_Tracker::drift_ppm(long rate) const
{
    const auto slope = phase_.slope();  // radians per sample beyond the frequency taken
    return slope ? (*slope + shift_) / omega_of(first_.hz, rate) * 1e6 : 0.0;
}

}  // namespace kova::analysis::detail
