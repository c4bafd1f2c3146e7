#pragma once

// A capture handed from the audio thread to a reader through the ring.

#include <atomic>
#include <cstddef>

#include "kova/live/ring_buffer.h"
#include "kova/live/stream.h"

namespace kova::live {

class Capture : public Processor {
public:
    // Room for `frames` frames of `channels` samples between reads.
    Capture(int channels, std::size_t frames);

    bool process(const Block& block) noexcept override;

    // Reader side: up to max_frames whole frames into out; returns the
    // frames read.
    std::size_t read(float* out, std::size_t max_frames);

    int channels() const { return channels_; }
    // Frames this program lost because the reader fell behind: its own fault,
    // never the chain's.
    std::size_t overrun_frames() const { return ring_.refused() / static_cast<std::size_t>(channels_); }
    // Callbacks in which the host itself reported dropping input.
    unsigned long host_overflows() const { return host_overflows_.load(std::memory_order_relaxed); }

private:
    int channels_;
    Ring_Buffer<float> ring_;
    std::atomic<unsigned long> host_overflows_{0};
};

}  // namespace kova::live
