#pragma once

// The frames the full signal's analysis can look at: those of the block at
// hand, and a ring of the recent past (kept only while some channel may look
// back: searching, or following the words through noise). Frames passed
// over as the pattern's are held as missing.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "decode.h"
#include "kova/analysis/sample_format.h"

namespace kova::analysis::detail {

class Full_Frames {
public:
    // Frames the ring holds at most: a few hundred milliseconds, fewer for
    // very wide frames.
    static constexpr std::size_t kRing = 16384;

    Full_Frames(int channels, const Sample_Format& format);

    std::uint64_t end() const { return end_; }
    std::size_t frame_bytes() const { return frame_; }
    std::size_t ring_frames() const { return ring_frames_; }
    const Decoder& decoder() const { return decoder_; }

    // The block at hand: frames [end(), end() + count), or missing ones.
    void begin(const unsigned char* data, std::size_t count);
    // The block at hand goes on: `count` more frames lie in memory right
    // after it.
    void extend(std::size_t count) { end_ += count; }
    // Frames the pattern's analysis took whole as each channel's table (its
    // words, silence): held as those tables, never copied.
    void begin_tables(std::size_t count, const std::vector<const Raw_Table*>& tables,
                      const std::vector<int>& phases);
    // Keeps the block's frames from `from` on in the ring.
    void keep(std::uint64_t from);
    // The block is the caller's again.
    void end_block() { block_ = nullptr; }

    // One channel's samples from t on as they lie, as many as lie in one run
    // (up to `want`); 0 where t is not held.
    std::size_t run(int channel, std::uint64_t t, std::size_t want, Raw_View& raw) const;
    // Values [from, from + n) of a channel; false where any is not held.
    bool values(int channel, std::uint64_t from, std::size_t n, double* out) const;
    bool held(std::uint64_t t) const;
    // Whether [from, to) lies within one run held as a table.
    bool one_table_run(std::uint64_t from, std::uint64_t to) const
    {
        const Table_Run* r = table_run(from);
        return r && to <= r->to;
    }
    // The block's own frames, for the compare of whole frames.
    const unsigned char* block_frame(std::uint64_t t) const
    {
        return block_ + static_cast<std::size_t>(t - block_first_) * frame_;
    }
    bool in_block(std::uint64_t t) const { return block_ && t >= block_first_ && t < end_; }

private:
    struct Table_Run {
        std::uint64_t from = 0;
        std::uint64_t to = 0;
        std::vector<int> period, phase;
        std::vector<unsigned char> value;  // [channel][12][8]
    };
    const Table_Run* table_run(std::uint64_t t) const;

    int channels_;
    std::size_t bytes_;
    std::size_t frame_;
    Decoder decoder_;
    std::size_t ring_frames_;
    std::vector<unsigned char> ring_;
    // The frames the ring holds: [ring_from_, ring_to_), the last
    // ring_frames_ of them at most, but for runs between that are held as
    // tables (which frames are is a matter of how the calls came, so the
    // frames before them stay).
    std::uint64_t ring_from_ = 0;
    std::uint64_t ring_to_ = 0;
    struct Gap {
        std::uint64_t from, to;
    };
    std::vector<Gap> gaps_;
    bool in_ring(std::uint64_t t) const
    {
        if (t < ring_from_ || t >= ring_to_ || t + ring_frames_ < ring_to_)
            return false;
        if (gaps_.empty() || t >= gaps_.back().to)
            return true;
        // In order, apart: the last that begins at t or before.
        const auto g = std::upper_bound(gaps_.begin(), gaps_.end(), t,
                                        [](std::uint64_t v, const Gap& x) { return v < x.from; });
        return g == gaps_.begin() || t >= std::prev(g)->to;
    }
    std::vector<Table_Run> table_runs_;
    const unsigned char* block_ = nullptr;
    std::uint64_t block_first_ = 0;
    std::uint64_t end_ = 0;
};

}  // namespace kova::analysis::detail
