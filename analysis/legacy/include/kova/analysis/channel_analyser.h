#pragma once

// Follows the pattern through one channel of a capture, block by block, in
// memory that does not grow with the length of the capture.
//
// Samples are judged in 24-bit steps (one step is one unit of a 24-bit word).
// An integer sample counts as a word when its top 24 bits equal it; a float
// sample when it equals word / 2^23 exactly.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "kova/analysis/channel_report.h"

namespace kova::analysis {

struct Sample_Format {
    bool is_float = false;
    int bits = 24;  // width of an integer sample: 8, 16, 24 or 32
};

class Channel_Analyser {
public:
    Channel_Analyser(long rate, Sample_Format format);

    // Integers left-justified in 32 bits (as libsndfile reads them), `count`
    // samples taken every `stride` values.
    void feed_int(const std::int32_t* samples, std::size_t count, std::size_t stride = 1);
    // Floats at full scale 1.0, taken every `stride` values.
    void feed_float(const double* samples, std::size_t count, std::size_t stride = 1);
    void feed_float(const float* samples, std::size_t count, std::size_t stride = 1);
    // Mono 24-bit little-endian PCM as it lies in the file: the common case,
    // compared byte for byte while the capture stays exact.
    void feed_pcm24le(const unsigned char* bytes, std::size_t count);

    // The longest stretch of the pattern: where it breaks off and comes back
    // at other levels (a fade, a change of volume), a new stretch begins.
    Channel_Report finish() const;

private:
    // Not a word: a float that is not a whole number of steps.
    static constexpr std::int64_t kNoWord = INT64_MIN;

    struct Sample {
        double value;        // in 24-bit steps
        std::int64_t word;   // top 24 bits, or kNoWord
    };

    struct Sums {
        std::uint64_t n[3] = {};
        double sum[3] = {};
        double min[3] = {};
        double max[3] = {};
        std::uint64_t exact = 0;
        std::uint64_t inverted = 0;
        std::uint64_t differing = 0;
        double max_difference = 0.0;
        double sum_sq_difference = 0.0;
        void add(int slot, const Sample& s, std::int32_t word);
        void add_exact(int slot, std::int32_t word, std::uint64_t count);
        void merge(const Sums& other);
    };

    enum class State { kSearching, kTracking, kBroken };

    void process(Sample s);
    void search();
    bool try_lock(int repeat);
    bool try_lock_loosely(int repeat);
    void new_stretch(int repeat, std::uint64_t first, const double* levels, double tolerance);
    void lock(int repeat, std::uint64_t first, const double* levels, double tolerance);
    // A new stretch of exact words from `first` to the current sample.
    void lock_exact(std::uint64_t first);
    bool fits(const Sample& s, int phase) const;
    void count_exact(const Sample& s);
    Channel_Report report() const;  // of the current stretch
    void track(const Sample& s);
    void resync(const Sample& s);
    void resume(std::uint64_t start, int start_phase);
    void accept(const Sample& s, std::uint64_t index);
    // Exact samples from the current phase on, counted without looking at each.
    void accept_exact(std::uint64_t count);
    Sample from_int(std::int32_t sample) const;
    Sample from_float(double sample) const;
    std::size_t exact_run_int(const std::int32_t* samples, std::size_t count, std::size_t stride) const;
    template <typename Float>
    void feed_floats(const Float* samples, std::size_t count, std::size_t stride,
                     const std::vector<Float>& expected);
    template <typename Float>
    std::size_t exact_run_float(const Float* samples, std::size_t count, std::size_t stride,
                                const std::vector<Float>& expected) const;
    void set_repeat(int repeat);
    const Sample& recent(std::uint64_t index) const { return recent_[index % kRecent]; }

    long rate_;
    Sample_Format format_;

    // The last samples seen, for the windows that lock and resume.
    static constexpr std::size_t kRecent = 256;
    std::array<Sample, kRecent> recent_{};
    std::uint64_t index_ = 0;  // samples seen so far
    // Samples counted without being looked at are not kept: the windows may
    // reach back only this far.
    std::uint64_t kept_from_ = 0;

    State state_ = State::kSearching;
    int repeat_ = 0;
    int cycle_ = 0;  // samples per cycle
    // What each phase of the cycle holds in this capture, and how far a
    // sample may stray from it and still count as the pattern.
    double level_[12] = {};
    double tolerance_ = 0.0;
    bool identity_ = false;  // the levels are the words themselves
    // Exact words in a row within a stretch that is not exact.
    std::uint64_t exact_run_ = 0;
    std::uint64_t exact_start_ = 0;
    int exact_start_phase_ = 0;
    int phase_ = 0;
    // Samples in a row that repeat the one a cycle before, per repeat 1, 2, 4.
    std::uint64_t periodic_run_[3] = {};

    bool present_ = false;
    std::uint64_t first_ = 0;
    std::uint64_t last_ = 0;  // last sample of the last whole cycle

    Sums done_;     // whole cycles of the region
    Sums partial_;  // the cycle under way

    // Where the cycle broke, and for each phase the run of samples that
    // would continue the pattern if the newest sample held that phase.
    std::uint64_t break_at_ = 0;
    int break_phase_ = 0;
    std::uint64_t run_[12] = {};

    std::uint64_t dropout_count_ = 0;
    std::vector<Dropout> first_dropouts_;

    // The longest stretch before the current one, if any.
    std::optional<Channel_Report> longest_;

    // The expected samples from phase 0, longer than a block by one cycle so
    // that a block at any phase compares in one go.
    std::vector<std::int32_t> expected_int_;
    std::vector<double> expected_double_;
    std::vector<float> expected_single_;
    std::vector<unsigned char> expected_bytes_;
};

}  // namespace kova::analysis
