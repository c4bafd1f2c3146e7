#include "full_frames.h"

#include <algorithm>
#include <cstring>

namespace kova::analysis::detail {
namespace {

// The ring's bytes at most, however wide the frames.
constexpr std::size_t kRingBytes = std::size_t{16} << 20;

}  // namespace

Full_Frames::Full_Frames(int channels, const Sample_Format& format)
    : channels_(channels),
      bytes_(static_cast<std::size_t>(format.bytes)),
      frame_(static_cast<std::size_t>(channels) * static_cast<std::size_t>(format.bytes)),
      decoder_(format),
      ring_frames_(
          std::max<std::size_t>(2048, std::min(kRing, kRingBytes / std::max<std::size_t>(1, frame_))))
{
    ring_.resize(ring_frames_ * frame_);
}

void Full_Frames::begin(const unsigned char* data, std::size_t count)
{
    block_ = data;
    block_first_ = end_;
    end_ += count;
}

void Full_Frames::begin_tables(std::size_t count, const std::vector<const Raw_Table*>& tables,
                               const std::vector<int>& phases)
{
    block_ = nullptr;
    block_first_ = end_;
    Table_Run run;
    run.from = end_;
    run.to = end_ + count;
    run.period.resize(static_cast<std::size_t>(channels_));
    run.phase = phases;
    run.value.resize(static_cast<std::size_t>(channels_) * 12 * 8);
    for (std::size_t ch = 0; ch < static_cast<std::size_t>(channels_); ++ch) {
        run.period[ch] = tables[ch]->period;
        std::memcpy(run.value.data() + ch * 96, tables[ch]->value, 96);
    }
    // A run that goes on as the last one did joins it.
    auto& runs = table_runs_;
    if (!runs.empty() && runs.back().to == run.from && runs.back().period == run.period &&
        runs.back().value == run.value) {
        bool continues = true;
        for (std::size_t ch = 0; ch < run.phase.size() && continues; ++ch)
            continues =
                (runs.back().phase[ch] + static_cast<int>((run.from - runs.back().from) %
                                                          static_cast<std::uint64_t>(run.period[ch]))) %
                    run.period[ch] ==
                run.phase[ch];
        if (continues) {
            runs.back().to = run.to;
            end_ += count;
            return;
        }
    }
    runs.push_back(std::move(run));
    end_ += count;
    // Those the ring's reach has left behind go.
    const std::uint64_t oldest = end_ > ring_frames_ ? end_ - ring_frames_ : 0;
    runs.erase(runs.begin(),
               std::find_if(runs.begin(), runs.end(), [&](const Table_Run& r) { return r.to > oldest; }));
}

const Full_Frames::Table_Run* Full_Frames::table_run(std::uint64_t t) const
{
    for (auto it = table_runs_.rbegin(); it != table_runs_.rend(); ++it)
        if (t >= it->from && t < it->to)
            return &*it;
    return nullptr;
}

void Full_Frames::keep(std::uint64_t from)
{
    if (!block_)
        return;
    from = std::max(std::max(from, block_first_), end_ > ring_frames_ ? end_ - ring_frames_ : 0);
    if (from >= end_)
        return;
    for (std::uint64_t t = from; t < end_;) {
        const auto slot = static_cast<std::size_t>(t % ring_frames_);
        const std::size_t n = std::min<std::uint64_t>(ring_frames_ - slot, end_ - t);
        std::memcpy(ring_.data() + slot * frame_, block_frame(t), n * frame_);
        t += n;
    }
    // The ring holds one run of frames: this one, joined to the last where
    // it follows on, or where only frames held as tables came between.
    if (from != ring_to_) {
        bool tables = from > ring_to_;
        for (std::uint64_t t = ring_to_; t < from && tables;) {
            const Table_Run* r = table_run(t);
            tables = r != nullptr;
            t = tables ? r->to : t;
        }
        if (tables) {
            gaps_.push_back({ring_to_, from});
        } else {
            ring_from_ = from;
            gaps_.clear();
        }
    }
    ring_to_ = end_;
    gaps_.erase(std::remove_if(gaps_.begin(), gaps_.end(),
                               [&](const Gap& g) { return g.to + ring_frames_ < ring_to_; }),
                gaps_.end());
}

bool Full_Frames::held(std::uint64_t t) const
{
    if (t >= end_)
        return false;
    if (in_block(t))
        return true;
    if (in_ring(t))
        return true;
    return table_run(t) != nullptr;
}

std::size_t Full_Frames::run(int channel, std::uint64_t t, std::size_t want, Raw_View& raw) const
{
    const std::size_t offset = static_cast<std::size_t>(channel) * bytes_;
    if (in_block(t)) {
        raw = {block_frame(t) + offset, frame_};
        return static_cast<std::size_t>(std::min<std::uint64_t>(want, end_ - t));
    }
    if (!held(t))
        return 0;
    if (!in_ring(t))
        return 0;
    const auto slot = static_cast<std::size_t>(t % ring_frames_);
    const std::size_t n = std::min<std::uint64_t>(std::min(want, ring_frames_ - slot), ring_to_ - t);
    raw = {ring_.data() + slot * frame_ + offset, frame_};
    return n;
}

bool Full_Frames::values(int channel, std::uint64_t from, std::size_t n, double* out) const
{
    while (n > 0) {
        Raw_View raw;
        std::size_t got = run(channel, from, n, raw);
        if (got == 0) {
            // Held as a table: its values, one by one.
            const Table_Run* r = table_run(from);
            if (!r)
                return false;
            const auto ch = static_cast<std::size_t>(channel);
            while (got < n && from + got < r->to) {
                const auto p = static_cast<std::size_t>(
                    (static_cast<std::uint64_t>(r->phase[ch]) + (from + got - r->from)) %
                    static_cast<std::uint64_t>(r->period[ch]));
                out[got] = decoder_.decode_one(r->value.data() + ch * 96 + p * 8);
                ++got;
            }
        } else {
            decoder_.decode(raw, got, out);
        }
        out += got;
        from += got;
        n -= got;
    }
    return true;
}

}  // namespace kova::analysis::detail
