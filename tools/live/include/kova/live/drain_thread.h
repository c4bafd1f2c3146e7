#pragma once

// Moves a capture out of its ring into a consumer (the analysis, a file) on
// a thread of its own, so that neither the audio callback nor the main
// thread, which talks to the user, ever waits on the analysis.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "kova/live/capture.h"

namespace kova::live {

class Drain_Thread {
public:
    class Consumer {
    public:
        virtual ~Consumer() = default;
        // Frames [at, at + count) of the capture, interleaved; on the drain
        // thread, in order.
        virtual void take(const float* frames, std::size_t count, std::uint64_t at) = 0;
    };

    // Takes at most `limit` frames; the rest is left in the ring.
    Drain_Thread(Capture& capture, Consumer& consumer, std::uint64_t limit = ~std::uint64_t{0});
    ~Drain_Thread();  // stops
    Drain_Thread(const Drain_Thread&) = delete;
    Drain_Thread& operator=(const Drain_Thread&) = delete;

    void start();
    // Takes what the ring still holds (up to the limit, and short of a
    // loss's holdback), then ends the thread. Call once the stream no longer
    // runs.
    void stop();

    std::uint64_t taken() const { return taken_.load(std::memory_order_acquire); }
    bool reached_limit() const { return taken() >= limit_; }
    // The capture lost samples on this machine and everything it keeps
    // before the loss has been taken: nothing more will come.
    bool drained_to_loss() const { return drained_to_loss_.load(std::memory_order_acquire); }
    // CPU time the thread has used, once it has ended.
    double cpu_seconds() const { return cpu_seconds_; }

private:
    void run();
    // One pass over what the capture has settled; false when there was
    // nothing. stopped: the stream no longer runs, so nothing is held back.
    bool drain_once(bool stopped);

    Capture& capture_;
    Consumer& consumer_;
    const std::uint64_t limit_;
    std::vector<float> block_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> taken_{0};
    std::atomic<bool> drained_to_loss_{false};
    double cpu_seconds_ = 0.0;
};

}  // namespace kova::live
