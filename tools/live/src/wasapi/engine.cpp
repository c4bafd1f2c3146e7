// The stream thread: waits for the host, moves what it has or wants, and
// tells the processor of every loss on this machine it can see.

#include "engine.h"

#include <avrt.h>
#include <mmsystem.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "hresult.h"

namespace kova::live::wasapi::detail {

namespace {

// Periods the host may fall behind the clock in taking from the render
// buffer before what it feeds is taken to have run dry: Wine keeps three
// ahead in PulseAudio, one of them being played.
constexpr std::uint64_t kStalledPeriods = 2;

// How far either way of a frame the output's readings are taken to place it:
// several of the host's steps in its position, and little drift between the
// device's clock and the performance counter.
constexpr double kNearSeconds = 0.1;

// Frames as 100 ns units, rounded.
std::int64_t frames_to_ticks(double frames, long rate)
{
    return static_cast<std::int64_t>(std::llround(frames * 1e7 / static_cast<double>(rate)));
}

// The first `channels` of each frame of `from` (device_channels wide).
void take_channels(const float* from, int device_channels, float* to, int channels, std::size_t frames)
{
    if (channels == device_channels) {
        std::memcpy(to, from, frames * static_cast<std::size_t>(channels) * sizeof(float));
        return;
    }
    for (std::size_t f = 0; f < frames; ++f, from += device_channels, to += channels)
        std::memcpy(to, from, static_cast<std::size_t>(channels) * sizeof(float));
}

// Frames of `channels` samples into a device buffer of device_channels, the
// channels beyond silent.
void put_channels(const float* from, int channels, Sample_Encoding encoding, int device_channels,
                  unsigned char* to, std::size_t frames)
{
    const std::size_t bytes = sample_bytes(encoding);
    if (channels == device_channels) {
        encode_samples(from, frames * static_cast<std::size_t>(channels), encoding, to);
        return;
    }
    const std::size_t frame_bytes = bytes * static_cast<std::size_t>(device_channels);
    std::memset(to, 0, frames * frame_bytes);
    for (std::size_t f = 0; f < frames; ++f, from += channels, to += frame_bytes)
        encode_samples(from, static_cast<std::size_t>(channels), encoding, to);
}

}  // namespace

bool Engine::late(Clock::time_point since, Clock::time_point now, std::uint64_t budget_frames) const
{
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - since).count();
    return static_cast<double>(elapsed) * 1e-6 * static_cast<double>(rate) >
           static_cast<double>(budget_frames);
}

void Engine::fail(const Side& side, const char* what, HRESULT hr)
{
    std::lock_guard<std::mutex> lock(failure_mutex_);
    if (failure_)
        return;
    if (means_device_gone(hr))
        failure_ = Error{"device " + side.label + " went away (" + describe(hr) + ")", Error::Kind::host};
    else
        failure_ = Error{std::string("cannot ") + what + " " + side.label + " (" + describe(hr) + ")",
                         Error::Kind::host};
}

std::optional<Error> Engine::failure() const
{
    std::lock_guard<std::mutex> lock(failure_mutex_);
    return failure_;
}

Losses Engine::losses() const
{
    Losses l;
    l.discontinuities = discontinuities_.load(std::memory_order_relaxed);
    l.position_jumps = position_jumps_.load(std::memory_order_relaxed);
    l.late_inputs = late_inputs_.load(std::memory_order_relaxed);
    l.late_outputs = late_outputs_.load(std::memory_order_relaxed);
    l.overflows = overflows_.load(std::memory_order_relaxed);
    l.host_stalls = host_stalls_.load(std::memory_order_relaxed);
    return l;
}

Result<void> Engine::start(Processor& processor)
{
    if (thread_.joinable() || closed_)
        return Error{"cannot start a stream already started or closed", Error::Kind::host};
    processor_ = &processor;
    if (has_out) {
        if (const HRESULT hr = prime_output(); FAILED(hr)) {
            fail(out, "fill", hr);
            return *failure();
        }
    }
    // Capture first, so that a loop's capture is running when its first
    // frames are played.
    if (has_in) {
        if (const HRESULT hr = in.client->Start(); FAILED(hr)) {
            fail(in, "start", hr);
            return *failure();
        }
    }
    if (has_out) {
        if (const HRESULT hr = out.client->Start(); FAILED(hr)) {
            fail(out, "start", hr);
            if (has_in)
                in.client->Stop();
            return *failure();
        }
    }
    last_read_ = last_write_ = Clock::now();
    running_.store(true, std::memory_order_release);
    thread_ = std::thread([this] { run(); });
    return {};
}

// A buffer of silence before the start, so that the first period does not
// find the device empty.
HRESULT Engine::prime_output()
{
    BYTE* data = nullptr;
    HRESULT hr = out.render->GetBuffer(out.buffer_frames, &data);
    if (SUCCEEDED(hr))
        hr = out.render->ReleaseBuffer(out.buffer_frames, AUDCLNT_BUFFERFLAGS_SILENT);
    sent_ = out.buffer_frames;
    // It lasts the buffer, less the period the engine may take at once.
    write_budget_ = out.whole_buffers ? 2ull * out.buffer_frames
                                      : std::max<std::uint64_t>(out.buffer_frames - out.period_frames,
                                                                2ull * out.period_frames);
    return hr;
}

void Engine::wait_for_host()
{
    // Half the shorter period at most: each buffer is looked at at least
    // twice per period it gains or loses, and a host late with its event is
    // seen to be.
    UINT32 period = has_out ? out.period_frames : in.period_frames;
    if (has_in && has_out)
        period = std::min(in.period_frames, out.period_frames);
    const auto ms = static_cast<DWORD>(std::max<long long>(1, 500LL * period / rate));
    HANDLE handles[3] = {wake_, nullptr, nullptr};
    DWORD count = 1;
    if (drive == Drive::event) {
        if (has_in)
            handles[count++] = in.event;
        if (has_out)
            handles[count++] = out.event;
    }
    WaitForMultipleObjects(count, handles, FALSE, ms);
}

void Engine::run() noexcept
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DWORD task_index = 0;
    HANDLE task = AvSetMmThreadCharacteristicsW(L"Pro Audio", &task_index);
    if (!task)
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
    // The waits are a few milliseconds, event-driven too: finer than the
    // system timer's usual 15.6 ms.
    const bool fine_timer = timeBeginPeriod(1) == TIMERR_NOERROR;

    for (;;) {
        wait_for_host();
        const int command = command_.load(std::memory_order_acquire);
        if (command == kAbort)
            break;
        if (command == kDrain)
            ending_ = true;
        const auto now = Clock::now();
        if (has_in) {
            if (const HRESULT hr = serve_input(now); FAILED(hr)) {
                fail(in, "capture from", hr);
                break;
            }
        }
        if (has_out) {
            if (const HRESULT hr = serve_output(now); FAILED(hr)) {
                fail(out, "play to", hr);
                break;
            }
            if (drained_)
                break;
        } else if (ending_) {
            break;
        }
    }

    if (has_out)
        out.client->Stop();
    if (has_in)
        in.client->Stop();
    if (fine_timer)
        timeEndPeriod(1);
    if (task)
        AvRevertMmThreadCharacteristics(task);
    CoUninitialize();
    running_.store(false, std::memory_order_release);
}

HRESULT Engine::serve_input(Clock::time_point now)
{
    const bool duplex = has_out;
    // A gap waits here for the first frames after it.
    unsigned& gaps = input_gaps_;
    // Late enough for the capture buffer to have overflowed since it was
    // last emptied: the host may have dropped what no flag will tell.
    const std::uint64_t budget =
        in.whole_buffers
            ? 2ull * in.buffer_frames
            : std::max<std::uint64_t>(in.buffer_frames - in.period_frames, 2ull * in.period_frames);
    if (late(last_read_, now, budget) && !ending_) {
        late_inputs_.fetch_add(1, std::memory_order_relaxed);
        gaps |= Processor::kInputGap;
    }
    last_read_ = now;
    for (;;) {
        UINT32 next = 0;
        HRESULT hr = in.capture->GetNextPacketSize(&next);
        if (FAILED(hr))
            return hr;
        if (next == 0)
            break;
        BYTE* data = nullptr;
        UINT32 frames = 0;
        DWORD flags = 0;
        UINT64 position = 0;
        UINT64 qpc = 0;
        hr = in.capture->GetBuffer(&data, &frames, &flags, &position, &qpc);
        if (FAILED(hr))
            return hr;
        if (hr == AUDCLNT_S_BUFFER_EMPTY || frames == 0)
            break;
        // Before the first frame nothing that was ours to have can be missing:
        // Windows often flags the first packet after a start.
        if (delivered_ > 0) {
            if (flags & AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY) {
                discontinuities_.fetch_add(1, std::memory_order_relaxed);
                gaps |= Processor::kInputGap;
            } else if (!(flags & AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR) && position != next_position_) {
                position_jumps_.fetch_add(1, std::memory_order_relaxed);
                gaps |= Processor::kInputGap;
            }
        }
        next_position_ = position + frames;
        if (qpc != 0 && !(flags & AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR) && !ending_)
            in_clock_.add(
                {static_cast<std::int64_t>(delivered_),
                 static_cast<std::int64_t>(qpc) - frames_to_ticks(static_cast<double>(delivered_), rate),
                 frames});
        const std::size_t samples = static_cast<std::size_t>(frames) * in.device_channels;
        if (frames > in.buffer_frames) {
            in.capture->ReleaseBuffer(frames);
            return AUDCLNT_E_BUFFER_TOO_LARGE;
        }
        if (flags & AUDCLNT_BUFFERFLAGS_SILENT)
            std::fill_n(in_device_.data(), samples, 0.0f);
        else
            decode_samples(data, samples, in.encoding, in_device_.data());
        if (FAILED(hr = in.capture->ReleaseBuffer(frames)))
            return hr;
        delivered_ += frames;
        if (ending_)
            continue;

        if (!duplex) {
            take_channels(in_device_.data(), in.device_channels, in_fifo_.data(), in.channels, frames);
            const Block block{in_fifo_.data(), in.channels, nullptr, 0, frames, gaps};
            gaps = 0;
            if (!processor_->process(block))
                ending_ = true;
            continue;
        }
        // Full duplex: held until the render side has room for as many.
        if (fifo_frames_ + frames > fifo_capacity_) {
            overflows_.fetch_add(1, std::memory_order_relaxed);
            gaps |= Processor::kInputGap;
            continue;
        }
        if (gaps & Processor::kInputGap) {
            if (fifo_gap_at_ == kNoGap)
                fifo_gap_at_ = fifo_frames_;
            gaps = 0;
        }
        take_channels(in_device_.data(), in.device_channels,
                      in_fifo_.data() + fifo_frames_ * static_cast<std::size_t>(in.channels), in.channels,
                      frames);
        fifo_frames_ += frames;
    }
    // The host falling a buffer behind the time in handing over: what fed
    // it may have overflowed (Wine's PulseAudio stream is as long as ours).
    // Not for loopback, which Windows leaves silent while nothing plays.
    if (!in.loopback && !ending_ && delivered_ > 0 &&
        input_watch_.stalled(now, delivered_, rate, static_cast<double>(budget))) {
        host_stalls_.fetch_add(1, std::memory_order_relaxed);
        gaps |= Processor::kInputGap;
    }
    return S_OK;
}

HRESULT Engine::serve_output(Clock::time_point now)
{
    UINT32 padding = 0;
    HRESULT hr = out.client->GetCurrentPadding(&padding);
    if (FAILED(hr))
        return hr;
    if (out.whole_buffers)
        padding = 0;
    const UINT32 room = out.buffer_frames - std::min(padding, out.buffer_frames);
    const std::uint64_t taken = sent_ - padding;  // by the host, since the start

    if (ending_) {
        // Silence until what was sent has gone through the host's latency too.
        const std::uint64_t needed = std::uint64_t{padding} + out.latency_frames + 2ull * out.period_frames;
        if (silence_after_ >= needed || (out.whole_buffers && silence_after_ >= 3ull * out.buffer_frames)) {
            drained_ = true;
            return S_OK;
        }
        if (room == 0)
            return S_OK;
        BYTE* data = nullptr;
        if (FAILED(hr = out.render->GetBuffer(room, &data)))
            return hr;
        silence_after_ += room;
        sent_ += room;
        return out.render->ReleaseBuffer(room, AUDCLNT_BUFFERFLAGS_SILENT);
    }

    // Late enough for the buffer to have run dry since the last write; said
    // once, with the next block written.
    if (!output_gap_ && (late(last_write_, now, write_budget_) || (padding == 0 && !out.whole_buffers))) {
        late_outputs_.fetch_add(1, std::memory_order_relaxed);
        output_gap_ = true;
    }
    // The host falling two periods behind the time, as a spell of two
    // periods without a take does: it was stalled itself, and what it feeds
    // may have run dry. Wine feeds PulseAudio three periods ahead, whatever
    // our buffer, and pads what it lacks with silence without a word.
    // Watched once the
    // host takes what the processor made: a device may take a while to
    // start, and a gap in the silence this stream starts with costs nothing.
    if (!out.whole_buffers && taken > out.buffer_frames &&
        output_watch_.stalled(now, taken, rate, static_cast<double>(kStalledPeriods * out.period_frames))) {
        host_stalls_.fetch_add(1, std::memory_order_relaxed);
        output_gap_ = true;
    }
    unsigned gaps = output_gap_ ? Processor::kOutputGap : 0;
    std::size_t frames = room;
    const float* input = nullptr;
    if (has_in) {
        std::size_t ready = fifo_frames_;
        if (fifo_gap_at_ == 0)
            gaps |= Processor::kInputGap;
        else if (fifo_gap_at_ != kNoGap)
            ready = fifo_gap_at_;
        frames = std::min(frames, ready);
        input = in_fifo_.data();
    }
    if (frames == 0) {
        // Nothing written: the lateness stands for the next write.
        return S_OK;
    }
    BYTE* data = nullptr;
    if (FAILED(hr = out.render->GetBuffer(static_cast<UINT32>(frames), &data)))
        return hr;
    const Block block{input,        has_in ? in.channels : 0,           out_block_.data(),
                      out.channels, static_cast<unsigned long>(frames), gaps};
    const bool more = processor_->process(block);
    put_channels(out_block_.data(), out.channels, out.encoding, out.device_channels, data, frames);
    if (FAILED(hr = out.render->ReleaseBuffer(static_cast<UINT32>(frames), 0)))
        return hr;
    last_write_ = now;
    output_gap_ = false;
    read_output_clock();
    sent_ += frames;
    const std::uint64_t queued =
        out.whole_buffers ? 2ull * out.buffer_frames : std::uint64_t{padding} + frames;
    write_budget_ = std::max<std::uint64_t>(queued > out.period_frames ? queued - out.period_frames : 0,
                                            2ull * out.period_frames);
    if (has_in) {
        const std::size_t c = static_cast<std::size_t>(in.channels);
        std::memmove(in_fifo_.data(), in_fifo_.data() + frames * c,
                     (fifo_frames_ - frames) * c * sizeof(float));
        fifo_frames_ -= frames;
        if (fifo_gap_at_ != kNoGap)
            fifo_gap_at_ = fifo_gap_at_ > frames ? fifo_gap_at_ - frames : 0;
        // The gap is delivered with the block that starts at it.
        if (gaps & Processor::kInputGap)
            fifo_gap_at_ = kNoGap;
    }
    if (!more)
        ending_ = true;
    return S_OK;
}

// Frame 0 follows the buffer of silence the stream starts with. A reading
// of a position that has not moved says nothing new, and one still at 0
// nothing: the device may not have started.
void Engine::read_output_clock()
{
    UINT64 position = 0, qpc = 0;
    if (!out.clock || FAILED(out.clock->GetPosition(&position, &qpc)) || qpc == 0 ||
        position == last_position_)
        return;
    const auto to_frames = [&](UINT64 p) {
        return static_cast<double>(p) / static_cast<double>(out.clock_frequency) * static_cast<double>(rate);
    };
    const auto step = static_cast<std::uint32_t>(std::llround(to_frames(position - last_position_)));
    const bool first = last_position_ == 0;
    last_position_ = position;
    const double frames = to_frames(position) - static_cast<double>(out.buffer_frames);
    out_clock_.add({std::llround(frames), static_cast<std::int64_t>(qpc) - frames_to_ticks(frames, rate),
                    first ? 0 : step});
}

// The position is the frame being played as the counter is read, or, where
// it moves in steps, one at most a step behind: each reading puts frame 0 no
// earlier than it was, so the earliest of those near the frame is the
// closest, and still up to a step late. The step is the least the position
// was seen to move (Wine's moves a whole period at a time; a device's that
// moves smoothly, a few frames).
std::optional<Frame_Time> Engine::output_time(std::uint64_t frame) const
{
    const auto reach = static_cast<std::int64_t>(kNearSeconds * static_cast<double>(rate));
    const auto f = static_cast<std::int64_t>(frame);
    std::optional<std::int64_t> zero;
    std::uint32_t step = 0;
    for (std::size_t i = 0, n = out_clock_.size(); i < n; ++i) {
        const auto& r = out_clock_[i];
        if (r.frames != 0 && (step == 0 || r.frames < step))
            step = r.frames;
        if (r.frame >= f - reach && r.frame <= f + reach && (!zero || r.zero < *zero))
            zero = r.zero;
    }
    if (!zero || step == 0)
        return std::nullopt;
    return Frame_Time{
        static_cast<double>(*zero) * 1e-7 + static_cast<double>(frame) / static_cast<double>(rate), step};
}

// The packet's time stamp is its first frame's, by the documentation. Wine
// stamps a packet when it reads it whole, later: a packet's length is as
// closely as that can be trusted.
std::optional<Frame_Time> Engine::input_time(std::uint64_t frame) const
{
    const auto f = static_cast<std::int64_t>(frame);
    for (std::size_t i = 0, n = in_clock_.size(); i < n; ++i) {
        const auto& r = in_clock_[i];
        if (f >= r.frame && f < r.frame + r.frames)
            return Frame_Time{
                static_cast<double>(r.zero) * 1e-7 + static_cast<double>(frame) / static_cast<double>(rate),
                r.frames};
    }
    return std::nullopt;
}

Result<void> Engine::finish(bool drain)
{
    if (closed_)
        return {};
    closed_ = true;
    if (thread_.joinable()) {
        command_.store(drain ? kDrain : kAbort, std::memory_order_release);
        if (!drain)
            SetEvent(wake_);
        thread_.join();
    }
    // What the stream was stays readable; only the host's objects go.
    release_clients();
    if (const auto failed = failure())
        return *failed;
    return {};
}

void Engine::abandon()
{
    command_.store(kAbort, std::memory_order_release);
    if (wake_)
        SetEvent(wake_);
    if (thread_.joinable())
        thread_.detach();
}

}  // namespace kova::live::wasapi::detail
