#pragma once

// What the live commands ask of a host API, whichever it is: PortAudio here
// (src/portaudio/), another beside it where a platform has its own. Its
// devices as a table, and streams that run at exactly the rate asked and
// exchange float32 blocks with a Processor on the audio thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "kova/live/direction.h"
#include "kova/live/error.h"
#include "kova/live/processor.h"

namespace kova::live {

// How often the main thread looks up from waiting while a stream runs, and
// how long a stream may bring or take nothing before its device or server
// counts as gone: longer than any buffer a host asks for (65536 frames at
// 44.1 kHz is 1.5 s), and a host does not always say so itself.
constexpr int kPollMs = 100;
constexpr int kStallMs = 5000;

struct Endpoint {
    std::string device;  // a name, or an index as digits; empty for the default
    int channels = 0;    // 0: all the device has
    // Takes a device that accepts any rate (an ALSA plugin: pulse, jack) at
    // its word: only for a sound server known to run at the rate asked,
    // since anything the device converts is then blamed on the chain.
    bool trust_plugin = false;
};

struct Stream_Request {
    std::optional<Endpoint> output;
    std::optional<Endpoint> input;
    long rate = 48000;
    unsigned long frames_per_buffer = 0;  // 0: the host's choice
    // WASAPI's exclusive mode: the device itself at the rate asked, with
    // nothing mixed in. Asked for only where the host is WASAPI.
    bool exclusive = false;
};

// When a frame met its device, on a clock every stream shares, to within
// resolution_frames either way.
struct Frame_Time {
    double seconds;
    std::uint64_t resolution_frames;
};

// An output, input or full-duplex stream, driven by a Processor.
class Stream {
public:
    virtual ~Stream() = default;  // aborts and closes if still open

    // processor must outlive the stream's running.
    virtual Result<void> start(Processor& processor) = 0;
    // Whether the stream still runs: false once the processor has ended it
    // and its last buffer has been played, or the host ended it.
    virtual bool active() const = 0;
    // Why the host ended the stream, where it says (WASAPI: a device
    // removed, the audio service gone); PortAudio never does, and a device
    // gone is then known by a stream that stopped or stalled.
    virtual std::optional<Error> failure() const { return std::nullopt; }
    // Waits for what was handed to the host to be played, then closes.
    // Bounded: a host that has not finished a second and a half after that
    // is let go of, as abandon() does, and the error says so.
    virtual Result<void> stop() = 0;
    // Stops at once, dropping what is queued, then closes; bounded alike.
    virtual Result<void> abort() = 0;
    // Lets go of a stream whose device or server has gone, without asking
    // the host anything: a host may wait minutes for a server that no
    // longer answers. What the stream holds is left to the process's exit
    // (leave_with()).
    virtual void abandon() = 0;

    virtual long rate() const = 0;
    virtual int output_channels() const = 0;
    virtual int input_channels() const = 0;
    virtual const std::string& output_name() const = 0;
    virtual const std::string& input_name() const = 0;
    // The frames the host buffers between the callback and the device, on
    // each side.
    virtual std::uint64_t output_buffer_frames() const = 0;
    virtual std::uint64_t input_buffer_frames() const = 0;
    // When the processor's frame `frame` (from 0) left the output, or
    // arrived at the input, as the host's own clocks tell: none where they
    // tell nothing (PortAudio), or nothing of that frame.
    virtual std::optional<Frame_Time> output_time(std::uint64_t) const { return std::nullopt; }
    virtual std::optional<Frame_Time> input_time(std::uint64_t) const { return std::nullopt; }
};

class Host {
public:
    virtual ~Host() = default;

    // Empty when the host API started; else why not, and nothing else may
    // be asked.
    virtual const std::string& error() const = 0;
    // Every device, one line each, with the pattern rates each opens
    // exactly; an Error saying what may be missing where there is none.
    virtual Result<std::string> device_table() = 0;
    // Whether the two names lead to one device, which then runs both ways
    // in one duplex stream; an Error where either leads to none.
    Result<bool> same_device(const std::string& output, const std::string& input);
    // What tells the device a name leads to from every other (an index, an
    // endpoint ID); an Error where it leads to none.
    virtual Result<std::string> device_id(const std::string& name, Direction direction) = 0;
    // Refuses a device that would not run at exactly request.rate, naming
    // the rates it would. Opened first, so that the processor can be made
    // for the channels it has.
    virtual Result<std::unique_ptr<Stream>> open(const Stream_Request& request) = 0;
};

// This build's host API, started for the life of the object. client_name
// is what a sound server shows for the program's ports ("kova-play:out_1").
std::unique_ptr<Host> open_host(const char* client_name);

// --list-devices: the device table on standard output, from a host started
// for it; or one line through complain saying why not (the host API did not
// start, found no device, or the table could not be written). Returns the
// exit status.
int print_devices(const char* client_name, const std::function<void(const std::string&)>& complain);

// A stream was let go of without the host's leave (abandon(), or a stop
// the host did not finish in time): nothing more may be asked of the host,
// and a thread of its may still be waiting inside it.
bool host_let_go();
void note_host_let_go();

// The exit status, returned as it is; once the host has been let go of, the
// process ends here with it instead, standard output and error flushed
// first, so that exit()'s teardown never meets a host thread left waiting.
int leave_with(int status);

}  // namespace kova::live
