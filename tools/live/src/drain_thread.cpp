#include "kova/live/drain_thread.h"

#include <algorithm>
#include <chrono>
#include <ctime>

namespace kova::live {

namespace {
// Frames taken at a time: blocks the analysis works on whole.
constexpr std::size_t kBlockFrames = 16384;
// How long an empty ring is left before it is looked at again: short against
// the ring's seconds of room, long enough to cost nothing.
constexpr auto kIdle = std::chrono::milliseconds(5);

double thread_cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
}  // namespace

Drain_Thread::Drain_Thread(Capture& capture, Consumer& consumer, std::uint64_t limit)
    : capture_(capture),
      consumer_(consumer),
      limit_(limit),
      block_(kBlockFrames * static_cast<std::size_t>(capture.channels()))
{
}

Drain_Thread::~Drain_Thread()
{
    stop();
}

void Drain_Thread::start()
{
    thread_ = std::thread([this] { run(); });
}

void Drain_Thread::stop()
{
    if (!thread_.joinable())
        return;
    stopping_.store(true, std::memory_order_release);
    thread_.join();
}

void Drain_Thread::run()
{
    const double cpu_start = thread_cpu_seconds();
    for (;;) {
        // Read before draining: a stop asked for after a pass that found the
        // ring empty still gets one more pass.
        const bool last = stopping_.load(std::memory_order_acquire);
        const bool lost = capture_.loss().has_value();
        while (drain_once(last)) {
        }
        if (lost)
            drained_to_loss_.store(true, std::memory_order_release);
        if (last || reached_limit())
            break;
        std::this_thread::sleep_for(kIdle);
    }
    cpu_seconds_ = thread_cpu_seconds() - cpu_start;
}

bool Drain_Thread::drain_once(bool stopped)
{
    const std::uint64_t done = taken_.load(std::memory_order_relaxed);
    const std::uint64_t end = std::min(limit_, capture_.settled(stopped));
    if (done >= end)
        return false;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockFrames, end - done));
    const std::size_t n = capture_.read(block_.data(), want);
    if (n == 0)
        return false;
    consumer_.take(block_.data(), n, done);
    taken_.store(done + n, std::memory_order_release);
    return true;
}

}  // namespace kova::live
