#pragma once

// An output, input or full-duplex WASAPI stream at exactly the rate asked,
// driven by a Processor on a thread of its own: what kova::live::Stream is
// over PortAudio, for Windows.
//
// Shared mode opens only at the endpoint's mix rate, since the engine would
// resample any other without a word; exclusive mode opens the device at the
// rate itself or not at all. Samples travel as float32, int32 or packed
// int24, converted exactly (sample_encoding.h). A loss on this machine is
// never passed off as the chain's: a capture discontinuity the engine
// reports, a jump in its device position, a service late enough for a
// buffer to have run dry or over, or the host itself moving nothing for as
// long, is a gap flag on the next block; a device removed ends the stream
// with failure() saying so.

#include <memory>
#include <optional>
#include <string>

#include "kova/live/error.h"
#include "kova/live/host.h"
#include "kova/live/processor.h"
#include "kova/live/sample_encoding.h"

namespace kova::live::wasapi {

enum class Share { shared, exclusive };

// How the stream thread learns that the host wants samples: the event the
// engine signals each period, or its own timer at half a period. automatic
// takes the event where the driver allows it (not every exclusive-mode
// driver does) and polls otherwise; loopback capture always polls, since
// Windows before 10 1703 never signals it.
enum class Drive { automatic, event, polling };

struct Endpoint {
    // A friendly name, an endpoint ID, or an index of list_devices() as
    // digits; empty for the default endpoint.
    std::string device;
    int channels = 0;  // 0: all the endpoint has; fewer: the first ones
    // Input only: capture what the render endpoint `device` plays, after
    // the mixer (shared mode only).
    bool loopback = false;
};

struct Stream_Request {
    std::optional<Endpoint> output;
    std::optional<Endpoint> input;
    long rate = 48000;
    // The host's buffer; 0: 200 ms, or one device period for event-driven
    // exclusive mode. Long, since a gap costs the run and delay costs
    // nothing here.
    unsigned long frames_per_buffer = 0;
    Share share = Share::shared;
    Drive drive = Drive::automatic;
    Sample_Encoding encoding = Sample_Encoding::float32;
    // The stream's own volume. Anything but 1.0 is for a test that the
    // level change is seen.
    float volume = 1.0f;
};

// What the stream saw of losses on this machine, each counted where it set
// a gap flag: for a report, and for the tests to tell them apart.
struct Losses {
    unsigned long discontinuities = 0;  // capture packets the engine flagged
    unsigned long position_jumps = 0;   // capture packets not where the last one ended
    unsigned long late_inputs = 0;      // services late enough for the capture buffer to overflow
    unsigned long late_outputs = 0;     // services late enough for the render buffer to run dry
    unsigned long overflows = 0;        // full-duplex: captured frames the render side had no room for
    unsigned long host_stalls = 0;      // the host itself moved nothing for longer than it can hold
};

namespace detail {
class Engine;
}

class Stream {
public:
    // Refuses a rate the endpoint would not run at exactly, naming the one
    // it would. Opened first, so that the processor can be made for the
    // channels it has.
    static Result<Stream> open(const Stream_Request& request);

    Stream(Stream&& other) noexcept;
    Stream& operator=(Stream&&) = delete;
    ~Stream();  // aborts and closes if still open

    // processor must outlive the stream's running.
    Result<void> start(Processor& processor);
    // Whether the stream still runs: false once the processor has ended it
    // and its last buffer has been played, or the host failed (failure()).
    bool active() const;
    // Why the stream ended by itself, if the host made it: a device removed,
    // the audio service gone.
    std::optional<Error> failure() const;
    // Waits for what was handed to the host to be played, then closes.
    Result<void> stop();
    // Stops at once, dropping what is queued, then closes.
    Result<void> abort();
    // Lets go of a stream whose device has gone without asking the host
    // anything more; what it holds is left to the process's exit.
    void abandon();

    long rate() const;
    int output_channels() const;
    int input_channels() const;
    const std::string& output_name() const;
    const std::string& input_name() const;
    const std::string& output_id() const;
    const std::string& input_id() const;
    // The drive in use (event or polling, never automatic).
    Drive drive() const;
    // The host's buffers, and the period it hands capture over in: a latency
    // measured across the two is known to that period and no finer.
    unsigned long output_buffer_frames() const;
    unsigned long input_buffer_frames() const;
    unsigned long period_frames() const;
    // When the processor's frame `frame` left the output or arrived at the
    // input (kova/live/host.h): from the render position the output's clock
    // gives, and the time stamp of the capture packet that held the frame;
    // for frames of the stream's first seconds only.
    std::optional<Frame_Time> output_time(std::uint64_t frame) const;
    std::optional<Frame_Time> input_time(std::uint64_t frame) const;
    // Readable while the stream runs.
    Losses losses() const;

private:
    explicit Stream(std::unique_ptr<detail::Engine> engine);
    std::unique_ptr<detail::Engine> engine_;
};

const char* drive_name(Drive drive);

}  // namespace kova::live::wasapi
