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

    // Empty unless this machine lost input (the host said so, or the ring
    // was full): then nothing after it was kept, and this says so in the
    // words scripts/ctest-live.sh makes a test again for.
    std::string loss() const;

private:
    std::string error_;
    // Declared first so that they outlive the stream that uses them.
    std::unique_ptr<kova::live::Capture> capture_;
    std::unique_ptr<kova::live::Processor> both_;
    std::unique_ptr<kova::live::Stream> stream_;
    std::vector<float> samples_;
};
