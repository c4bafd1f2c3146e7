#pragma once

// What kova-check finds in one channel of a capture, and the words it uses
// for it. The verdict names are a fixed vocabulary that scripts rely on.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kova::analysis {

// A place where the cycle broke and later resumed.
struct Dropout {
    std::uint64_t position = 0;  // first sample that did not continue the cycle
    std::uint64_t foreign = 0;   // samples not of the pattern before it resumed
    // Pattern samples skipped across the break, known only modulo the cycle
    // length: `foreign` if that fits (samples replaced in place), else the
    // representative nearest zero.
    long long skipped = 0;
    // Samples inserted (positive) or lost (negative) here, as far as the
    // cycle tells: foreign - skipped.
    long long net() const { return static_cast<long long>(foreign) - skipped; }
};

// How a whole-cycle region compares with the five durations.
struct Duration_Match {
    std::optional<int> seconds;  // the duration matched exactly, if any
    int nearest_seconds = 0;
    long long difference = 0;    // region length - nearest duration, in samples
};

struct Channel_Report {
    bool present = false;  // at least one whole cycle was found

    // Region of whole cycles, as sample indexes (inclusive).
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t length() const { return present ? last - first + 1 : 0; }

    int repeat = 0;            // samples per word: 1, 2 or 4
    bool repeat_fits = false;  // the capture's rate class holds words this long
    Duration_Match duration;

    // Verdicts; bit-perfect is all of them false.
    bool inverted = false;
    bool gain = false;
    bool offset = false;
    bool dropouts = false;
    bool altered = false;

    double gain_factor = 1.0;  // capture = word * gain_factor + offset_steps
    double gain_db = 0.0;
    double offset_steps = 0.0;

    std::uint64_t dropout_count = 0;
    std::vector<Dropout> first_dropouts;  // the first few, in order

    // Against the words themselves, in 24-bit steps; exact samples count 0.
    std::uint64_t differing = 0;
    double max_difference = 0.0;
    double rms_difference = 0.0;

    bool bit_perfect() const { return present && !inverted && !gain && !offset && !dropouts && !altered; }
};

// "bit-perfect", or the names that apply in a fixed order ("gain",
// "dropouts"), or "absent".
std::vector<std::string> verdict_names(const Channel_Report& report);

// Matches a region of `samples` at `rate` against the five durations.
Duration_Match match_duration(std::uint64_t samples, long rate);

}  // namespace kova::analysis
