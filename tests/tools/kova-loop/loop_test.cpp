// kova-loop against a real sound server (JACK, dummy driver).

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <memory>
#include <string>

#include "report_fields.h"
#include "run_process.h"
#include "server_test.h"
#include "stage.h"

namespace {

using Loop = Server_Test;

// The "inputs" of a run whose two inputs each carry the output given, one
// period (1024 frames, 21.333 ms at 48 kHz) late.
std::string one_period_late(int out1, int out2)
{
    const auto input = [](int in, int out) {
        return "{\"input\":" + std::to_string(in) + ",\"outputs\":[" + std::to_string(out) +
               "],\"latency_samples\":1024,\"latency_ms\":21.333333}";
    };
    return "\"inputs\":[" + input(1, out1) + "," + input(2, out2) + "]";
}

Run_Result run_loop(const std::vector<std::string>& args)
{
    Child loop(KOVA_LOOP_PATH, args);
    EXPECT_TRUE(ends_within(loop, std::chrono::seconds(30)));
    return loop.result();
}

}  // namespace

// Through the server's loopback ports in one duplex stream: every word
// back, on the output's own channel. The loopback driver hands back in one
// cycle what was played in the one before, so the round trip is one period,
// 1024 frames: the run's first frame, 0.5 s (24000 frames) into the stream,
// is captured at frame 25024.
TEST_F(Loop, TheLoopbackPortsAreBitPerfectOnePeriodLate)
{
    const auto r = run_loop({"--out", "loopback", "--in", "loopback", "-r", "48k", "-d", "1", "--json"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("{\"output\":\"loopback\",\"input\":\"loopback\",\"rate\":48000,\"streams\":1,"
                         "\"latency_clock\":\"stream\",\"inputs\":["
                         "{\"input\":1,\"outputs\":[1],\"latency_samples\":1024,\"latency_ms\":21.333333},"
                         "{\"input\":2,\"outputs\":[2],\"latency_samples\":1024,\"latency_ms\":21.333333}]"),
              std::string::npos)
        << r.out;
    for (int c = 1; c <= 2; ++c) {
        const std::string ch = json_channel(r.out, c);
        EXPECT_NE(ch.find("\"verdicts\":[\"bit-perfect\"]"), std::string::npos) << r.out;
        EXPECT_EQ(json_number_field(ch, "first"), 25024);
        EXPECT_EQ(json_number_field(ch, "length"), 48000);
    }
}

// Through a stage that halves every sample and swaps the channels: a gain of
// 20 log10(0.5) = -6.02 dB on both, each input fed by the other output.
// kova-loop's ports and the stage's feed each other, a cycle that JACK
// breaks by handing one side's output on a period later: 1024 frames again.
TEST_F(Loop, AStageThatHalvesAndSwapsIsAGainAndACrossedMap)
{
    Stage stage("kova-stage-" + std::to_string(getpid()), 0.5f, true);
    ASSERT_EQ(stage.error(), "");
    const auto r = run_loop({"--out", stage.name(), "--in", stage.name(), "-r", "48k", "-d", "1", "--json"});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_NE(r.out.find(one_period_late(2, 1)), std::string::npos) << r.out;
    for (int c = 1; c <= 2; ++c) {
        const std::string ch = json_channel(r.out, c);
        EXPECT_NE(ch.find("\"verdicts\":[\"gain\"]"), std::string::npos) << r.out;
        EXPECT_NE(ch.find("\"gain_factor\":0.5,\"gain_db\":-6.02,"), std::string::npos) << r.out;
        EXPECT_EQ(json_number_field(ch, "length"), 48000);
    }
}

// The full signal, each output its own channel of it: through the loopback
// ports every word back on the output's own channel, the map and the
// latency read from the signal itself (its first sample, played 0.5 s =
// 24000 frames into the stream, captured one period, 1024 frames, later);
// through the stage that halves and swaps, a gain of -6.02 dB and each input
// carrying the other output's channel, named as such, one period late too.
TEST_F(Loop, TheFullSignalNamesTheMapAndTheLatencyFromItself)
{
    const auto r = run_loop(
        {"--out", "loopback", "--in", "loopback", "-r", "48k", "-d", "1", "--signal", "full", "--json"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find(one_period_late(1, 2)), std::string::npos) << r.out;
    EXPECT_NE(
        r.out.find("\"signal\":\"full\",\"source_channels\":2,\"source_seconds\":1,\"source_rate\":48000"),
        std::string::npos)
        << r.out;
    for (int c = 1; c <= 2; ++c) {
        const std::string ch = json_channel(r.out, c);
        EXPECT_NE(ch.find("\"verdicts\":[\"bit-perfect\"]"), std::string::npos) << r.out;
        EXPECT_EQ(json_number_field(ch, "first"), 25024);
        EXPECT_NE(ch.find("\"positions\":{\"positioned\":true,\"first\":0,\"last\":47999"), std::string::npos)
            << r.out;
    }

    Stage stage("kova-stage-" + std::to_string(getpid()), 0.5f, true);
    ASSERT_EQ(stage.error(), "");
    const auto s = run_loop(
        {"--out", stage.name(), "--in", stage.name(), "-r", "48k", "-d", "1", "--signal", "full", "--json"});
    EXPECT_EQ(s.exit_code, 1) << s.err;
    EXPECT_NE(s.out.find(one_period_late(2, 1)), std::string::npos) << s.out;
    for (int c = 1; c <= 2; ++c) {
        const std::string ch = json_channel(s.out, c);
        EXPECT_NE(ch.find("\"verdicts\":[\"gain\",\"channels\"]"), std::string::npos) << s.out;
        EXPECT_NE(ch.find("\"gain_factor\":0.5,\"gain_db\":-6.02,"), std::string::npos) << s.out;
        EXPECT_NE(ch.find("\"source\":{\"channels\":2,\"channel\":" + std::to_string(3 - c) + ","),
                  std::string::npos)
            << s.out;
    }
}

// Two devices, two streams: kova-loop plays into one stage and listens to
// another that the first feeds. The round trip is again one period, but the
// two streams start in different cycles, so their frame counts are lined up
// on the steady clock, to within the callbacks' timing: 1024 frames give or
// take a millisecond on a quiet machine, a few on a busy one (1090 seen on
// two loaded cores), so a quarter of a period, where a stream counted from
// the wrong cycle would be a whole one off.
TEST_F(Loop, TwoDevicesRunTwoStreamsLinedUpOnTheSteadyClock)
{
    const std::string pid = std::to_string(getpid());
    Stage out("kova-stage-out-" + pid, 1.0f, false), in("kova-stage-in-" + pid, 1.0f, false);
    ASSERT_EQ(out.error() + in.error(), "");
    ASSERT_TRUE(out.feed(in));
    const auto r = run_loop({"--out", out.name(), "--in", in.name(), "-r", "48k", "-d", "1", "--json"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("\"streams\":2,\"latency_clock\":\"steady\""), std::string::npos) << r.out;
    for (int c = 1; c <= 2; ++c) {
        const auto at =
            r.out.find("{\"input\":" + std::to_string(c) + ",\"outputs\":[" + std::to_string(c) + "]");
        ASSERT_NE(at, std::string::npos) << r.out;
        EXPECT_NEAR(json_number_field(r.out.substr(at), "latency_samples"), 1024, 256) << r.out;
        EXPECT_NE(json_channel(r.out, c).find("\"verdicts\":[\"bit-perfect\"]"), std::string::npos) << r.out;
    }
}

// kova-loop stopped (SIGSTOP) for a second of the server's clock in the
// middle of a 10 s run through a stage: this machine's loss ends the run
// there (exit 2). The map, played after the run, was never measured, so
// none is given ("outputs": null); the latency was, from the run's first
// sample: one period, 1024 frames, as through the stage above.
TEST_F(Loop, ALoopCutShortGivesOnlyWhatItMeasured)
{
    Stage stage("kova-stage-" + std::to_string(getpid()), 1.0f, false);
    ASSERT_EQ(stage.error(), "");
    Child loop(KOVA_LOOP_PATH,
               {"--out", stage.name(), "--in", stage.name(), "-r", "48k", "-d", "10", "--json"});
    ASSERT_TRUE(holds_within([&] { return stage.frames_carried() >= 48000; }, std::chrono::seconds(20)));
    kill(loop.pid(), SIGSTOP);
    const std::uint64_t from = stage.frames_run();
    const bool stalled =
        holds_within([&] { return stage.frames_run() >= from + 48000; }, std::chrono::seconds(20));
    kill(loop.pid(), SIGCONT);
    ASSERT_TRUE(stalled);
    ASSERT_TRUE(ends_within(loop, std::chrono::seconds(20)));

    const auto& r = loop.result();
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_NE(r.err.find("(not the chain's doing)"), std::string::npos) << r.err;
    for (int c = 1; c <= 2; ++c)
        EXPECT_NE(r.out.find("{\"input\":" + std::to_string(c) +
                             ",\"outputs\":null,\"latency_samples\":1024,\"latency_ms\":21.333333}"),
                  std::string::npos)
            << r.out;
}
