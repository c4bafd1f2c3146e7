#pragma once

// The recent past of one channel: what the search and the tracking look back
// over (where a span began, what a break held). The samples that arrived one
// by one are kept in two rings, as they lay and decoded; a run taken whole
// through a raw table is kept as that table, and written out only when
// another run takes its place.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "decode.h"

namespace kova::analysis::detail {

class History {
public:
    // Samples kept: enough for two blocks of look-back behind the newest.
    static constexpr std::size_t kSize = std::size_t{1} << 15;

    explicit History(const Sample_Format& format);

    // Samples taken so far: the index of the next.
    std::uint64_t end() const { return end_; }
    // The oldest sample still held.
    std::uint64_t oldest() const { return end_ > kSize ? end_ - kSize : 0; }

    int bytes() const { return static_cast<int>(bytes_); }
    double value(std::uint64_t i) const;
    const unsigned char* raw(std::uint64_t i) const;
    void copy(std::uint64_t from, std::size_t n, double* out) const;
    // The mean of the values in [lo, hi), leaving out any that is not a number.
    double mean(std::uint64_t lo, std::uint64_t hi) const;
    // The values in one piece: where they lie so in the ring, else copied
    // into scratch.
    const double* view(std::uint64_t from, std::size_t n, double* scratch) const;
    // The raw samples from `from` on as they lie in the ring, as far as its end.
    Raw_View raw_run(std::uint64_t from, std::size_t& n) const;
    // The values [from, from + n) decoded into scratch, leaving the ring's
    // values as they are: for a block looked at once, which would cost more
    // written into the ring and read back than decoded where it is used.
    const double* decoded(std::uint64_t from, std::size_t n, double* scratch) const;

    // Whether sample i lies in the run taken through a table; if so, where
    // the run ends and the values its cycle holds.
    bool in_table_run(std::uint64_t i, std::uint64_t& run_end, const double*& values, int& period) const;

    // Takes up to `count` samples as they lie; returns how many (never past
    // the ring's end).
    std::size_t append(Raw_View raw, std::size_t count);
    // Takes `count` samples that held `table` from `phase` on.
    void append_table(std::uint64_t count, const Raw_Table& table, int phase);

private:
    void write_out_table_run();
    // Values are decoded into the ring when first asked for: a block only
    // ever read through decoded() is never written there.
    void decode_pending() const;
    void decode_range(std::uint64_t from, std::uint64_t to, double* out) const;

    Decoder decoder_;
    std::size_t bytes_;
    mutable std::vector<double> values_;
    mutable std::uint64_t decoded_ = 0;  // values_ holds every sample before this that the ring holds
    std::vector<unsigned char> raws_;
    std::uint64_t end_ = 0;
    struct Table_Run {
        std::uint64_t from = 0;
        std::uint64_t to = 0;
        Raw_Table table;
        double values[12] = {};
        int phase = 0;  // of `from`
    } run_;
};

}  // namespace kova::analysis::detail
