#pragma once

// Plays kova-loop's schedule: silence, the pattern on every output, and each
// output alone in turn (or the full signal, each output its own channel);
// silence after, for as long as the stream runs.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "kova/live/processor.h"
#include "kova/live/samples.h"
#include "loop_schedule.h"

namespace kova::loop {

class Loop_Player : public live::Processor {
public:
    explicit Loop_Player(const Loop_Schedule& schedule);

    bool process(const live::Block& block) noexcept override;

    std::uint64_t frames_sent() const { return sent_.load(std::memory_order_relaxed); }
    // Callbacks in which the host reported playing a gap.
    unsigned long underflows() const { return underflows_.load(std::memory_order_relaxed); }
    // The steady clock when the first block was asked for; zero before.
    std::chrono::steady_clock::time_point first_block_time() const;

private:
    float sample(std::uint64_t from, std::uint64_t frame) const;

    Loop_Schedule schedule_;
    std::vector<float> cycle_;
    std::optional<live::Full_Samples> full_;
    std::atomic<std::uint64_t> sent_{0};
    std::atomic<unsigned long> underflows_{0};
    std::atomic<std::chrono::steady_clock::rep> first_time_{0};
};

}  // namespace kova::loop
