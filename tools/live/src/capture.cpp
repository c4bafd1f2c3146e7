#include "kova/live/capture.h"

namespace kova::live {

Capture::Capture(int channels, std::size_t frames, std::uint64_t host_buffer)
    : channels_(channels), ring_(frames * static_cast<std::size_t>(channels)), host_buffer_(host_buffer)
{
}

std::uint64_t Capture::holdback() const
{
    return 2 * (host_buffer_ + largest_block_.load(std::memory_order_relaxed));
}

bool Capture::process(const Block& block) noexcept
{
    const std::uint64_t at = arrived_.load(std::memory_order_relaxed);
    arrived_.store(at + block.frames, std::memory_order_relaxed);
    if (at == 0)
        first_time_.store(std::chrono::steady_clock::now().time_since_epoch().count(),
                          std::memory_order_relaxed);
    if (lost_at_.load(std::memory_order_relaxed) != kNone) {
        dropped_.fetch_add(block.frames, std::memory_order_relaxed);
        return true;
    }
    if (block.frames > largest_block_.load(std::memory_order_relaxed))
        largest_block_.store(block.frames, std::memory_order_relaxed);
    const bool host_gap = (block.gaps & kInputGap) != 0;
    if (host_gap)
        host_overflows_.fetch_add(1, std::memory_order_relaxed);
    if (host_gap || !ring_.push(block.in, block.frames * static_cast<std::size_t>(block.in_channels))) {
        dropped_.fetch_add(block.frames, std::memory_order_relaxed);
        lost_by_host_.store(host_gap, std::memory_order_relaxed);
        const std::uint64_t back = holdback();
        kept_.store(at > back ? at - back : 0, std::memory_order_relaxed);
        // Published after the last push: a reader that sees it and then
        // empties the ring has every frame taken.
        lost_at_.store(at, std::memory_order_release);
        return true;
    }
    pushed_.store(at + block.frames, std::memory_order_release);
    return true;
}

std::size_t Capture::read(float* out, std::size_t max_frames)
{
    const auto c = static_cast<std::size_t>(channels_);
    // Pushes are whole frames, so whole frames are always there to pop.
    return ring_.pop(out, max_frames * c) / c;
}

std::uint64_t Capture::settled(bool stopped) const
{
    if (const auto lost = loss())
        return lost->kept;
    const std::uint64_t pushed = pushed_.load(std::memory_order_acquire);
    if (stopped)
        return pushed;
    const std::uint64_t back = holdback();
    return pushed > back ? pushed - back : 0;
}

std::optional<Capture_Loss> Capture::loss() const
{
    const std::uint64_t at = lost_at_.load(std::memory_order_acquire);
    if (at == kNone)
        return std::nullopt;
    return Capture_Loss{lost_by_host_.load(std::memory_order_relaxed) ? Capture_Loss::Cause::host_gap
                                                                      : Capture_Loss::Cause::ring_full,
                        at, kept_.load(std::memory_order_relaxed)};
}

std::chrono::steady_clock::time_point Capture::first_block_time() const
{
    return std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(first_time_.load(std::memory_order_relaxed)));
}

}  // namespace kova::live
