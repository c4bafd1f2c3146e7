#pragma once

// What the analysis finds in one channel of a capture, and the words it uses
// for it. The verdict names are a fixed vocabulary that scripts rely on.
//
// The pattern's span runs from the first to the last sample that carries it
// in any form. Within it every sample should be its exact word at its exact
// phase, at the repeat the capture's rate calls for, for one of the
// durations the programs write; anything else is named.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kova/analysis/full_report.h"

namespace kova::analysis {

// A place inside the span where the cycle broke off and resumed elsewhere.
struct Dropout {
    std::uint64_t position = 0;  // first sample that did not continue the cycle
    std::uint64_t foreign = 0;   // samples that are not the pattern before it resumed: inserted
    // Pattern samples skipped across the break, known from the cycle only
    // modulo its length: `foreign` if that fits (replaced in place), else
    // the representative nearest zero.
    long long skipped = 0;
    long long net() const { return static_cast<long long>(foreign) - skipped; }
    // What the span's length makes of it: pattern samples lost, exact when
    // lost_exact, else the fewest found to fit (the rest is counted in the
    // span's unplaced samples); and samples inserted: the foreign ones, and
    // any that repeated the pattern where the length shows more than the
    // source held.
    std::uint64_t lost = 0;
    bool lost_exact = false;
    int residue = 0;  // pattern samples skipped, modulo the cycle: what the cycle shows
    std::uint64_t inserted = 0;
};

// A part of the span over which the chain did one thing to the words.
struct Stretch {
    std::uint64_t first = 0;
    std::uint64_t last = 0;  // inclusive
    bool exact = false;      // every sample its word
    bool inverted = false;
    bool gain = false;
    bool offset = false;
    bool altered = false;
    bool resampled = false;
    double gain_factor = 1.0;  // capture = word * gain_factor + offset_steps
    double offset_steps = 0.0;
    // Where the offset moved within the stretch (a high-pass settling).
    double offset_min = 0.0;
    double offset_max = 0.0;
    std::uint64_t differing = 0;  // samples not exactly their word
    std::uint64_t changed = 0;    // of those, changed in place where the rest holds
};

// The pattern arrived at another rate than it was made for, through a
// resampler or a clock that was not the capture's.
struct Resampling {
    long family_hz = 0;    // the pattern's fundamental: 14700 (44.1 kHz family) or 16000 (48 kHz)
    long family_rate = 0;  // 44100 or 48000
    // capture rate / the rate the pattern arrived at: source_rate (or,
    // where that cannot be told, family_rate), sped up by the drift.
    double ratio = 1.0;
    // How much faster the pattern arrived than the capture's clock took it,
    // in parts per million; 0 when no drift shows.
    double drift_ppm = 0.0;
    // The rate the pattern was made at, as what is left of its staircase
    // tells; 0 where it cannot (its DC moved, or too much noise).
    long source_rate = 0;
};

// Samples outside the span, before or after it.
struct Outside {
    std::uint64_t samples = 0;
    bool silent = true;  // all digital silence (zero)
    double peak = 0.0;   // largest magnitude, in 24-bit steps
};

// How the span compares with the five durations.
struct Duration_Match {
    std::optional<int> seconds;  // the duration matched exactly, if any
    int nearest_seconds = 0;
    long long difference = 0;  // span length - nearest duration, in samples
};

struct Channel_Report {
    bool present = false;  // the pattern is there in some form

    // The span, as sample indexes (inclusive).
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::uint64_t length() const { return present ? last - first + 1 : 0; }

    int repeat = 0;  // samples per word: 1, 2 or 4 (0 when resampled only)
    // The capture's rate is one the pattern is made at, and its class holds
    // words this long.
    bool repeat_fits = false;
    Duration_Match duration;
    // The span's whole seconds, when it lasts a whole number of them.
    std::optional<long long> whole_seconds;

    // Verdicts; bit-perfect is all of them false.
    bool inverted = false;
    bool gain = false;
    bool offset = false;
    bool dropouts = false;
    bool altered = false;
    bool resampled = false;
    bool incomplete = false;
    // The full signal only: the words kept fewer than 24 bits; the channel
    // carries another source channel than its own, or a mix of them.
    bool truncated = false;
    bool channels = false;

    // From the longest stretch that was changed in level.
    double gain_factor = 1.0;  // capture = word * gain_factor + offset_steps
    double gain_db = 0.0;
    double offset_steps = 0.0;

    std::uint64_t dropout_count = 0;
    std::vector<Dropout> first_dropouts;  // the first few, in order

    // Against the words themselves over the span's word-aligned stretches,
    // in 24-bit steps; exact samples count 0.
    std::uint64_t differing = 0;
    double max_difference = 0.0;
    double rms_difference = 0.0;
    std::uint64_t nonfinite = 0;  // infinite or not-a-number float samples in the span

    // The span short of a whole number of seconds: pattern samples missing
    // at its start and end (cut there: the capture began late or ended
    // early, or the chain lost them), each exact or the fewest there can
    // be, and whole cycles missing (positive) or added (negative) that the
    // pattern cannot place.
    std::uint64_t missing_start = 0;
    std::uint64_t missing_end = 0;
    bool missing_start_exact = true;
    bool missing_end_exact = true;
    long long unplaced = 0;
    // The whole seconds the span was judged against (--expect-duration, or
    // the shortest of the five that can hold it).
    long long judged_seconds = 0;

    // What the span's length is judged from, as the tracker saw it: the
    // cycle, the phases the span begins and ends at, its ends, and what the
    // dropouts inserted and skipped (with first_dropouts' own foreign and
    // residue). Judging again against another duration starts from here.
    struct Accounting {
        int cycle = 0;
        int first_phase = 0;
        int last_phase = 0;
        // The span's ends are clean cuts, not a fade or noise that blurs them.
        bool start_crisp = true;
        bool end_crisp = true;
        bool starts_capture = false;  // the span begins at the capture's first sample
        bool ends_capture = false;    // and ends at its last
        // Over all dropouts: samples inserted that are not the pattern, and
        // pattern samples skipped, each at the choice nearest to no net
        // change and at the fewest its cycle allows.
        std::uint64_t foreign = 0;
        long long skipped_nearest = 0;
        long long skipped_fewest = 0;
    } accounting;

    std::uint64_t stretch_count = 0;
    std::vector<Stretch> stretches;  // the first few, in order
    std::optional<Resampling> resampling;
    Outside before;
    Outside after;
    // The full signal's own findings; none for the pattern.
    std::optional<Full_Findings> full;

    bool bit_perfect() const
    {
        return present && !inverted && !gain && !offset && !dropouts && !altered && !resampled &&
               !incomplete && !truncated && !channels;
    }
};

// The verdicts' names, spelled here and nowhere else.
namespace verdict {
constexpr const char* kBitPerfect = "bit-perfect";
constexpr const char* kInverted = "inverted";
constexpr const char* kGain = "gain";
constexpr const char* kOffset = "offset";
constexpr const char* kDropouts = "dropouts";
constexpr const char* kAltered = "altered";
constexpr const char* kResampled = "resampled";
constexpr const char* kIncomplete = "incomplete";
constexpr const char* kTruncated = "truncated";
constexpr const char* kChannels = "channels";
constexpr const char* kAbsent = "absent";
}  // namespace verdict

// "bit-perfect", or the names that apply in a fixed order ("gain",
// "dropouts"), or "absent".
std::vector<std::string> verdict_names(const Channel_Report& report);
// A stretch's: "bit-perfect" where it is exact, and what it shows of the
// level and the rate, in the same order.
std::vector<std::string> verdict_names(const Stretch& stretch);

// Whether the pattern is ever made at this rate: one of the six.
bool pattern_rate(long rate);

// Matches a span of `samples` at `rate` against the five durations.
Duration_Match match_duration(std::uint64_t samples, long rate);

// Works out what is missing from a span, or was added to it, against
// `seconds` (0: the shortest of the five durations that can hold it), from
// its accounting alone, and sets incomplete, dropouts, the missing figures
// and each dropout's lost and inserted accordingly. Judging again replaces
// what an earlier judgement set.
void judge_length(Channel_Report& report, long rate, long long seconds = 0);

// The word lengths the pattern exercises: its words have their low 9 bits
// zero, so a chain that keeps at least this many bits passes.
constexpr int kPatternSignificantBits = 15;

}  // namespace kova::analysis
