#pragma once

// A capture handed from the audio thread to a reader through the ring.
//
// The first samples this machine loses (the ring full because the reader fell
// behind, or the host reporting input it dropped) end the capture there: what
// the reader gets is then an unbroken prefix of what arrived, so that a gap
// of this program's making can never be taken for one of the chain's. A host
// flags its loss late: PortAudio's JACK host hands over the block after a
// stall unflagged, broken at its start, and flags the next one. So the
// capture keeps a holdback (twice the host's buffer and a callback's block)
// that is not handed on until more has come after it, and a loss takes it
// back: the break falls outside what is judged.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "kova/live/processor.h"
#include "kova/live/ring_buffer.h"

namespace kova::live {

// Where and why a capture stopped taking samples.
struct Capture_Loss {
    enum class Cause { ring_full, host_gap };
    Cause cause;
    std::uint64_t at;    // frames taken before it
    std::uint64_t kept;  // of those, the frames before the holdback: all a reader gets
};

class Capture : public Processor {
public:
    // Room for `frames` frames of `channels` samples between reads;
    // host_buffer: the frames the host buffers before a callback sees them
    // (Stream::input_buffer_frames()).
    Capture(int channels, std::size_t frames, std::uint64_t host_buffer = 0);

    bool process(const Block& block) noexcept override;

    // Reader side: up to max_frames whole frames into out; returns the
    // frames read. Holds back nothing: settled() says how far to read.
    std::size_t read(float* out, std::size_t max_frames);
    // Reader side: the frames that can be handed on, all of them once the
    // stream has stopped (`stopped`), else all but the holdback; after a
    // loss, those before its holdback.
    std::uint64_t settled(bool stopped) const;

    int channels() const { return channels_; }
    // Frames the audio thread has been handed so far, taken or not.
    std::uint64_t frames_arrived() const { return arrived_.load(std::memory_order_relaxed); }
    // Set once samples were lost on this machine; nothing is taken after.
    std::optional<Capture_Loss> loss() const;
    // Frames this program lost: refused by a full ring, or not taken after a loss.
    std::size_t overrun_frames() const { return dropped_.load(std::memory_order_relaxed); }
    // Callbacks in which the host itself reported dropping input.
    unsigned long host_overflows() const { return host_overflows_.load(std::memory_order_relaxed); }
    // Frames that would fit in the ring now: for a producer that can wait,
    // which the audio thread cannot.
    std::size_t room() const { return ring_.room() / static_cast<std::size_t>(channels_); }
    // The steady clock when the first block arrived; zero before.
    std::chrono::steady_clock::time_point first_block_time() const;

private:
    int channels_;
    Ring_Buffer<float> ring_;
    const std::uint64_t host_buffer_;
    std::atomic<std::uint64_t> arrived_{0};
    std::atomic<std::uint64_t> pushed_{0};
    std::atomic<unsigned long> largest_block_{0};
    std::atomic<std::size_t> dropped_{0};
    std::atomic<unsigned long> host_overflows_{0};
    // kNone until a loss; then the frames taken before it, and its cause.
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};
    std::atomic<std::uint64_t> lost_at_{kNone};
    std::atomic<std::uint64_t> kept_{0};
    std::atomic<bool> lost_by_host_{false};
    std::atomic<std::chrono::steady_clock::rep> first_time_{0};

    std::uint64_t holdback() const;
};

}  // namespace kova::live
