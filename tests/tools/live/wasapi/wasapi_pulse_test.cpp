// The WASAPI layer under Wine's PulseAudio driver, against a private
// PulseAudio with a null sink "kova" (48 kHz, two channels, float32) whose
// monitor is the default source: scripts/sound-server.sh pulse --
// scripts/wine-ctest.sh win64 --audio pulse -L sound-server-wasapi.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "kova/live/capture.h"
#include "kova/live/host.h"
#include "kova/live/wasapi/devices.h"
#include "unix_command.h"
#include "wasapi_server.h"

using namespace kova::live;
using namespace std::chrono_literals;

namespace {

class Wasapi_Pulse : public kova::test::Wasapi_Server {
protected:
    void SetUp() override { require("pulse"); }

    wasapi::Stream_Request loop_request() const
    {
        wasapi::Stream_Request request;
        request.output = wasapi::Endpoint{sink_};
        request.input = wasapi::Endpoint{monitor_};
        return request;
    }
};

// One second of pattern, 1.5 s kept (kova::test::run_loop): the 200 ms of
// silence the output starts with and the loop's latency fit in the half
// second left.
constexpr std::uint64_t kPatternFrames = 48000;

}  // namespace

// Wine lists each PulseAudio sink and source by its description, and one
// endpoint per direction that follows PulseAudio's default ("PulseAudio").
TEST_F(Wasapi_Pulse, TheSinkAndItsMonitorAreFoundByNameIdAndIndex)
{
    const auto devices = wasapi::list_devices();
    const wasapi::Device* sink = nullptr;
    for (const auto& d : devices)
        if (d.name == sink_)
            sink = &d;
    ASSERT_NE(sink, nullptr) << wasapi::device_table(devices);
    EXPECT_EQ(sink->direction, Direction::output);
    EXPECT_EQ(sink->mix_rate, 48000);
    EXPECT_EQ(sink->channels, 2);
    EXPECT_EQ(sink->mix_format, "32-bit float");
    // Wine's PulseAudio driver has no exclusive mode.
    EXPECT_NE(sink->exclusive_refusal.find("AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED, 0x8889000E"),
              std::string::npos);

    auto by_id = wasapi::find_device(sink->id, Direction::output);
    ASSERT_TRUE(by_id) << by_id.error().message;
    EXPECT_EQ(by_id->name, sink_);
    auto by_index = wasapi::find_device(std::to_string(sink->index), Direction::output);
    ASSERT_TRUE(by_index) << by_index.error().message;
    EXPECT_EQ(by_index->id, sink->id);
    auto monitor = wasapi::find_device(monitor_, Direction::input);
    ASSERT_TRUE(monitor) << monitor.error().message;
    EXPECT_EQ(monitor->mix_rate, 48000);

    const auto wrong_way = wasapi::find_device(monitor_, Direction::output);
    ASSERT_FALSE(wrong_way);
    EXPECT_EQ(wrong_way.error().message,
              "device 'Monitor of Null Output' is not an output (render) endpoint");
    const auto missing = wasapi::find_device("No Such Sink", Direction::output);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind, Error::Kind::refused);
}

// The mix runs at 48 kHz: shared mode would resample anything else.
TEST_F(Wasapi_Pulse, ARateTheMixDoesNotHaveIsRefusedNamingTheMixRate)
{
    auto request = loop_request();
    request.rate = 44100;
    const auto stream = wasapi::Stream::open(request);
    ASSERT_FALSE(stream);
    EXPECT_EQ(stream.error().kind, Error::Kind::refused);
    EXPECT_EQ(
        stream.error().message,
        "device 'Null Output' mixes at 48000 Hz in shared mode, so 44100 Hz would be resampled (open it at "
        "48000 Hz, or in exclusive mode)");
}

// What the live commands ask of any host, answered by this one: the sink
// by name in shared mode at its mix rate, its monitor a device of its own,
// and a rate the mix does not run at refused as the layer words it.
TEST_F(Wasapi_Pulse, TheHostInterfaceOpensTheSinkAtItsMixRateOnly)
{
    const auto host = open_host("kova-test");
    ASSERT_EQ(host->error(), "");
    const auto table = host->device_table();
    ASSERT_TRUE(table) << table.error().message;
    EXPECT_NE(table->find(sink_), std::string::npos) << *table;
    const auto same = host->same_device(sink_, monitor_);
    ASSERT_TRUE(same) << same.error().message;
    EXPECT_FALSE(*same);

    Stream_Request request;
    request.output = Endpoint{sink_};
    const auto stream = host->open(request);
    ASSERT_TRUE(stream) << stream.error().message;
    EXPECT_EQ((*stream)->rate(), 48000);
    EXPECT_EQ((*stream)->output_name(), sink_);
    EXPECT_EQ((*stream)->output_channels(), 2);
    EXPECT_EQ((*stream)->input_channels(), 0);

    request.rate = 44100;
    const auto refused = host->open(request);
    ASSERT_FALSE(refused);
    EXPECT_EQ(
        refused.error().message,
        "device 'Null Output' mixes at 48000 Hz in shared mode, so 44100 Hz would be resampled (open it "
        "at 48000 Hz, or in exclusive mode)");
}

struct Loop_Case {
    Sample_Encoding encoding;
    wasapi::Drive drive;
};

class Wasapi_Pulse_Loop : public Wasapi_Pulse, public testing::WithParamInterface<Loop_Case> {};

std::string loop_case(const testing::TestParamInfo<Loop_Case>& info)
{
    const char* encodings[] = {"Float32", "Int32", "Int24"};
    return std::string(encodings[static_cast<int>(info.param.encoding)]) +
           (info.param.drive == wasapi::Drive::event ? "Event" : "Polling");
}

// Played to the sink and captured from its monitor in one stream: every
// word back on both channels, for exactly one second, then silence.
TEST_P(Wasapi_Pulse_Loop, ComesBackBitPerfect)
{
    auto request = loop_request();
    request.encoding = GetParam().encoding;
    request.drive = GetParam().drive;
    const auto loop = kova::test::run_loop(request);
    ASSERT_EQ(loop.error, "");
    EXPECT_EQ(loop.drive, GetParam().drive);
    ASSERT_EQ(loop.channels, 2);
    EXPECT_EQ(loop.gaps, 0u) << describe(loop);
    const auto& run = loop.pattern;
    EXPECT_EQ(run.exact_frames, kPatternFrames) << run.mismatch << "; " << describe(loop);
    EXPECT_TRUE(run.silent_after) << run.mismatch;
    // The output starts with a buffer of silence: the rest is the loop's
    // latency, known to a period since capture arrives a period at a time.
    const long latency = static_cast<long>(run.first_frame) - static_cast<long>(loop.output_buffer_frames);
    std::printf("loop latency %ld frames, resolution %lu frames, %d run(s)\n", latency, loop.period_frames,
                loop.runs);
    RecordProperty("latency_frames", static_cast<int>(latency));
}

INSTANTIATE_TEST_SUITE_P(Encodings, Wasapi_Pulse_Loop,
                         testing::Values(Loop_Case{Sample_Encoding::float32, wasapi::Drive::event},
                                         Loop_Case{Sample_Encoding::float32, wasapi::Drive::polling},
                                         Loop_Case{Sample_Encoding::int32, wasapi::Drive::event},
                                         Loop_Case{Sample_Encoding::int32, wasapi::Drive::polling},
                                         Loop_Case{Sample_Encoding::int24, wasapi::Drive::event}),
                         loop_case);

// The stream's volume at 0.5 (a test's doing; the commands keep 1.0):
// each word times 0.5 is exact in float32, 20 log10(0.5) = -6.02 dB.
TEST_F(Wasapi_Pulse, AStreamVolumeOfOneHalfIsExactlyMinus6dB)
{
    auto request = loop_request();
    request.volume = 0.5f;
    const auto loop = kova::test::run_loop(request, 0.5f);
    ASSERT_EQ(loop.error, "");
    EXPECT_EQ(loop.gaps, 0u) << describe(loop);
    const auto& run = loop.pattern;
    EXPECT_EQ(run.exact_frames, kPatternFrames) << run.mismatch << "; " << describe(loop);
}

// Wine 8 takes the loopback flag but has no capture client for a render
// endpoint: the open fails in one line. Where a host has it, what the sink
// plays comes back as it was sent.
TEST_F(Wasapi_Pulse, LoopbackCaptureIsExactOrRefusedInOneLine)
{
    wasapi::Stream_Request request;
    request.output = wasapi::Endpoint{sink_};
    request.input = wasapi::Endpoint{sink_, 0, true};
    const auto loop = kova::test::run_loop(request);
    if (!loop.error.empty()) {
        EXPECT_EQ(
            loop.error,
            "no loopback capture of 'Null Output' on this host (AUDCLNT_E_WRONG_ENDPOINT_TYPE, 0x88890003: "
            "the endpoint does not go that way)");
        return;
    }
    EXPECT_EQ(loop.drive, wasapi::Drive::polling);
    EXPECT_EQ(loop.gaps, 0u) << describe(loop);
    const auto& run = loop.pattern;
    EXPECT_EQ(run.exact_frames, kPatternFrames) << run.mismatch;
}
