#pragma once

// Records the sound server's loopback through the live library while a
// test plays into it, keeping every frame in memory.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kova/live/capture.h"
#include "kova/live/stream.h"

class Recorder {
public:
    // Opens and starts an input stream; error() says why not.
    Recorder(const std::string& device, long rate);
    const std::string& error() const { return error_; }

    // Moves what has arrived into samples(); call often.
    void drain();
    int channels() const { return capture_ ? capture_->channels() : 0; }
    std::size_t frames() const { return channels() ? samples_.size() / static_cast<std::size_t>(channels()) : 0; }
    float at(std::size_t frame, int channel) const
    {
        return samples_[frame * static_cast<std::size_t>(channels()) + static_cast<std::size_t>(channel)];
    }
    // Frames since the last non-zero sample on any channel; nullopt before any.
    std::optional<std::size_t> silence_since_signal() const;

    std::size_t overrun_frames() const { return capture_ ? capture_->overrun_frames() : 0; }
    unsigned long host_overflows() const { return capture_ ? capture_->host_overflows() : 0; }

private:
    std::string error_;
    // Declared first so that it outlives the stream that writes into it.
    std::unique_ptr<kova::live::Capture> capture_;
    std::optional<kova::live::Stream> stream_;
    std::vector<float> samples_;
};
