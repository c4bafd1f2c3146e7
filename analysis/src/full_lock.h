#pragma once

// Finding the full signal in a window of samples: its pilot gives the level
// and the phase, the level above the noise gives the code, 17 code bits a
// table index, and the indexes on either side of a segment boundary two
// symbols, which name the segment: every sample's place. Then which source
// channel (or mix of them) the window carries, and at what gain.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "full_code.h"

namespace kova::analysis::detail {

// Samples a window must hold: 441 suffice at any rate (10 ms at 44.1 kHz);
// a few more make a misread bit cost less.
constexpr std::size_t kFullWindow = 512;
// Samples the pilot is first looked for in.
constexpr std::size_t kPilotProbe = 128;

// A window's first samples, folded for the pilot's tests: most windows are
// not the signal, and end there.
class Full_Probe {
public:
    explicit Full_Probe(long rate);
    // False where a sample is not a number.
    bool take(const double* x);
    // Whether a tone at a quarter of the rate's pilot (held `repeat`
    // samples a phase) carries much of the window's swing.
    bool pilot(int repeat) const;
    // The pilot of either rate family as a tone at the capture's rate (the
    // signal resampled, or come through a clock not the capture's): its
    // frequency, 11025 or 12000 Hz, or 0.
    long tone() const;

private:
    double folded_[16] = {};
    double turn_cos_[3][16] = {}, turn_sin_[3][16] = {};  // the pilot's turns at periods 4, 8, 16
    double mean_ = 0.0, var_ = 0.0;
    const double* x_ = nullptr;
    long hz_[2] = {};
    std::vector<double> cos_[2], sin_[2];
};

// The message bits a stretch of segments has shown: value and which are known.
struct Full_Message {
    std::uint16_t value = 0;
    std::uint16_t known = 0;
    bool complete() const { return known == 0xFFFF; }
    bool has_bit(std::uint64_t segment) const { return (known >> full::message_bit_index(segment) & 1) != 0; }
    // False where the bit contradicts one seen before.
    bool learn(std::uint64_t segment, int bit);
    int symbol(std::uint64_t segment) const { return full::symbol(segment, value); }
};

struct Full_Lock {
    int repeat = 0;
    std::int64_t delta = 0;  // capture index - source position
    // The pilot's estimate of the level: capture = scale * word + offset.
    double scale = 0.0;
    double offset = 0.0;
    Full_Message message;
};

// Solves a x = b (a: n by n, row by row) for up to 9 unknowns in place;
// false when singular.
bool solve(std::vector<double>& a, std::vector<double>& b, int n);

// x holds n values from capture index `first`, every one of them present.
std::optional<Full_Lock> find_full_lock(const double* x, std::size_t n, std::uint64_t first, int repeat);

// A window's source: one channel of an N-channel file at a gain, or a mix
// of its channels.
struct Full_Source {
    int channels = 0;  // N
    int channel = 0;   // the one carried alone; 0 for a mix
    double weights[full::kMaxChannels] = {};
    double offset = 0.0;
    double residual = 0.0;  // RMS of what the fit leaves, in steps
    // The fitted value of a source position's words.
    double predict(const std::int32_t* const* tables, std::uint32_t index) const
    {
        double v = offset;
        for (int c = 0; c < channels; ++c)
            if (weights[c] != 0.0)
                v += weights[c] * tables[c][index];
        return v;
    }
};

// Which source the window carries, its positions known from the lock; none
// where no source fits within what a chain's noise could leave.
std::optional<Full_Source> fit_full_source(const double* x, std::size_t n, std::uint64_t first,
                                           const Full_Lock& lock);

}  // namespace kova::analysis::detail
