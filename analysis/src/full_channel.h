#pragma once

// Follows the full signal through one channel. Outside the span it tests a
// window now and then for the pilot and the code; once locked, every sample
// is compared with the word its position names (exactly, or through the
// level and noise the lock measured). Where the words stop fitting, the
// code read further on says where the signal resumed: every dropout with
// the samples lost and inserted, exactly.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "full_frames.h"
#include "full_lock.h"
#include "full_pilot.h"
#include "kova/analysis/channel_report.h"
#include "kova/analysis/events.h"

namespace kova::analysis::detail {

// Words whose differing bits are counted side by side, at the widest.
constexpr std::size_t kFullBitLanes = 16;

class Full_Channel {
public:
    Full_Channel(int index, long rate, const Sample_Format& format, Event_Sink* sink, Full_Words& words);

    // Judges what the frames at hand allow; `finishing`: no more will come.
    void run(const Full_Frames& frames, bool finishing = false);

    // Following one source channel by a rule, its exact words or the one
    // value each word became: its source position's offset. The analyser
    // compares whole frames while every channel is so, laid out from what
    // each knows, and hands over the runs that matched.
    bool follows_rule(std::int64_t& delta) const;
    bool knows(std::uint32_t index, std::size_t n) const;
    bool sample_bytes(std::uint32_t index, unsigned char* out) const;
    void take_known(std::uint32_t index, std::size_t count);
    // Changes whenever the rule does.
    std::uint64_t model_id() const { return model_id_; }
    std::uint64_t position() const { return pos_; }
    int source_channel() const { return source_.channel; }
    int source_channels() const { return source_.channels; }
    int repeat() const { return lock_.repeat; }
    const Full_Message& message() const { return lock_.message; }
    // Whether it may look back at the frames of this block later.
    bool looks_back() const { return state_ != State::tracking; }
    // Following the words: the first frame not yet judged. Those from it on
    // are read later (a segment's first samples wait for the ones after
    // them; words that did not fit are read again where they turn out a
    // break), whatever block they came in.
    std::optional<std::uint64_t> waits_from(const Full_Frames& frames) const
    {
        if (state_ != State::tracking)
            return std::nullopt;
        if (!misses_.empty())
            return misses_.front().t;
        if (pos_ < frames.end())
            return pos_;
        return std::nullopt;
    }
    // The pattern's analysis holds this channel's table (the next samples
    // are expected to repeat its cycle).
    void set_pattern_held(bool held) { pattern_held_ = held; }
    // Where its first lock was decided: the end of the window it was found in.
    std::optional<std::uint64_t> decided_at() const { return decided_at_; }

    Channel_Report report() const;

    // Samples apart that windows are tested at while nothing is found.
    static constexpr std::uint64_t kSearchStep = 4096;

private:
    // tone: the pilot followed as a tone where the words cannot be (the
    // signal resampled); done: that tone lost, nothing more looked for.
    enum class State { searching, tracking, resuming, tone, done };

    // A sum of whole numbers, exact whatever order its parts come in, so
    // that no split of the samples into blocks changes a figure; samples
    // that are no whole number of steps (floats, 32-bit integers) are summed
    // one by one in their order.
    struct Sum {
        std::int64_t hi = 0;
        std::uint64_t lo = 0;
        double rest = 0.0;
        void add(std::int64_t v)
        {
            const std::uint64_t before = lo;
            lo += static_cast<std::uint64_t>(v);
            hi += (v < 0 ? -1 : 0) + (lo < before ? 1 : 0);
        }
        // a * b, whole, however large.
        void add_product(std::int64_t a, std::int64_t b);
        double value() const
        {
            return static_cast<double>(hi) * 18446744073709551616.0 + static_cast<double>(lo) + rest;
        }
    };

    // A chain that turns each word into one value always (a cut to fewer
    // bits, a volume control without dither) gives each table index one
    // value: learnt once, then compared as the samples lie. Which indexes
    // the span visited, and how often, is kept as a difference array; the
    // figures are worked out from it when the stretch ends.
    struct Learned {
        Learned() {}  // (a nested class's initialisers are not seen before the class ends)
        std::vector<unsigned char> bytes;  // per index, as the capture holds it
        std::vector<std::uint64_t> known;  // per index, a bit
        std::vector<std::int32_t> visits;  // difference array over the indexes
        bool visited = false;
    };

    struct Stretch_Acc {
        Stretch s;
        Sum sw, sww, sx, sxw;  // for the fitted gain
        std::uint64_t n = 0;
        bool level = false;  // not exact: a level model
    };

    bool step_searching(const Full_Frames& frames, bool finishing);
    bool resume_near(const Full_Frames& frames, std::uint64_t n);
    bool step_tracking(const Full_Frames& frames, bool finishing);
    bool enter_tone(std::uint64_t first, std::uint64_t s, const double* x, long hz);
    bool step_tone(const Full_Frames& frames, bool finishing);
    bool try_window(const Full_Frames& frames, std::uint64_t s, std::uint64_t floor);
    bool holds(const double* x, std::uint64_t s, const Full_Lock& lock, const Full_Source& source);
    bool adopt(const Full_Frames& frames, const Full_Lock& lock, const Full_Source& source, std::uint64_t s,
               std::uint64_t floor, bool same_model = false);
    void set_model(const Full_Lock& lock, const Full_Source& source);
    std::uint64_t piece_before(const Full_Frames& frames, std::uint64_t t, std::uint64_t floor,
                               std::int64_t& delta);
    void note_dropout(std::uint64_t foreign, std::int64_t jump, std::uint64_t t);
    bool predict(std::uint64_t t, double& value, std::int32_t& word) const;
    bool predict_at(std::uint64_t t, std::int64_t delta, double& value, std::int32_t& word,
                    const Full_Message* message = nullptr) const;
    bool place_piece(const double* x, std::uint64_t from, std::uint64_t n, std::int64_t around,
                     Full_Lock& lock) const;
    bool take_run(const double* x, std::size_t n, std::uint64_t t, std::uint32_t index);
    bool take_whole(const std::int32_t* xi, std::size_t n, std::uint64_t t, std::uint32_t index);
    void took_run(std::uint64_t t, std::size_t n);
    std::size_t take_learned(Raw_View raw, std::size_t n, std::uint64_t t, std::uint32_t index);
    void flush_learned();
    void refine_mix();
    void take_fractions(const double* x, std::size_t n, const std::int32_t* w);
    void count_bits(const std::int32_t* x, const std::int32_t* w, std::size_t n);
    void flush_bits();
    bool fits(double x, double predicted, std::int32_t word) const;
    int settle_bit(const Full_Frames& frames, std::uint64_t f, std::uint64_t from, std::uint64_t to);
    void take(double x, std::int32_t word, double predicted, std::uint64_t t);
    void take_changed();
    void note_lag(std::uint64_t t, std::int64_t first, std::int64_t last, std::int64_t lag, std::size_t n,
                  std::int64_t sum, std::int64_t sum_sq);
    void break_at(std::uint64_t t);
    void count_gap(const Full_Frames& frames, std::uint64_t to);
    void close_stretch();
    void open_stretch(std::uint64_t at);
    void emit(Event e) const;

    int index_;
    long rate_;
    Sample_Format format_;
    Decoder decoder_;
    double step_;  // a step of the capture's own grid, at least one 24-bit step
    Full_Probe probe_;
    Event_Sink* sink_;
    Full_Words* words_;

    State state_ = State::searching;
    std::uint64_t pos_ = 0;        // next sample to judge
    std::uint64_t next_test_ = 0;  // next window to test
    std::uint64_t floor_ = 0;      // a resumed span reaches back no further
    // Windows in a row whose words were read and fitted nothing: from where,
    // and where the next one lies.
    int unfit_run_ = 0;
    std::uint64_t unfit_first_ = 0;
    std::uint64_t unfit_next_ = 0;
    bool resume_tried_ = false;  // the places near the break, tried
    bool pattern_held_ = false;
    std::optional<std::uint64_t> decided_at_;

    // The model: where, what and how.
    Full_Lock lock_;
    Full_Source source_;
    const std::int32_t* tables_[full::kMaxChannels] = {};
    bool exact_ = false;
    double tolerance_ = 0.0;
    std::optional<Learned> learned_;
    bool noisy_ = false;
    std::uint64_t model_id_ = 0;  // the level model's samples vary: judged one by one

    // Samples that did not fit, not yet known to be a break (up to three).
    struct Miss {
        std::uint64_t t;
        double x;
        std::int32_t word;
        bool predicted;
    };
    std::vector<Miss> misses_;

    // The break being resumed from.
    std::uint64_t break_at_ = 0;
    // Where the span was last taken up, and the window it was found in
    // (none: resumed near the break).
    std::uint64_t adopted_at_ = 0;
    std::optional<std::uint64_t> adopted_window_;
    std::int64_t break_delta_ = 0;
    Full_Source break_source_;
    bool break_exact_ = false;
    std::uint64_t gap_counted_ = 0;

    // The span.
    bool span_ = false;
    std::uint64_t first_ = 0;
    std::uint64_t last_ = 0;
    std::uint64_t first_position_ = 0;
    std::uint64_t last_position_ = 0;
    Outside before_;
    Outside gap_;

    // Figures over the span: samples compared, bits, grid, differences.
    std::uint64_t compared_ = 0;
    std::uint64_t differing_ = 0;
    std::uint64_t changed_ = 0;  // of those, lone samples changed in place
    std::uint64_t nonfinite_ = 0;
    std::array<std::uint64_t, 24> bit_errors_{};
    // Bit errors counted up to kFullBitLanes words side by side (bit b in
    // [b]), added into bit_errors_ for the report, or before a lane could fill.
    std::uint32_t bit_lanes_[24][kFullBitLanes] = {};
    std::uint64_t lane_words_ = 0;
    std::uint32_t grid_ = 0;
    bool finer_ = false;
    double word_min_ = 0, word_max_ = 0;    // x - word
    double level_min_ = 0, level_max_ = 0;  // x - gain * word, where the gain is not 1
    // Differences from the words at their own level taken one after another:
    // their sums, their squares', and their neighbours' products.
    Sum lag_, lag_sum_, lag_sum_sq_;
    std::uint64_t lag_n_ = 0, lag_pairs_ = 0;
    std::int64_t lag_prev_ = 0;
    std::uint64_t lag_next_ = ~std::uint64_t{0};
    std::uint64_t off_step_ = 0;  // samples a step or more off their prediction
    Sum sum_sq_;                  // (x - word)^2

    std::vector<Stretch_Acc> stretches_;
    std::uint64_t stretch_count_ = 0;
    Stretch_Acc current_;
    bool stretch_open_ = false;
    Stretch_Acc level_;  // the longest stretch not exact

    std::uint64_t dropout_count_ = 0;
    std::vector<Dropout> dropouts_;
    std::vector<std::uint64_t> resumed_at_;

    // The pilot as a tone.
    std::optional<Pilot_Tracker> tone_;
    std::uint64_t tone_first_ = 0;
    // Whether the words were ever followed exactly: a span that was only
    // near them before its pilot had to be followed as a tone was the
    // resampled signal all along.
    bool ever_exact_ = false;

    std::vector<double> scratch_;
};

}  // namespace kova::analysis::detail
