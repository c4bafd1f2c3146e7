// Exclusive mode under Wine's ALSA driver, which Wine's PulseAudio driver
// lacks: Wine's ALSA driver, ALSA's pulse plugin, the same null sink
// (scripts/sound-server.sh pulse -- scripts/wine-ctest.sh win64 --audio alsa
// -L sound-server-wasapi-alsa). The plugin takes any rate, and PulseAudio
// converts what is not 48 kHz, so only 48 kHz is exact here.

#include <gtest/gtest.h>

#include "pattern_check.h"
#include "wasapi_server.h"

using namespace kova::live;
using namespace std::chrono_literals;

namespace {

class Wasapi_Alsa : public kova::test::Wasapi_Server {
protected:
    void SetUp() override { require("alsa"); }

    wasapi::Stream_Request exclusive_loop(Sample_Encoding encoding) const
    {
        wasapi::Stream_Request request;
        request.output = wasapi::Endpoint{sink_};
        request.input = wasapi::Endpoint{monitor_};
        request.share = wasapi::Share::exclusive;
        request.encoding = encoding;
        return request;
    }
};

class Wasapi_Alsa_Exclusive : public Wasapi_Alsa, public testing::WithParamInterface<Sample_Encoding> {};

std::string encoding_case(const testing::TestParamInfo<Sample_Encoding>& info)
{
    const char* names[] = {"Float32", "Int32", "Int24"};
    return names[static_cast<int>(info.param)];
}

}  // namespace

// The driver refuses event-driven exclusive mode, so the stream polls, and
// the loop is exact in each of the three encodings.
TEST_P(Wasapi_Alsa_Exclusive, LoopComesBackBitPerfectPolling)
{
    const auto loop = kova::test::run_loop(exclusive_loop(GetParam()));
    ASSERT_EQ(loop.error, "");
    EXPECT_EQ(loop.drive, wasapi::Drive::polling);
    EXPECT_EQ(loop.gaps, 0u) << describe(loop);
    const auto& run = loop.pattern;
    EXPECT_EQ(run.exact_frames, 48000u) << run.mismatch << "; " << describe(loop);
    EXPECT_TRUE(run.silent_after) << run.mismatch;
}

INSTANTIATE_TEST_SUITE_P(Encodings, Wasapi_Alsa_Exclusive,
                         testing::Values(Sample_Encoding::float32, Sample_Encoding::int32,
                                         Sample_Encoding::int24),
                         encoding_case);

// Asked for by name, event-driven exclusive mode is refused in one line
// that carries the driver's code.
TEST_F(Wasapi_Alsa, EventDrivenExclusiveModeIsRefusedWithTheDriversCode)
{
    auto request = exclusive_loop(Sample_Encoding::float32);
    request.drive = wasapi::Drive::event;
    const auto stream = wasapi::Stream::open(request);
    ASSERT_FALSE(stream);
    EXPECT_EQ(
        stream.error().message,
        "cannot open 'Out: default' in exclusive mode, event-driven (AUDCLNT_E_DEVICE_IN_USE, 0x8889000A: "
        "another program holds the device in exclusive mode)");
}
