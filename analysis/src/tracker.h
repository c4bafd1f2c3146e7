#pragma once

// Follows the pattern through one channel, as the samples arrive, in memory
// that does not grow with the length of the capture. Outside the span it
// searches; inside it tracks one model of what the chain did to the words,
// and where the model breaks it finds where and how the pattern resumes
// (tracker.cpp); what that makes of the span is tracker_span.cpp's.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "decode.h"
#include "history.h"
#include "kova/analysis/channel_report.h"
#include "kova/analysis/events.h"
#include "length_model.h"
#include "stretch_stats.h"
#include "tone.h"
#include "word_model.h"

namespace kova::analysis::detail {

class Tracker {
public:
    Tracker(long rate, const Sample_Format& format, int channel, Event_Sink* sink);

    // The raw table the next samples are expected to hold, and the phase
    // the next sample has in it; null when there is none. A capture whose
    // channels all hold their tables is compared as it lies.
    const Raw_Table* expected(int& phase) const;
    // The next count samples held the table expected() gave.
    void take_expected(std::uint64_t count);
    // The next count samples, as they lie.
    void feed(Raw_View raw, std::size_t count);

    Channel_Report finish();
    // The report as it would stand if the capture ended here.
    Channel_Report so_far() const;

    // Samples judged per block where no table holds.
    static constexpr std::size_t kBlock = 4096;
    // Windows that a clean pattern is found in: enough cycles of the longest.
    static constexpr std::size_t kWindow = static_cast<std::size_t>(kMinCycles) * 12;
    // Chunks a resampled span's ends are found to, then the samples that
    // ring past them, up to two chunks on: a tone's block is judged once
    // that much has arrived beyond it.
    static constexpr std::size_t kToneChunk = 256;
    static constexpr std::size_t kToneAhead = 2 * kToneChunk;
    // Dropouts and stretches kept in the report; the rest are only counted.
    static constexpr std::size_t kKept = 8;
    // How far before a window its pattern may be found to begin: fixed, so
    // that it does not depend on how far the samples have arrived, and well
    // inside what the history holds behind any window being tested.
    static constexpr std::size_t kReach = History::kSize - 3 * kBlock;

private:
    enum class State { outside, tracking, searching };

    // What the span held from one stretch to the next.
    struct Model {
        Word_Model words;
        bool deterministic = false;
        Raw_Table table;
        double table_value[12] = {};
        bool table_exact[12] = {};
        double tolerance = 0.0;  // per sample, where the model is clean enough to judge samples
        bool clean = false;
        // The fundamental's turn per sample, as the last blocks showed it.
        double turn = 0.0;
        bool tone = false;  // resampled: followed as a tone, not as words
    };

    void run();
    bool step_outside();
    bool step_tracking();
    bool step_searching();

    // Outside: does the window hold the pattern? Fills model_ if so.
    bool lock_at(std::uint64_t from, std::size_t n);
    // Where the family's cycle divides the rate, the pattern a resampler
    // left is a cycle too: the staircase, or the band-limited tone.
    enum class Band { staircase, tone, unsure };
    Band band_of(const Word_Model& words) const;
    long family_of(int cycle) const;
    // What a tone found where the family's cycle divides the rate must
    // show to be taken as one: anything, a drift, or a drift or the
    // harmonics of another rate.
    enum class Tone_Need { any, drift, apart };
    bool try_tone(std::uint64_t from, std::size_t n, Tone_Need need);
    bool becomes_tone(std::uint64_t from, std::size_t n, Tone_Need need);
    bool tone_holds(std::uint64_t from, std::size_t n);
    bool tone_holds_for(const Tone_Fit& tone, std::uint64_t from, std::size_t n);
    bool judge_tone_block(std::uint64_t from, std::size_t n);
    std::uint64_t tone_start(const Tone_Fit& tone, std::uint64_t s, std::uint64_t limit) const;
    std::uint64_t tone_end(const Tone_Fit& tone, std::uint64_t e, std::uint64_t floor) const;
    double tone_difference(const Tone_Fit& tone, std::uint64_t i, double other) const;
    void start_tone(const Tone_Fit& fit, std::uint64_t from, std::size_t n);
    bool make_model(const Word_Model& words, std::uint64_t from, std::size_t n, Model& out) const;
    bool fits(const Model& m, std::uint64_t i) const;
    bool near_level(const Model& m, std::uint64_t i) const;
    bool carries_pattern(std::uint64_t from, std::uint64_t to) const;
    void change_level(std::uint64_t at);
    void add_dropout(std::uint64_t at, std::uint64_t foreign, long long skipped, int residue);
    std::uint64_t refine_back(const Model& m, std::uint64_t from, std::uint64_t limit) const;
    std::uint64_t change_point(const Model& m, std::uint64_t lo, std::uint64_t hi) const;
    std::uint64_t last_fit(const Model& m, std::uint64_t from, std::uint64_t hi) const;
    double mean_of(std::uint64_t lo, std::uint64_t hi) const;
    double fit_difference(const Model& m, std::uint64_t i, double other) const;

    bool judge_block(std::uint64_t from, std::size_t n);
    bool resumes(const Model& old, std::uint64_t t, std::size_t n, Model& resumed) const;
    void settle(const Model& m, std::uint64_t t, std::size_t n);
    std::uint64_t gap_start() const;
    bool pattern_beside(std::uint64_t from, std::uint64_t to, std::uint64_t other_from,
                        std::uint64_t other_to) const;
    static std::uint64_t reach_back(std::uint64_t from) { return from > kReach ? from - kReach : 0; }
    void count_settled_outside();
    void count_outside(std::uint64_t to);

    void begin_span(std::uint64_t at);
    void resume(std::uint64_t old_end, std::uint64_t at);
    void accept(std::uint64_t from, std::uint64_t to);
    void accept_changed(std::uint64_t from, std::uint64_t to);
    void begin_stretch(std::uint64_t at);
    void close_stretch();
    void lose(std::uint64_t at);
    void emit(Event e) const;
    bool same_levels(const Model& a, const Model& b) const;
    double grid() const;
    double fine_grid() const;

    long rate_;
    Sample_Format format_;
    Decoder decoder_;
    int channel_;
    Event_Sink* sink_;

    History history_;
    std::uint64_t pos_ = 0;  // next sample to judge

    State state_ = State::outside;
    Model model_;
    std::optional<Tone_Tracker> tone_;

    // Outside: where the current stretch of other material began, and the
    // next window to test.
    std::uint64_t outside_from_ = 0;
    std::uint64_t next_window_ = 0;
    std::uint64_t next_block_ = 0;
    std::uint64_t constant_from_ = 0;    // where the run of one value began
    Raw_Table outside_table_;            // a constant run (silence) while outside
    std::uint64_t outside_counted_ = 0;  // outside samples counted into gap_ so far

    // A short window showed a resampler's tone: the block that ends next
    // decides, not a window before it.
    bool tone_seen_ = false;
    std::uint64_t tone_at_ = 0;

    // Searching: the model that broke, and where.
    Model old_;
    std::uint64_t break_at_ = 0;

    // The span so far.
    bool span_ = false;
    std::uint64_t first_ = 0;
    std::uint64_t last_ = 0;  // last sample of the pattern taken so far
    int first_phase_ = 0;
    int first_cycle_ = 3;
    // The span's ends are crisp where a raw table held there: a cut there
    // is a cut. Where the pattern faded or was noisy, its ends are not.
    bool start_crisp_ = false;
    bool end_crisp_ = true;
    std::uint64_t leading_changed_ = 0;
    Outside before_;
    Outside gap_;  // since the pattern was last seen
    Stretch_Stats stretch_;
    bool stretch_deterministic_ = false;
    std::optional<Resampling> stretch_resampling_;

    // Over the whole span.
    std::uint64_t stretch_count_ = 0;
    std::vector<Stretch> stretches_;
    Stretch_Stats totals_;  // figures against the words over all stretches
    std::uint64_t dropout_count_ = 0;
    std::vector<Dropout> dropouts_;
    Break_Sums break_sums_;
    // Every break's residue is one of the span's cycle: else the phases
    // tell nothing of its length.
    bool residues_known_ = true;
    std::optional<Resampling> resampling_;
    std::uint64_t level_stretch_length_ = 0;
    Stretch level_stretch_;
    bool any_inverted_ = false, any_gain_ = false, any_offset_ = false, any_altered_ = false;
    bool any_resampled_ = false;
    int repeat_ = 0;
    bool repeat_seen_ = false;

    std::vector<double> scratch_;
};

}  // namespace kova::analysis::detail
