#pragma once

// Records from a device through the live library, keeping every frame in
// memory; given a player, plays it to the same device in the same duplex
// stream, as a loop through the device does.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kova/live/capture.h"
#include "kova/live/host.h"

class Recorder {
public:
    // Opens and starts the stream; error() says why not. The player runs on
    // past its end, sending silence, until the Recorder is destroyed.
    Recorder(kova::live::Host& host, const std::string& device, long rate,
             kova::live::Processor* player = nullptr);
    const std::string& error() const { return error_; }

    // Moves what has arrived into samples(); call often.
    void drain();
    int channels() const { return capture_ ? capture_->channels() : 0; }
    // Interleaved, every frame since the start.
    const std::vector<float>& samples() const { return samples_; }
    // Frames since the last non-zero sample on any channel; nullopt before any.
    std::optional<std::size_t> silence_since_signal() const;

    std::size_t overrun_frames() const { return capture_ ? capture_->overrun_frames() : 0; }
    unsigned long host_overflows() const { return capture_ ? capture_->host_overflows() : 0; }

private:
    std::string error_;
    // Declared first so that they outlive the stream that uses them.
    std::unique_ptr<kova::live::Capture> capture_;
    std::unique_ptr<kova::live::Processor> both_;
    std::unique_ptr<kova::live::Stream> stream_;
    std::vector<float> samples_;
};
