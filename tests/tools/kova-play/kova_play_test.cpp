// kova-play against a real sound server: a JACK server with the dummy driver,
// started by scripts/sound-server.sh jack. The test records through the live
// library as a JACK client of its own, and kova-play plays straight into that
// client's input ports, which PortAudio offers it as a device. JACK hands
// one client's output to the next within the same cycle, so the route keeps
// every sample even when a client is late, where a route through a driver
// (the server's loopback ports) repeats or drops a period.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "pattern_region.h"
#include "recorder.h"
#include "run_process.h"
#include "server_test.h"

namespace {

using Clock = std::chrono::steady_clock;

class KovaPlay : public Server_Test {
protected:
    std::unique_ptr<Recorder> record()
    {
        // The dummy driver's capture ports carry silence; adding it to what
        // kova-play sends changes nothing.
        auto recorder = std::make_unique<Recorder>(*host_, "system", kRate);
        EXPECT_EQ(recorder->error(), "");
        return recorder;
    }

    // Keeps draining until the child has ended and the recording has been
    // silent for a quarter of a second after carrying something. Bounded;
    // a recording that lost input on this machine can only wait, so it
    // stops there and says why.
    static void play_out(Child& child, Recorder& recorder, std::chrono::seconds limit)
    {
        const auto deadline = Clock::now() + limit;
        bool ended = false;
        while (Clock::now() < deadline) {
            recorder.drain();
            if (const std::string lost = recorder.loss(); !lost.empty()) {
                ADD_FAILURE() << lost;
                return;
            }
            ended = ended || child.ended();
            const auto quiet = recorder.silence_since_signal();
            if (ended && quiet && *quiet >= kRate / 4)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ADD_FAILURE() << "no end to the playing within " << limit.count() << " s";
    }
};

Child kova_play(const std::vector<std::string>& args)
{
    return Child(KOVA_PLAY_PATH, args);
}

}  // namespace

TEST_F(KovaPlay, PlaysEveryWordExactlyOnEveryChannel)
{
    auto recorder = record();
    auto child = kova_play({"-r", "48k", "-d", "1", "--device", client_});
    play_out(child, *recorder, std::chrono::seconds(20));

    ASSERT_TRUE(child.ended());
    EXPECT_TRUE(child.result().exited);
    EXPECT_EQ(child.result().exit_code, 0);
    EXPECT_EQ(child.result().err, "");
    EXPECT_EQ(child.result().out, client_ + ": 48000 Hz, 1 s, 2 channels\n");
    EXPECT_EQ(recorder->loss(), "");
    ASSERT_EQ(recorder->channels(), 2);
    for (int c = 0; c < 2; ++c) {
        // 1 s at 48 kHz: 48000 samples, 16000 whole cycles, none lost or added.
        const Region got = pattern_region(recorder->samples(), recorder->channels(), c);
        EXPECT_EQ(got.length, 48000u) << "channel " << c + 1;
        EXPECT_EQ(got.first_wrong, -1) << "channel " << c + 1;
    }
}

TEST_F(KovaPlay, ListsTheServersDevicesWithTheirExactRate)
{
    auto child = kova_play({"--list-devices"});
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!child.ended() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(child.ended());
    EXPECT_EQ(child.result().exit_code, 0);
    // The probing of absent cards and servers stays quiet.
    EXPECT_EQ(child.result().err, "");
    // The server runs at 48 kHz with two ports each way, and JACK runs
    // nothing at any other rate.
    const std::regex system(R"((^|\n) *[0-9]+  system +JACK Audio Connection Kit +2 +2 +48000  48000\n)");
    EXPECT_TRUE(std::regex_search(child.result().out, system)) << child.result().out;
}

TEST_F(KovaPlay, RefusesAMissingDeviceAndARateNotExactInOneLine)
{
    auto missing = kova_play({"-r", "48k", "--device", "no-such-device"});
    auto wrong_rate = kova_play({"-r", "44.1k", "--device", "system"});
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!(missing.ended() && wrong_rate.ended()) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(missing.ended() && wrong_rate.ended());

    EXPECT_EQ(missing.result().exit_code, 2);
    EXPECT_EQ(missing.result().err, "kova-play: no such device: 'no-such-device'\n");
    EXPECT_EQ(wrong_rate.result().exit_code, 2);
    EXPECT_EQ(wrong_rate.result().err,
              "kova-play: device 'system' cannot open 44100 Hz exactly (exact rates: 48000)\n");
    EXPECT_EQ(missing.result().out + wrong_rate.result().out, "");
}

TEST_F(KovaPlay, StopsCleanlyOnSigint)
{
    auto recorder = record();
    auto child = kova_play({"-r", "48k", "-d", "60", "--device", client_});
    // Interrupted once the pattern is seen coming back.
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!recorder->silence_since_signal() && recorder->loss().empty() && !child.ended() &&
           Clock::now() < deadline) {
        recorder->drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(recorder->loss(), "");
    ASSERT_TRUE(recorder->silence_since_signal()) << "nothing came back";
    ASSERT_FALSE(child.ended());
    kill(child.pid(), SIGINT);
    play_out(child, *recorder, std::chrono::seconds(10));

    ASSERT_TRUE(child.ended());
    // Its own exit with the status a shell gives a Ctrl-C, not death by the
    // signal, and nothing said.
    EXPECT_TRUE(child.result().exited);
    EXPECT_EQ(child.result().exit_code, 130);
    EXPECT_EQ(child.result().err, "");
    EXPECT_EQ(child.result().out, "");
    // What was played up to the stop is the pattern unbroken, and far short
    // of the minute asked for.
    for (int c = 0; c < 2; ++c) {
        const Region got = pattern_region(recorder->samples(), recorder->channels(), c);
        EXPECT_GT(got.length, 0u) << "channel " << c + 1;
        EXPECT_LT(got.length, 30u * 48000u) << "channel " << c + 1;
        EXPECT_EQ(got.first_wrong, -1) << "channel " << c + 1;
    }
}
