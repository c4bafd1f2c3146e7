#include "full_lock.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "phase_line.h"

namespace kova::analysis::detail {
namespace {

constexpr double kStep = full::kLevelStep;
// The pilot's centre per phase, in level steps.
constexpr double kCentre[4] = {0.0, 3.0, 0.0, -3.0};
// Of the swing, what the pilot carries in the signal: nine tenths at one
// sample per phase; held over 2 or 4 samples, its fundamental less.
constexpr double kPilotFraction = 0.3;
// Where in its level step a value may lie and still count: the noise keeps
// to the middle half, so a reading off by up to 0.15 of a step is right.
constexpr double kLevelMargin = 0.1;
// Pieces of the code shorter than this many 17-bit windows are not trusted
// to name a segment.
constexpr int kMinPiece = 8;

struct Piece {
    std::size_t first = 0;   // window (sample) where it begins
    std::size_t count = 0;   // windows
    std::int32_t index = 0;  // table index of its first window
};

// The code read under one guess of the pilot's phase and sign; the windows
// whose 17 bits name an index where the pilot's phase agrees.
std::vector<Piece> read_code(const double* x, std::size_t n, std::uint64_t first, int repeat, int psi,
                             double scale, double offset)
{
    const auto& code = Full_Code::get();
    const int period = 4 * repeat;
    std::vector<Piece> pieces;
    std::uint32_t state = 0;
    std::size_t run = 0;
    std::int32_t last = -2;
    for (std::size_t t = 0; t < n; ++t) {
        const int q = static_cast<int>(((first + t + static_cast<std::uint64_t>(psi)) % period) / repeat);
        const double v = (x[t] - offset) / scale / kStep;
        const double level = std::floor(v);
        const double frac = v - level;
        const double bit = level - full::kPilotBase[q];
        if (!(frac >= kLevelMargin && frac <= 1 - kLevelMargin) || !(bit == 0.0 || bit == 1.0)) {
            run = 0;
            last = -2;
            continue;
        }
        state = state >> 1 | static_cast<std::uint32_t>(bit) << (full::kCodeBits - 1);
        if (++run < static_cast<std::size_t>(full::kCodeBits))
            continue;
        const std::size_t w = t + 1 - full::kCodeBits;
        const std::int32_t idx = code.index_of(state);
        const int wq = static_cast<int>(((first + w + static_cast<std::uint64_t>(psi)) % period) / repeat);
        if (idx < 0 || (idx / repeat) % 4 != wq) {
            last = -2;
            continue;
        }
        if (idx == last + 1 && !pieces.empty() && pieces.back().first + pieces.back().count == w)
            ++pieces.back().count;
        else
            pieces.push_back({w, 1, idx});
        last = idx;
    }
    return pieces;
}

// From two pieces on either side of a segment boundary: delta, or none.
bool pair_delta(const Piece& a, const Piece& b, std::uint64_t first, std::int64_t& delta)
{
    // b's true start is the window in its first 16 whose index a segment
    // can start at; a's windows up to 17 before it are its own.
    std::size_t start = b.first;
    bool found = false;
    for (std::size_t k = 0; k < std::min<std::size_t>(16, b.count); ++k)
        if ((b.index + static_cast<std::int32_t>(k)) % full::kOffsetStep == 0) {
            start = b.first + k;
            found = true;
            break;
        }
    if (!found || b.first + b.count - start < static_cast<std::size_t>(kMinPiece))
        return false;
    const std::int32_t b_index = b.index + static_cast<std::int32_t>(start - b.first);
    if (start < static_cast<std::size_t>(full::kCodeBits) || a.first + kMinPiece + full::kCodeBits > start ||
        a.first + a.count + full::kCodeBits <= start)
        return false;
    // The index of a's last sample, the one before the boundary.
    const std::int64_t a_last = a.index + static_cast<std::int64_t>(start - 1 - a.first);
    if (a_last < full::kSegment - 1 || (a_last - (full::kSegment - 1)) % full::kOffsetStep != 0)
        return false;
    const int a_symbol = static_cast<int>((a_last - (full::kSegment - 1)) / full::kOffsetStep);
    std::uint64_t segment = 0;
    if (!full::decode_pair(a_symbol, b_index / full::kOffsetStep, segment))
        return false;
    delta =
        static_cast<std::int64_t>(first + start) - static_cast<std::int64_t>((segment + 1) * full::kSegment);
    return true;
}

// Every piece agrees with delta; the symbols' lowest bits are the message.
bool confirm(const std::vector<Piece>& pieces, std::uint64_t first, std::int64_t delta, Full_Message& message)
{
    std::size_t agree = 0, disagree = 0;
    for (const auto& p : pieces) {
        for (std::size_t k = 0; k < p.count; ++k) {
            const std::int64_t pos = static_cast<std::int64_t>(first + p.first + k) - delta;
            if (pos < 0) {
                ++disagree;
                continue;
            }
            const auto f = static_cast<std::uint64_t>(pos) / full::kSegment;
            const int j = static_cast<int>(static_cast<std::uint64_t>(pos) % full::kSegment);
            if (j > full::kSegment - full::kCodeBits)
                continue;  // its 17 bits run into the next segment
            const std::int32_t at = p.index + static_cast<std::int32_t>(k) - j;
            if (at < 0 || at % full::kOffsetStep != 0 || f >= full::kMaxSegments) {
                ++disagree;
                continue;
            }
            const int symbol = at / full::kOffsetStep;
            if ((symbol >> 1) != (full::symbol(f, 0) >> 1) || !message.learn(f, symbol & 1)) {
                ++disagree;
                continue;
            }
            ++agree;
        }
    }
    return agree >= 3 * kMinPiece && disagree * 10 <= agree;
}

}  // namespace

bool solve(std::vector<double>& a, std::vector<double>& b, int n)
{
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int r = col + 1; r < n; ++r)
            if (std::fabs(a[static_cast<std::size_t>(r * n + col)]) >
                std::fabs(a[static_cast<std::size_t>(pivot * n + col)]))
                pivot = r;
        if (std::fabs(a[static_cast<std::size_t>(pivot * n + col)]) < 1e-9)
            return false;
        if (pivot != col) {
            for (int k = 0; k < n; ++k)
                std::swap(a[static_cast<std::size_t>(col * n + k)],
                          a[static_cast<std::size_t>(pivot * n + k)]);
            std::swap(b[static_cast<std::size_t>(col)], b[static_cast<std::size_t>(pivot)]);
        }
        for (int r = 0; r < n; ++r) {
            if (r == col)
                continue;
            const double f =
                a[static_cast<std::size_t>(r * n + col)] / a[static_cast<std::size_t>(col * n + col)];
            for (int k = col; k < n; ++k)
                a[static_cast<std::size_t>(r * n + k)] -= f * a[static_cast<std::size_t>(col * n + k)];
            b[static_cast<std::size_t>(r)] -= f * b[static_cast<std::size_t>(col)];
        }
    }
    for (int r = 0; r < n; ++r) b[static_cast<std::size_t>(r)] /= a[static_cast<std::size_t>(r * n + r)];
    return true;
}

bool Full_Message::learn(std::uint64_t segment, int bit)
{
    const int k = full::message_bit_index(segment);
    const auto mask = static_cast<std::uint16_t>(1u << k);
    if ((known & mask) != 0)
        return ((value >> k) & 1) == bit;
    known = static_cast<std::uint16_t>(known | mask);
    if (bit)
        value = static_cast<std::uint16_t>(value | mask);
    return true;
}

Full_Probe::Full_Probe(long rate)
{
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 16; ++k) {
            const int period = 4 << i;
            turn_cos_[i][k] = std::cos(2 * kPi * (k % period) / period);
            turn_sin_[i][k] = std::sin(2 * kPi * (k % period) / period);
        }
    // The two families' pilots at this rate, as tables over the probe.
    int k = 0;
    for (const long hz : {11025L, 12000L}) {
        if (2 * hz >= rate)
            continue;
        hz_[k] = hz;
        cos_[k].resize(kPilotProbe);
        sin_[k].resize(kPilotProbe);
        for (std::size_t t = 0; t < kPilotProbe; ++t) {
            const double a =
                2 * kPi *
                static_cast<double>(static_cast<std::uint64_t>(hz) * t % static_cast<std::uint64_t>(rate)) /
                static_cast<double>(rate);
            cos_[k][t] = std::cos(a);
            sin_[k][t] = std::sin(a);
        }
        ++k;
    }
}

bool Full_Probe::take(const double* x)
{
    // Sixteen sums side by side, which a vector unit takes whole; a sample
    // that is not a number leaves the squares' sum not one either.
    double sq[16] = {};
    for (double& f : folded_) f = 0;
    for (std::size_t t = 0; t < kPilotProbe; t += 16)
        for (std::size_t k = 0; k < 16; ++k) {
            folded_[k] += x[t + k];
            sq[k] += x[t + k] * x[t + k];
        }
    double sum = 0, sum2 = 0;
    for (std::size_t k = 0; k < 16; ++k) {
        sum += folded_[k];
        sum2 += sq[k];
    }
    if (std::isnan(sum2))
        return false;
    const auto n = static_cast<double>(kPilotProbe);
    mean_ = sum / n;
    var_ = sum2 / n - mean_ * mean_;
    x_ = x;
    return true;
}

bool Full_Probe::pilot(int repeat) const
{
    // The fundamental at a period of 4 * repeat samples, from the probe
    // folded over 16 (whole periods of every repeat).
    const int i = repeat == 1 ? 0 : repeat == 2 ? 1 : 2;
    double re = 0, im = 0;
    for (int k = 0; k < 16; ++k) {
        re += folded_[k] * turn_cos_[i][k];
        im -= folded_[k] * turn_sin_[i][k];
    }
    const auto n = static_cast<double>(kPilotProbe);
    const double power = 2 * (re * re + im * im) / (n * n);
    return var_ > 0 && power >= kPilotFraction * var_;
}

long Full_Probe::tone() const
{
    if (!(var_ > 0))
        return 0;
    const auto n = static_cast<double>(kPilotProbe);
    for (int k = 0; k < 2; ++k) {
        if (hz_[k] == 0)
            continue;
        double re = 0, im = 0;
        for (std::size_t t = 0; t < kPilotProbe; ++t) {
            re += (x_[t] - mean_) * cos_[k][t];
            im -= (x_[t] - mean_) * sin_[k][t];
        }
        if (2 * (re * re + im * im) / (n * n) >= kPilotFraction * var_)
            return hz_[k];
    }
    return 0;
}

std::optional<Full_Lock> find_full_lock(const double* x, std::size_t n, std::uint64_t first, int repeat)
{
    const int period = 4 * repeat;
    double sum[16] = {};
    double count[16] = {};
    double total = 0;
    for (std::size_t t = 0; t < n; ++t) {
        const auto k = static_cast<std::size_t>((first + t) % static_cast<std::uint64_t>(period));
        sum[k] += x[t];
        count[k] += 1;
        total += x[t];
    }
    const double mean = total / static_cast<double>(n);
    // The phase the class means follow the pilot best at.
    int psi = 0;
    double best = 0;
    for (int p = 0; p < period; ++p) {
        double corr = 0;
        for (int k = 0; k < period; ++k)
            if (count[k] > 0)
                corr += (sum[k] / count[k] - mean) * kCentre[((k + p) % period) / repeat];
        if (corr > best) {
            best = corr;
            psi = p;
        }
    }
    if (!(best > 0))
        return std::nullopt;
    const double scale = best / (18.0 * repeat * kStep);
    // The pilot shifted by half a turn is the pilot inverted: both are read.
    for (const int sign : {1, -1}) {
        const int p = sign > 0 ? psi : (psi + 2 * repeat) % period;
        const auto pieces = read_code(x, n, first, repeat, p, sign * scale, mean);
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (pieces[i].count < static_cast<std::size_t>(kMinPiece))
                continue;
            for (std::size_t k = i + 1; k < pieces.size(); ++k) {
                std::int64_t delta = 0;
                if (!pair_delta(pieces[i], pieces[k], first, delta))
                    continue;
                Full_Lock lock;
                lock.repeat = repeat;
                lock.delta = delta;
                lock.scale = sign * scale;
                lock.offset = mean;
                if (confirm(pieces, first, delta, lock.message))
                    return lock;
                break;
            }
        }
    }
    return std::nullopt;
}

std::optional<Full_Source> fit_full_source(const double* x, std::size_t n, std::uint64_t first,
                                           const Full_Lock& lock)
{
    const auto& code = Full_Code::get();
    // The samples whose table index is known: their segment's symbol read.
    std::vector<std::uint32_t> index;
    std::vector<double> value;
    for (std::size_t t = 0; t < n; ++t) {
        const std::int64_t pos = static_cast<std::int64_t>(first + t) - lock.delta;
        if (pos < 0)
            continue;
        const auto f = static_cast<std::uint64_t>(pos) / full::kSegment;
        if (f >= full::kMaxSegments || !lock.message.has_bit(f))
            continue;
        index.push_back(full_index(static_cast<std::uint64_t>(pos), lock.message.symbol(f)));
        value.push_back(x[t]);
    }
    const std::size_t m = index.size();
    if (m < 64)
        return std::nullopt;
    std::vector<double> common(m);
    for (std::size_t i = 0; i < m; ++i)
        common[i] = full::word_of(full::pilot_phase(index[i], lock.repeat), code.bits[index[i]], 0);

    // One channel at a gain: every channel of every channel count tried,
    // first on every fourth sample, then the two nearest on all of them.
    const double dm = static_cast<double>(m);
    const auto fit_one = [&](int c, int channels, std::size_t stride, double& g, double& o) {
        double sx = 0, sxx = 0, sw = 0, sww = 0, sxw = 0, k = 0;
        for (std::size_t i = 0; i < m; i += stride) {
            const double w = common[i] + full::noise(c, channels, index[i]);
            sx += value[i];
            sxx += value[i] * value[i];
            sw += w;
            sww += w * w;
            sxw += value[i] * w;
            k += 1;
        }
        const double den = k * sww - sw * sw;
        if (!(den > 0))
            return -1.0;
        g = (k * sxw - sw * sx) / den;
        o = (sx - g * sw) / k;
        return std::max(0.0, sxx - o * sx - g * sxw) / k;  // mean square left
    };
    int near[2][2] = {{0, 0}, {0, 0}};
    double near_ms[2] = {-1, -1};
    for (int channels = 1; channels <= full::kMaxChannels; ++channels)
        for (int c = 1; c <= channels; ++c) {
            double g = 0, o = 0;
            const double ms = fit_one(c, channels, 4, g, o);
            if (ms < 0)
                continue;
            if (near_ms[0] < 0 || ms < near_ms[0]) {
                near_ms[1] = near_ms[0];
                near[1][0] = near[0][0];
                near[1][1] = near[0][1];
                near_ms[0] = ms;
                near[0][0] = c;
                near[0][1] = channels;
            } else if (near_ms[1] < 0 || ms < near_ms[1]) {
                near_ms[1] = ms;
                near[1][0] = c;
                near[1][1] = channels;
            }
        }
    Full_Source best;
    double best_rss = -1, second_rss = -1;
    for (int k = 0; k < 2; ++k) {
        if (near_ms[k] < 0)
            continue;
        double g = 0, o = 0;
        const double rss = fit_one(near[k][0], near[k][1], 1, g, o) * dm;
        if (rss < 0)
            continue;
        if (best_rss < 0 || rss < best_rss) {
            second_rss = best_rss;
            best_rss = rss;
            best = Full_Source{};
            best.channels = near[k][1];
            best.channel = near[k][0];
            best.weights[near[k][0] - 1] = g;
            best.offset = o;
        } else {
            second_rss = rss;
        }
    }
    if (best_rss < 0)
        return std::nullopt;
    best.residual = std::sqrt(best_rss / dm);
    // Near the words, and no other channel near it: one source.
    const double clear = 1 << 12;
    if (best.residual < clear && second_rss > 4 * best_rss)
        return best;

    // A mix of the channels of one file: each channel count tried on every
    // fourth sample, the nearest on all of them.
    const auto fit_mix = [&](int channels, std::size_t stride) -> std::optional<Full_Source> {
        const int u = channels + 1;
        std::vector<double> a(static_cast<std::size_t>(u * u), 0.0), b(static_cast<std::size_t>(u), 0.0);
        std::vector<double> w(static_cast<std::size_t>(u));
        for (std::size_t i = 0; i < m; i += stride) {
            for (int c = 0; c < channels; ++c)
                w[static_cast<std::size_t>(c)] = common[i] + full::noise(c + 1, channels, index[i]);
            w[static_cast<std::size_t>(channels)] = 1.0;
            for (int r = 0; r < u; ++r) {
                b[static_cast<std::size_t>(r)] += w[static_cast<std::size_t>(r)] * value[i];
                for (int k = 0; k < u; ++k)
                    a[static_cast<std::size_t>(r * u + k)] +=
                        w[static_cast<std::size_t>(r)] * w[static_cast<std::size_t>(k)];
            }
        }
        if (!solve(a, b, u))
            return std::nullopt;
        Full_Source s;
        s.channels = channels;
        for (int c = 0; c < channels; ++c) s.weights[c] = b[static_cast<std::size_t>(c)];
        s.offset = b[static_cast<std::size_t>(channels)];
        double rss = 0, k = 0;
        for (std::size_t i = 0; i < m; i += stride) {
            double v = s.offset;
            for (int c = 0; c < channels; ++c)
                v += s.weights[c] * (common[i] + full::noise(c + 1, channels, index[i]));
            rss += (value[i] - v) * (value[i] - v);
            k += 1;
        }
        s.residual = std::sqrt(rss / k);
        return s;
    };
    std::optional<Full_Source> mix;
    int mix_channels = 0;
    for (int channels = 2; channels <= full::kMaxChannels; ++channels) {
        const auto s = fit_mix(channels, 4);
        if (s && (!mix || s->residual < mix->residual)) {
            mix = s;
            mix_channels = channels;
        }
    }
    if (mix)
        mix = fit_mix(mix_channels, 1);
    if (mix && mix->residual < clear && mix->residual * 4 < best.residual) {
        // Weights that are noise of the fit count as none.
        int carried = 0;
        for (int c = 0; c < mix->channels; ++c) {
            if (std::fabs(mix->weights[c]) < 1e-3)
                mix->weights[c] = 0;
            carried += mix->weights[c] != 0;
        }
        if (carried >= 2)
            return mix;
    }
    // Further off the words than a chain's noise, but still one channel more
    // than any other: a codec or filter, named as altered.
    if (best.residual < 4 * clear && second_rss > 4 * best_rss)
        return best;
    return std::nullopt;
}

}  // namespace kova::analysis::detail
