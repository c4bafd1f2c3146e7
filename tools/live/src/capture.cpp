#include "kova/live/capture.h"

namespace kova::live {

Capture::Capture(int channels, std::size_t frames)
    : channels_(channels), ring_(frames * static_cast<std::size_t>(channels))
{
}

bool Capture::process(const Block& block) noexcept
{
    if (block.gaps & kInputGap)
        host_overflows_.fetch_add(1, std::memory_order_relaxed);
    // A refusal is counted by the ring.
    ring_.push(block.in, block.frames * static_cast<std::size_t>(block.in_channels));
    return true;
}

std::size_t Capture::read(float* out, std::size_t max_frames)
{
    const auto c = static_cast<std::size_t>(channels_);
    // Pushes are whole frames, so whole frames are always there to pop.
    return ring_.pop(out, max_frames * c) / c;
}

}  // namespace kova::live
