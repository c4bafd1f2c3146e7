// The WASAPI layer with PulseAudio's own programs at the other end of the
// null sink: what it plays, parec records; what paplay plays, it captures.
// Run as wasapi_pulse_test.cpp's cases are.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

#include "pattern_check.h"
#include "pattern_player.h"
#include "unix_command.h"
#include "wasapi_server.h"

using namespace kova::live;
using kova::play::Pattern_Player;
using namespace std::chrono_literals;
using kova::test::find_pattern;
using kova::test::run_unix;
using kova::test::Unix_Command;

namespace {

class Wasapi_Chain : public kova::test::Wasapi_Server {
protected:
    void SetUp() override
    {
        require("pulse");
        if (IsSkipped())
            return;
        ASSERT_TRUE(kova::test::under_wine()) << "runs PulseAudio's programs through Wine";
    }

    // Whether a run settles the case, checked then: one this machine did
    // not lose (as kova::test::run_loop judges), or the last one allowed.
    static bool settles(int run, bool flagged, long underruns_before, const kova::test::Pattern_Run& found)
    {
        const bool lost = kova::test::lost_here(flagged, found.exact_frames == 48000u,
                                                kova::test::server_underruns() - underruns_before);
        if (lost && run < kova::test::kRuns)
            return false;
        EXPECT_FALSE(lost) << "lost on this machine in each of " << run << " runs";
        EXPECT_EQ(found.exact_frames, 48000u) << found.mismatch;
        EXPECT_TRUE(found.silent_after) << found.mismatch;
        return true;
    }

    // Until the server lists a stream of that kind: a recorder that has
    // started, a player that has begun.
    static bool server_shows(const char* what)
    {
        return run_unix("for i in $(seq 200); do pactl list short " + std::string(what) +
                        " | grep -q . && exit 0; sleep 0.05; done; exit 1") == 0;
    }
};

std::vector<float> read_floats(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

// The 48 kHz pattern for one second as kova-gen writes it: a mono WAV of
// 24-bit words, little-endian, 0x000600 0x000A00 0x000E00 in turn.
void write_pattern_wav(const std::filesystem::path& path)
{
    const std::uint32_t frames = 48000, data = frames * 3;
    std::string wav = "RIFF";
    auto put = [&wav](std::uint32_t v, int bytes) {
        for (int b = 0; b < bytes; ++b) wav += static_cast<char>((v >> (8 * b)) & 0xFF);
    };
    put(36 + data, 4);
    wav += "WAVEfmt ";
    put(16, 4);
    put(1, 2);          // PCM
    put(1, 2);          // mono
    put(48000, 4);      // rate
    put(48000 * 3, 4);  // bytes per second
    put(3, 2);          // block
    put(24, 2);         // bits
    wav += "data";
    put(data, 4);
    const std::uint32_t words[3] = {0x000600, 0x000A00, 0x000E00};
    for (std::uint32_t f = 0; f < frames; ++f) put(words[f % 3], 3);
    std::ofstream(path, std::ios::binary) << wav;
}

}  // namespace

// One second of pattern to the sink, recorded from its monitor by parec
// as float32: every word on both channels, then silence. A run lost on
// this machine is made again, as kova::test::run_loop does.
TEST_F(Wasapi_Chain, WhatItPlaysParecRecordsBitPerfect)
{
    for (int run = 1;; ++run) {
        const long underruns = kova::test::server_underruns();
        Unix_Command parec(
            "parec --device=kova.monitor --format=float32le --rate=48000 --channels=2 --raw >rec.raw & "
            "echo $! >pid; wait");
        ASSERT_TRUE(server_shows("source-outputs"));
        wasapi::Stream_Request request;
        request.output = wasapi::Endpoint{sink_};
        auto stream = wasapi::Stream::open(request);
        ASSERT_TRUE(stream) << stream.error().message;
        Pattern_Player player(48000, 48000);
        ASSERT_TRUE(stream->start(player));
        ASSERT_TRUE(kova::test::run_out(*stream, 10s));
        EXPECT_TRUE(stream->stop());
        ASSERT_EQ(run_unix("kill -INT $(cat '" + parec.unix_dir() + "/pid')"), 0);
        parec.wait(10s);
        if (settles(run, player.underflows() > 0, underruns,
                    find_pattern(read_floats(parec.dir() / "rec.raw"), 2)))
            break;
    }
}

// paplay plays a mono 24-bit file into the sink, which copies it to both
// channels; captured from the monitor, every word comes back on each.
TEST_F(Wasapi_Chain, WhatPaplayPlaysItCapturesBitPerfect)
{
    kova::test::Scratch_Folder folder;
    write_pattern_wav(folder.path() / "k.wav");
    for (int run = 1;; ++run) {
        const long underruns = kova::test::server_underruns();
        wasapi::Stream_Request request;
        request.input = wasapi::Endpoint{monitor_};
        auto stream = wasapi::Stream::open(request);
        ASSERT_TRUE(stream) << stream.error().message;
        kova::test::Loop_Recorder recorder(0, 144000);  // 3 s
        ASSERT_TRUE(stream->start(recorder));
        ASSERT_EQ(run_unix("paplay '" + folder.unix_path("k.wav") + "'"), 0);
        ASSERT_TRUE(kova::test::run_out(*stream, 10s));
        if (settles(run, recorder.gaps() != 0, underruns, find_pattern(recorder.samples(), 2)))
            break;
    }
}
