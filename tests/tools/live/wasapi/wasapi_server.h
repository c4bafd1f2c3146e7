#pragma once

// What the cases against a real sound server share: the fixture that skips
// without one, and processors that play the pattern and keep what comes back.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "kova/live/processor.h"
#include "kova/live/wasapi/session.h"
#include "kova/live/wasapi/stream.h"
#include "pattern_check.h"
#include "pattern_player.h"

namespace kova::test {

// scripts/sound-server.sh pulse, with Wine's driver set by
// scripts/wine-ctest.sh --audio: the null sink's endpoints by that
// driver's names.
class Wasapi_Server : public testing::Test {
protected:
    // driver: "pulse" or "alsa", the one the case is written for.
    void require(const char* driver);

    std::string sink_;     // the null sink, as a render endpoint
    std::string monitor_;  // its monitor, as a capture endpoint
    live::wasapi::Session session_;
};

// Plays `frames` of the pattern and keeps up to `keep` frames of what comes
// in; ends once it has them all (or, without an input, once played).
class Loop_Recorder : public live::Processor {
public:
    Loop_Recorder(std::uint64_t frames, std::size_t keep);
    bool process(const live::Block& block) noexcept override;

    // A stall of the audio thread before the block at frame `at`: a machine
    // that stopped serving the stream.
    void stall_at(std::uint64_t at, std::chrono::milliseconds how_long);

    std::vector<float> samples() const;  // as kept, interleaved
    int channels() const { return channels_.load(); }
    unsigned gaps() const { return gaps_.load(); }
    std::uint64_t first_gap_at() const { return first_gap_at_.load(); }
    bool done() const { return done_.load(); }

private:
    play::Pattern_Player player_;
    std::vector<float> kept_;
    std::size_t keep_;
    std::atomic<std::size_t> kept_frames_{0};
    std::atomic<int> channels_{0};
    std::atomic<unsigned> gaps_{0};
    std::atomic<std::uint64_t> first_gap_at_{~std::uint64_t{0}};
    std::atomic<bool> done_{false};
    std::uint64_t blocks_at_ = 0;  // frames of the blocks so far
    std::uint64_t stall_at_ = ~std::uint64_t{0};
    std::chrono::milliseconds stall_{0};
};

// Runs a started stream until it ends by itself, up to timeout; false if it
// was still running then.
// The layer's own stream or one opened through the Host.
template <typename Stream>
bool run_out(const Stream& stream, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (stream.active()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The streams PulseAudio has said ran dry so far (scripts/sound-server.sh's
// log): Wine pads them with silence and tells its program nothing, so a
// run in which this grows lost samples on this machine, flagged or not.
long server_underruns();

// One second of pattern played and 1.5 s captured through one stream.
struct Loop_Run {
    std::string error;  // why the stream did not open or run; empty if it did
    std::vector<float> samples;
    int channels = 0;
    Pattern_Run pattern;  // where the pattern was found in them
    unsigned gaps = 0;    // the flags the blocks carried
    live::wasapi::Losses losses;
    long server_underruns = 0;
    live::wasapi::Drive drive = live::wasapi::Drive::automatic;
    unsigned long output_buffer_frames = 0;
    unsigned long period_frames = 0;
    int runs = 0;  // runs made: each one the machine lost samples in is made again
};

// Whether a run lost samples on this machine: the stream flagged it, or it
// came back wrong where the server says a stream ran dry (which also
// happens, harmlessly, in the silence around the pattern).
bool lost_here(bool flagged, bool exact, long server_underruns);

// A run that this machine lost samples in is no fault of the layer: it is
// made again, up to kRuns runs in all, so that a busy machine does not fail
// the case. A run that came back wrong otherwise is returned as it is. The
// words are looked for times gain.
constexpr int kRuns = 5;
Loop_Run run_loop(const live::wasapi::Stream_Request& request, float gain = 1.0f);

// What the flags and counts say, for a failure's message.
std::string describe(const live::wasapi::Losses& losses);
std::string describe(const Loop_Run& run);

}  // namespace kova::test
