#pragma once

// The stream behind kova::live::wasapi::Stream: one audio client per
// direction, opened on the caller's thread, served by a thread of its own.

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "com.h"
#include "host_watch.h"
#include "kova/live/host.h"
#include "kova/live/wasapi/stream.h"

namespace kova::live::wasapi::detail {

// One direction: its client and what the thread needs to serve it.
struct Side {
    Com_Ptr<IMMDevice> device;
    Com_Ptr<IAudioClient> client;
    Com_Ptr<IAudioRenderClient> render;
    Com_Ptr<IAudioCaptureClient> capture;
    Com_Ptr<IAudioClock> clock;  // output only; none where the host has none
    UINT64 clock_frequency = 0;
    HANDLE event = nullptr;  // event-driven only
    Sample_Encoding encoding = Sample_Encoding::float32;
    int device_channels = 0;  // as opened
    int channels = 0;         // as the processor sees them: the first ones
    UINT32 buffer_frames = 0;
    UINT32 period_frames = 0;
    UINT32 latency_frames = 0;
    // Event-driven exclusive mode: a whole buffer each event, as the two
    // buffers swap; padding means nothing there.
    bool whole_buffers = false;
    bool loopback = false;
    std::string name;
    std::string id;
    std::string label;  // 'name', as the errors show it
};

// A side's clock as read over the stream's first seconds, where a loop's
// pattern starts: each reading puts the processor's frame 0 at a time.
// Written by the stream's thread; what it has published is readable by any.
class Clock_Log {
public:
    struct Reading {
        std::int64_t frame;    // the processor's, at the reading (a packet's first)
        std::int64_t zero;     // frame 0's time, performance counter's 100 ns units
        std::uint32_t frames;  // the capture packet's length; the output position's last move
    };
    static constexpr std::size_t kReadings = 4096;

    void add(const Reading& reading) noexcept
    {
        const std::size_t n = count_.load(std::memory_order_relaxed);
        if (n == kReadings)
            return;
        readings_[n] = reading;
        count_.store(n + 1, std::memory_order_release);
    }
    std::size_t size() const { return count_.load(std::memory_order_acquire); }
    const Reading& operator[](std::size_t i) const { return readings_[i]; }

private:
    std::array<Reading, kReadings> readings_{};
    std::atomic<std::size_t> count_{0};
};

class Engine {
public:
    Engine() = default;
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    Result<void> open(const Stream_Request& request);
    Result<void> start(Processor& processor);
    bool active() const { return running_.load(std::memory_order_acquire); }
    std::optional<Error> failure() const;
    // Ends the stream and lets go of the host's objects: drain plays out
    // what was handed over first.
    Result<void> finish(bool drain);
    // Lets the thread run on by itself, and everything it uses with it.
    void abandon();
    Losses losses() const;
    std::optional<Frame_Time> output_time(std::uint64_t frame) const;
    std::optional<Frame_Time> input_time(std::uint64_t frame) const;

    Side out;
    Side in;
    bool has_out = false;
    bool has_in = false;
    long rate = 0;
    Drive drive = Drive::polling;

private:
    using Clock = std::chrono::steady_clock;
    enum Command : int { kRun, kDrain, kAbort };

    Result<void> open_sides(const Stream_Request& request, Drive drive);
    void release_clients();
    void run() noexcept;
    HRESULT serve_input(Clock::time_point now);
    HRESULT serve_output(Clock::time_point now);
    HRESULT prime_output();
    void read_output_clock();
    void wait_for_host();
    void fail(const Side& side, const char* what, HRESULT hr);
    bool late(Clock::time_point since, Clock::time_point now, std::uint64_t budget_frames) const;

    Processor* processor_ = nullptr;
    bool closed_ = false;
    std::thread thread_;
    HANDLE wake_ = nullptr;  // set to stop waiting at once
    std::atomic<int> command_{kRun};
    std::atomic<bool> running_{false};
    mutable std::mutex failure_mutex_;
    std::optional<Error> failure_;

    // The thread's own state.
    bool ending_ = false;  // the processor is done: silence until played out
    bool drained_ = false;
    std::uint64_t silence_after_ = 0;
    std::vector<float> out_block_;  // what the processor fills, its channels
    std::vector<float> in_device_;  // one packet, all the device's channels
    std::vector<float> in_fifo_;    // full duplex: captured, not yet paired
    std::size_t fifo_frames_ = 0;
    std::size_t fifo_capacity_ = 0;
    static constexpr std::size_t kNoGap = ~std::size_t{0};
    std::size_t fifo_gap_at_ = kNoGap;  // frames in the fifo before the first gap
    std::uint64_t delivered_ = 0;       // capture frames taken from the host
    std::uint64_t next_position_ = 0;
    Clock::time_point last_read_;
    Clock::time_point last_write_;
    std::uint64_t write_budget_ = 0;  // frames the render buffer lasts after the last write
    unsigned input_gaps_ = 0;         // seen, not yet given with a block
    bool output_gap_ = false;
    std::uint64_t sent_ = 0;  // frames handed to the render buffer, silence too
    Host_Watch output_watch_;
    Host_Watch input_watch_;

    Clock_Log out_clock_;
    Clock_Log in_clock_;
    UINT64 last_position_ = 0;

    std::atomic<unsigned long> discontinuities_{0};
    std::atomic<unsigned long> position_jumps_{0};
    std::atomic<unsigned long> late_inputs_{0};
    std::atomic<unsigned long> late_outputs_{0};
    std::atomic<unsigned long> overflows_{0};
    std::atomic<unsigned long> host_stalls_{0};
};

}  // namespace kova::live::wasapi::detail
