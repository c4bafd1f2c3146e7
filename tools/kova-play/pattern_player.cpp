#include "pattern_player.h"

#include "kova/live/samples.h"

namespace kova::play {

Pattern_Player::Pattern_Player(long rate, std::uint64_t frames, std::uint64_t tail,
                               const live::Full_Samples* full)
    : cycle_(live::pattern_cycle(rate)), full_(full), total_(frames), tail_(tail)
{
}

bool Pattern_Player::process(const live::Block& block) noexcept
{
    float* out = block.out;
    const unsigned long frames = block.frames;
    const int channels = block.out_channels;
    if (block.gaps & kOutputGap)
        underflows_.fetch_add(1, std::memory_order_relaxed);
    const std::uint64_t sent = sent_.load(std::memory_order_relaxed);
    const std::uint64_t left = total_ - sent;
    const std::uint64_t now = left < frames ? left : frames;
    silent_ += frames - now;
    if (full_) {
        if (channels > full_->channels())
            for (std::uint64_t k = 0; k < now * static_cast<std::uint64_t>(channels); ++k) out[k] = 0.0f;
        full_->fill(sent, static_cast<std::size_t>(now), out, channels);
        out += now * static_cast<std::uint64_t>(channels);
    } else {
        const std::size_t length = cycle_.size();
        std::size_t at = static_cast<std::size_t>(sent % length);
        for (std::uint64_t f = 0; f < now; ++f) {
            const float sample = cycle_[at];
            for (int c = 0; c < channels; ++c) *out++ = sample;
            if (++at == length)
                at = 0;
        }
    }
    // The last buffer is still played in full: silence after the pattern.
    for (std::uint64_t f = now; f < frames; ++f)
        for (int c = 0; c < channels; ++c) *out++ = 0.0f;
    sent_.store(sent + now, std::memory_order_relaxed);
    return sent + now < total_ || silent_ < tail_;
}

}  // namespace kova::play
