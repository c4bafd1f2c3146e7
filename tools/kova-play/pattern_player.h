#pragma once

// The pattern as a stream plays it: the core's words, converted exactly, the
// same on every channel, for a set number of frames and then silence. Or the
// full signal: each channel its own (those past its channels silent).

#include <atomic>
#include <cstdint>
#include <vector>

#include "kova/live/processor.h"
#include "kova/live/samples.h"

namespace kova::play {

class Pattern_Player : public live::Processor {
public:
    // frames: how long the pattern lasts, in frames (rate * seconds); tail:
    // the silence after it before the stream ends, for a host that drops
    // what it still buffers when the stream closes (ALSA's pulse plugin
    // loses the last three buffers).
    // full: the full signal to play instead of the pattern, which must
    // outlive the player.
    Pattern_Player(long rate, std::uint64_t frames, std::uint64_t tail = 0,
                   const live::Full_Samples* full = nullptr);

    bool process(const live::Block& block) noexcept override;

    // Frames of pattern handed to the host so far.
    std::uint64_t frames_sent() const { return sent_.load(std::memory_order_relaxed); }
    // Callbacks in which the host reported playing a gap.
    unsigned long underflows() const { return underflows_.load(std::memory_order_relaxed); }

private:
    std::vector<float> cycle_;  // one cycle of the pattern, made before the stream starts
    const live::Full_Samples* full_;
    std::uint64_t total_;
    std::uint64_t tail_;
    std::atomic<std::uint64_t> sent_{0};
    std::uint64_t silent_ = 0;  // after the pattern; the audio thread's own
    std::atomic<unsigned long> underflows_{0};
};

}  // namespace kova::play
