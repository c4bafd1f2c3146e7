#pragma once

// An output, input or full-duplex PortAudio stream at exactly the rate
// asked, exchanging float32 samples, driven by a Processor on the audio
// thread.

#include <memory>
#include <optional>
#include <string>

#include "kova/live/error.h"
#include "kova/live/processor.h"

namespace kova::live {

struct Endpoint {
    std::string device;  // a name, or an index as digits; empty for the default
    int channels = 0;    // 0: all the device has
    // Takes an ALSA plugin device (pulse, jack), which accepts any rate, at
    // its word: only for a sound server known to run at the rate asked,
    // since anything the plugin converts is then blamed on the chain.
    bool trust_plugin = false;
};

struct Stream_Request {
    std::optional<Endpoint> output;
    std::optional<Endpoint> input;
    long rate = 48000;
    unsigned long frames_per_buffer = 0;  // 0: the host's choice
};

namespace detail {
// Where the callback finds the processor: on the heap, so that the address
// given to PortAudio survives the Stream being moved.
struct Stream_Slot {
    Processor* processor = nullptr;
    int in_channels = 0;
    int out_channels = 0;
};
}  // namespace detail

class Stream {
public:
    // Refuses a device that would not run at exactly request.rate. Opened
    // first, so that the processor can be made for the channels it has.
    static Expected<Stream> open(const Stream_Request& request);

    Stream(Stream&& other) noexcept;
    Stream& operator=(Stream&&) = delete;
    ~Stream();  // aborts and closes if still open

    // processor must outlive the stream's running.
    Status start(Processor& processor);
    // Whether the stream still runs: false once the processor has ended it
    // and its last buffer has been played.
    bool active() const;
    // Waits for what was handed to the host to be played, then closes.
    // Bounded: a host that has not finished a second and a half after that
    // is let go of, as abandon() does, and the error says so.
    Status stop();
    // Stops at once, dropping what is queued, then closes; bounded alike.
    Status abort();
    // Lets go of a stream whose device or server has gone, without asking
    // the host anything: PortAudio's JACK host would wait minutes for a
    // server that no longer answers. What the stream holds is left to the
    // process's exit (leave_with()).
    void abandon();

    long rate() const { return rate_; }
    // The frames an input's host buffers before the callback sees them (the
    // latency it reports, or asked for where it reports none, as JACK's does).
    std::uint64_t input_buffer_frames() const { return input_buffer_frames_; }
    // The same for an output: the frames between the callback and the device.
    std::uint64_t output_buffer_frames() const { return output_buffer_frames_; }
    int output_channels() const { return output_channels_; }
    int input_channels() const { return input_channels_; }
    const std::string& output_name() const { return output_name_; }
    const std::string& input_name() const { return input_name_; }

private:
    Stream() = default;
    Status close(bool drain);

    void* handle_ = nullptr;  // PaStream
    std::unique_ptr<detail::Stream_Slot> slot_;
    long rate_ = 0;
    int output_channels_ = 0;
    int input_channels_ = 0;
    std::uint64_t input_buffer_frames_ = 0;
    std::uint64_t output_buffer_frames_ = 0;
    std::string output_name_;
    std::string input_name_;
};

}  // namespace kova::live
