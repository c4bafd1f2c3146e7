#include "loop_player.h"

#include <algorithm>

#include "kova/full_signal.h"
#include "kova/live/samples.h"

namespace kova::loop {

Loop_Player::Loop_Player(const Loop_Schedule& schedule)
    : schedule_(schedule), cycle_(live::pattern_cycle(schedule.rate))
{
    if (schedule.full)
        full_.emplace(schedule.rate, schedule.seconds, std::min(schedule.outputs, full::kMaxChannels));
}

// The pattern from its first word at `from`.
float Loop_Player::sample(std::uint64_t from, std::uint64_t frame) const
{
    return cycle_[static_cast<std::size_t>((frame - from) % cycle_.size())];
}

bool Loop_Player::process(const live::Block& block) noexcept
{
    const std::uint64_t sent = sent_.load(std::memory_order_relaxed);
    if (sent == 0)
        first_time_.store(std::chrono::steady_clock::now().time_since_epoch().count(),
                          std::memory_order_relaxed);
    if (block.gaps & kOutputGap)
        underflows_.fetch_add(1, std::memory_order_relaxed);
    const auto& s = schedule_;
    float* out = block.out;
    for (unsigned long f = 0; f < block.frames; ++f) {
        const std::uint64_t j = sent + f;
        if (full_ && j >= s.run_start() && j < s.run_end()) {
            for (int c = full_->channels(); c < block.out_channels; ++c) out[c] = 0.0f;
            full_->fill(j - s.run_start(), 1, out, block.out_channels);
            out += block.out_channels;
            continue;
        }
        if (j >= s.run_start() && j < s.run_end()) {
            const float v = sample(s.run_start(), j);
            for (int c = 0; c < block.out_channels; ++c) *out++ = v;
            continue;
        }
        // Whose turn it is in the map, if anyone's.
        int turn = -1;
        float v = 0.0f;
        if (j >= s.burst_start(0) && j < s.end()) {
            const std::uint64_t k = (j - s.burst_start(0)) / s.slot;
            const std::uint64_t from = s.burst_start(static_cast<int>(k));
            if (j - from < s.burst) {
                turn = static_cast<int>(k);
                v = sample(from, j);
            }
        }
        for (int c = 0; c < block.out_channels; ++c) *out++ = c == turn ? v : 0.0f;
    }
    sent_.store(sent + block.frames, std::memory_order_relaxed);
    return true;
}

std::chrono::steady_clock::time_point Loop_Player::first_block_time() const
{
    return std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(first_time_.load(std::memory_order_relaxed)));
}

}  // namespace kova::loop
