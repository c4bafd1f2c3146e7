// kova-check --listen on PulseAudio's null sink (scripts/sound-server.sh
// pulse, 48 kHz, float32): paplay (or kova-play) plays into the sink, and
// kova-check listens to its monitor through ALSA's pulse plugin, which it
// takes at its word (--allow-plugin) since the server runs at exactly the
// rate asked. 1024-frame buffers keep every sample on this route.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>

#include "report_fields.h"
#include "run_process.h"
#include "scratch_dir.h"

namespace {

class Listen_Pulse : public testing::Test {
protected:
    void SetUp() override
    {
        const char* server = std::getenv("KOVA_SOUND_SERVER");
        if (!server || std::string(server) != "pulse")
            GTEST_SKIP() << "needs PulseAudio: run through scripts/sound-server.sh pulse -- ctest -L "
                            "sound-server-pulse";
        ASSERT_EQ(std::atol(std::getenv("KOVA_SOUND_RATE")), 48000);
        ASSERT_EQ(run("pactl", {"set-sink-volume", "kova", "100%"}), 0);
    }

    static int run(const std::string& program, const std::vector<std::string>& args)
    {
        Child c(program, args);
        return ends_within(c, std::chrono::seconds(20)) ? c.result().exit_code : -1;
    }

    // Plays a file of `rate` through the sink while kova-check listens.
    Run_Result listen_to(long rate)
    {
        const std::string file = dir_ / ("k" + std::to_string(rate) + ".wav");
        EXPECT_EQ(run(KOVA_GEN_PATH, {"-q", "-r", std::to_string(rate), "-d", "1", "-o", file}), 0);
        return listen_while("paplay", {file});
    }

    // Runs a player into the sink while kova-check listens; the player must end well.
    Run_Result listen_while(const std::string& player, const std::vector<std::string>& args)
    {
        Child listener(KOVA_CHECK_PATH, {"--listen", "pulse", "-r", "48k", "--channels", "2",
                                         "--allow-plugin", "--buffer", "1024", "--json"});
        // Recording once the server shows the listener's stream.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (run("bash", {"-c", "pactl list short source-outputs | grep -q ."}) != 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(run(player, args), 0);
        EXPECT_TRUE(ends_within(listener, std::chrono::seconds(20)));
        return listener.result();
    }

    kova::support::Scratch_Dir dir_{"kova-listen-pulse"};
};

}  // namespace

// A 44.1 kHz stream played into the 48 kHz sink: PulseAudio resamples it
// without a word; the pattern's 14.7 kHz fundamental arrives at 48 kHz, a
// ratio of 48000 / 44100 = 1.088435, without drift (one clock). The listen
// ends by itself: the resampled span is within 1 % of a second.
TEST_F(Listen_Pulse, A44100StreamIntoA48000SinkIsResampled)
{
    const auto r = listen_to(44100);
    EXPECT_EQ(r.exit_code, 1) << r.err;
    for (int c = 1; c <= 2; ++c) {
        const std::string ch = json_channel(r.out, c);
        EXPECT_NE(ch.find("\"verdicts\":[\"resampled\"]"), std::string::npos) << r.out;
        EXPECT_NE(ch.find("\"resampling\":{\"family_hz\":14700,\"family_rate\":44100,\"ratio\":1.088435,"),
                  std::string::npos)
            << r.out;
        // Below a tenth of a ppm a resampler's own ratio counts as exact.
        const auto at = ch.find("\"drift_ppm\":");
        ASSERT_NE(at, std::string::npos);
        EXPECT_LT(std::fabs(std::stod(ch.substr(at + 12))), 0.1) << r.out;
    }
}

// The sink at 50 %: PulseAudio's volume is cubic, so 0.5^3 = 0.125 of every
// sample, 20 log10(0.125) = -18.06 dB; in a float32 sink each word times
// 0.125 is exact, so it is a gain and nothing else.
TEST_F(Listen_Pulse, TheSinkAtHalfVolumeIsAGainOfMinus18dB)
{
    ASSERT_EQ(run("pactl", {"set-sink-volume", "kova", "50%"}), 0);
    const auto r = listen_to(48000);
    EXPECT_EQ(r.exit_code, 1) << r.err;
    for (int c = 1; c <= 2; ++c) {
        const std::string ch = json_channel(r.out, c);
        EXPECT_NE(ch.find("\"verdicts\":[\"gain\"]"), std::string::npos) << r.out;
        EXPECT_NE(ch.find("\"gain_factor\":0.125,\"gain_db\":-18.06,"), std::string::npos) << r.out;
        EXPECT_EQ(json_number_field(ch, "length"), 48000) << r.out;
    }
}

// ALSA's pulse plugin takes any rate, so kova-play refuses it in one line
// that names the option which takes it at its word; with --allow-plugin it
// plays into the sink, and the 1 s pattern arrives whole: 48000 samples,
// every one its word, on both of the monitor's channels (the plugin's 32
// made-up channels all carry the same words, so PulseAudio's downmix of
// them is the words again).
TEST_F(Listen_Pulse, KovaPlayPlaysIntoTheSinkOnlyWithAllowPlugin)
{
    Child refused(KOVA_PLAY_PATH, {"-r", "48k", "--device", "pulse"});
    ASSERT_TRUE(ends_within(refused, std::chrono::seconds(20)));
    EXPECT_EQ(refused.result().exit_code, 2);
    EXPECT_EQ(refused.result().err,
              "kova-play: device 'pulse' cannot open 48000 Hz exactly (exact rates: none: an ALSA plugin may "
              "convert any rate); --allow-plugin takes it at its word, for a sound server running at exactly "
              "48000 Hz\n");

    const auto r =
        listen_while(KOVA_PLAY_PATH, {"-q", "-r", "48k", "-d", "1", "--device", "pulse", "--allow-plugin"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    for (int c = 1; c <= 2; ++c) {
        const std::string ch = json_channel(r.out, c);
        EXPECT_NE(ch.find("\"verdicts\":[\"bit-perfect\"]"), std::string::npos) << r.out;
        EXPECT_EQ(json_number_field(ch, "length"), 48000) << r.out;
    }
}
