// Losses on this machine, which must never pass for the chain's: the stream
// thread stalled, the whole process stopped, the device removed. Run as
// wasapi_pulse_test.cpp's cases are.

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "kova/live/capture.h"
#include "kova/live/host.h"
#include "pattern_player.h"
#include "unix_command.h"
#include "wasapi_server.h"

using namespace kova::live;
using kova::play::Pattern_Player;
using namespace std::chrono_literals;
using kova::test::describe;
using kova::test::run_unix;

namespace {

class Wasapi_Loss : public kova::test::Wasapi_Server {
protected:
    void SetUp() override { require("pulse"); }

    Result<wasapi::Stream> open_loop() const
    {
        wasapi::Stream_Request request;
        request.output = wasapi::Endpoint{sink_};
        request.input = wasapi::Endpoint{monitor_};
        return wasapi::Stream::open(request);
    }
};

// Plays the pattern and captures as the commands do, into the ring.
class Play_And_Capture : public Processor {
public:
    Play_And_Capture() : player_(48000, 96000), capture_(2, 96000) {}
    bool process(const Block& block) noexcept override
    {
        player_.process(block);
        return capture_.process(block);
    }
    const Capture& capture() const { return capture_; }

private:
    Pattern_Player player_;
    Capture capture_;
};

}  // namespace

// 300 ms without service, against 200 ms buffers: the render buffer ran dry
// and the capture buffer over. Both blocks after it say so, and the first
// captured one is where the capture stops taking samples.
TEST_F(Wasapi_Loss, AStalledStreamThreadIsALossOnThisMachine)
{
    auto stream = open_loop();
    ASSERT_TRUE(stream) << stream.error().message;
    kova::test::Loop_Recorder loop(48000, 72000);
    loop.stall_at(24000, 300ms);
    ASSERT_TRUE(stream->start(loop));
    ASSERT_TRUE(kova::test::run_out(*stream, 10s));
    const auto losses = stream->losses();
    EXPECT_EQ(loop.gaps(), Processor::kInputGap | Processor::kOutputGap) << describe(losses);
    EXPECT_GE(loop.first_gap_at(), 24000u);
    EXPECT_EQ(losses.late_outputs, 1u) << describe(losses);
    EXPECT_EQ(losses.late_inputs, 1u) << describe(losses);
}

// The whole Wine process stopped for 300 ms from outside (kill -STOP), its
// host threads with it: the capture ring ends at the loss, and says the
// host caused it, which the commands report as this machine's loss.
TEST_F(Wasapi_Loss, AProcessStoppedFor300msIsALossOnThisMachine)
{
    const long pid = kova::test::unix_pid();
    ASSERT_NE(pid, 0) << "KOVA_WINE_UNIX_PID comes from scripts/wine-run.sh";
    auto stream = open_loop();
    ASSERT_TRUE(stream) << stream.error().message;
    Play_And_Capture loop;
    ASSERT_TRUE(stream->start(loop));
    kova::test::Unix_Command stop("sleep 0.5; kill -STOP " + std::to_string(pid) +
                                  "; sleep 0.3; kill -CONT " + std::to_string(pid));
    ASSERT_EQ(stop.wait(10s), 0) << stop.output();
    // A second after it resumed, the next blocks have long arrived.
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(stream->abort());
    const auto losses = stream->losses();
    std::printf("a process stopped for 300 ms: %s\n", describe(losses).c_str());
    const auto loss = loop.capture().loss();
    ASSERT_TRUE(loss) << describe(losses);
    EXPECT_EQ(loss->cause, Capture_Loss::Cause::host_gap);
    EXPECT_GT(loss->at, 0u);
}

// A sink unloaded under the stream: it ends by itself, failure() says why,
// through the Host as the commands ask it. The sink is loaded before this
// process first asks Wine for endpoints, since Wine lists them once per
// process.
TEST_F(Wasapi_Loss, ADeviceRemovedEndsTheStreamSayingSo)
{
    kova::test::Unix_Command load(
        "pactl load-module module-null-sink sink_name=kova_spare "
        "sink_properties=device.description=KovaSpare "
        "rate=48000 channels=2 format=float32le norewinds=1 >module");
    ASSERT_EQ(load.wait(10s), 0) << load.output();
    const std::string unload = "pactl unload-module $(cat '" + load.unix_dir() + "/module')";
    const auto host = open_host("kova-test");
    Stream_Request request;
    request.output = Endpoint{"KovaSpare"};
    auto opened = host->open(request);
    if (!opened)
        run_unix(unload);
    ASSERT_TRUE(opened) << opened.error().message;
    Stream& stream = **opened;
    Pattern_Player player(48000, 480000);
    ASSERT_TRUE(stream.start(player));
    std::this_thread::sleep_for(500ms);
    ASSERT_TRUE(stream.active());
    ASSERT_EQ(run_unix(unload), 0);
    ASSERT_TRUE(kova::test::run_out(stream, 5s));
    const auto failure = stream.failure();
    ASSERT_TRUE(failure);
    EXPECT_EQ(
        failure->message,
        "device 'KovaSpare' went away (AUDCLNT_E_DEVICE_INVALIDATED, 0x88890004: the device was removed or "
        "disabled)");
}
