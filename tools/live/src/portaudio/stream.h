#pragma once

// A Stream over PortAudio, at exactly the rate asked, exchanging float32
// samples.

#include <cstdint>
#include <memory>
#include <string>

#include "kova/live/host.h"

namespace kova::live::portaudio {

// Where the callback finds the processor: on the heap, so that the address
// given to PortAudio stays where it is whatever becomes of the stream.
struct Stream_Slot {
    Processor* processor = nullptr;
    int in_channels = 0;
    int out_channels = 0;
};

class Portaudio_Stream final : public Stream {
public:
    // Refuses a device that would not run at exactly request.rate.
    static Result<std::unique_ptr<Stream>> open(const Stream_Request& request);
    ~Portaudio_Stream() override;
    Portaudio_Stream(const Portaudio_Stream&) = delete;
    Portaudio_Stream& operator=(const Portaudio_Stream&) = delete;

    Result<void> start(Processor& processor) override;
    bool active() const override;
    Result<void> stop() override;
    Result<void> abort() override;
    void abandon() override;

    long rate() const override { return rate_; }
    int output_channels() const override { return output_channels_; }
    int input_channels() const override { return input_channels_; }
    const std::string& output_name() const override { return output_name_; }
    const std::string& input_name() const override { return input_name_; }
    // What the host reports, or asked for where it reports none, as JACK's
    // does.
    std::uint64_t output_buffer_frames() const override { return output_buffer_frames_; }
    std::uint64_t input_buffer_frames() const override { return input_buffer_frames_; }

private:
    Portaudio_Stream() = default;
    Result<void> close(bool drain);

    void* handle_ = nullptr;  // PaStream
    std::unique_ptr<Stream_Slot> slot_;
    long rate_ = 0;
    int output_channels_ = 0;
    int input_channels_ = 0;
    std::uint64_t input_buffer_frames_ = 0;
    std::uint64_t output_buffer_frames_ = 0;
    std::string output_name_;
    std::string input_name_;
};

}  // namespace kova::live::portaudio
