#include "tone_edges.h"

#include <algorithm>
#include <cmath>

#include "block_sizes.h"

namespace kova::analysis::detail {
namespace {

// Digital silence that ends a resampler's ringing: a run of zeros this long.
constexpr std::uint64_t kSilentRun = 16;

}  // namespace

bool Tone_Edges::holds(const Tone_Fit& tone, std::uint64_t from, std::size_t n) const
{
    const double* x = history_.view(from, n, scratch_);
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

// Sample i's squared error against the tone less its squared error against
// `other`: negative where the tone fits it better; 0 for a sample that is
// not a number.
double Tone_Edges::difference(const Tone_Fit& tone, std::uint64_t i, double other) const
{
    const double v = history_.value(i);
    if (v != v)
        return 0.0;
    const double e_tone = v - tone_value(tone, i, rate_);
    const double e_other = v - other;
    return e_tone * e_tone - e_other * e_other;
}

// A resampler rings ahead of what it was given: after digital silence that
// ringing belongs to the span, back to the silence. After other material,
// the split that leaves the least squared error, that material taken as
// its mean.
std::uint64_t Tone_Edges::start(const Tone_Fit& tone, std::uint64_t s, std::uint64_t limit) const
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
    const double other = history_.mean(a, std::min(a + kToneChunk / 4, s + kToneChunk));
    double best = 0.0, running = 0.0;
    std::uint64_t at = s + kToneChunk;
    for (std::uint64_t i = s + kToneChunk; i-- > a;)
        if ((running += difference(tone, i, other)) < best) {
            best = running;
            at = i;
        }
    return at;
}

// The ringing after the tone belongs to it too, up to digital silence.
std::uint64_t Tone_Edges::end(const Tone_Fit& tone, std::uint64_t e, std::uint64_t floor) const
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
    const double other = history_.mean(b - kToneChunk / 4, b);
    double best = 0.0, running = 0.0;
    std::uint64_t at = a;
    for (i = a; i < b; ++i)
        if ((running += difference(tone, i, other)) < best) {
            best = running;
            at = i + 1;
        }
    return at;
}

}  // namespace kova::analysis::detail
