// kova-check --listen against a real sound server (JACK, dummy driver): the
// chain is kova-play playing into a stage of the test's own (a JACK client
// passing its inputs on), and kova-check listening to the stage's outputs.
// The stage counts the frames that carried the pattern, so the truth of
// each case is known to the sample.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <memory>
#include <regex>
#include <string>
#include <utility>

#include "report_fields.h"
#include "run_process.h"
#include "scratch_dir.h"
#include "server_test.h"
#include "stage.h"

namespace {

class Listen : public Server_Test {
protected:
    void SetUp() override
    {
        Server_Test::SetUp();
        if (IsSkipped())
            return;
        stage_ = std::make_unique<Stage>("kova-stage-" + std::to_string(getpid()), 1.0f, false);
        ASSERT_EQ(stage_->error(), "");
    }

    Child listen(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--listen", stage_->name(), "-r", "48k"});
        return Child(KOVA_CHECK_PATH, args);
    }
    Child play(const std::string& duration)
    {
        return Child(KOVA_PLAY_PATH, {"-r", "48k", "-d", duration, "--device", stage_->name()});
    }
    // A wait that failed: the programs still running are stopped (a
    // listen's Ctrl-C gives its report so far), and what each said is the
    // failure's message, which tells audio lost on this machine from a
    // fault of the chain's or the program's.
    testing::AssertionResult said(const std::string& what, std::initializer_list<Child*> children)
    {
        for (Child* c : children)
            if (!c->ended())
                kill(c->pid(), SIGINT);
        auto failure = testing::AssertionFailure()
                       << what << "; the stage carried " << stage_->frames_carried() << " frames";
        for (Child* c : children) {
            ends_within(*c, std::chrono::seconds(10));
            failure << "\n(exit " << c->result().exit_code << ")\n" << c->result().out << c->result().err;
        }
        return failure;
    }
    testing::AssertionResult ends_by_itself(Child& listener, Child& player)
    {
        if (ends_within(listener, std::chrono::seconds(20)))
            return testing::AssertionSuccess();
        return said("the listen did not end within 20 s", {&listener, &player});
    }
    // Bounded.
    static bool wait_for(const std::function<bool()>& done)
    {
        return holds_within(done, std::chrono::seconds(20));
    }
    testing::AssertionResult listening(Child& listener)
    {
        if (wait_for([&] { return stage_->listened_to() || listener.ended(); }) && stage_->listened_to())
            return testing::AssertionSuccess();
        return said("the listen never reached the stage", {&listener});
    }
    testing::AssertionResult carried(std::uint64_t frames, Child& listener, Child& player)
    {
        if (wait_for([&] { return stage_->frames_carried() >= frames; }))
            return testing::AssertionSuccess();
        return said("the stage did not carry " + std::to_string(frames) + " frames", {&listener, &player});
    }
    // What was queued has gone through the stage: nothing more carried
    // while the server ran it on for a tenth of a second.
    bool carried_all()
    {
        std::uint64_t carried = stage_->frames_carried(), since = stage_->frames_run();
        return wait_for([&] {
            if (const auto now = stage_->frames_carried(); now != carried) {
                carried = now;
                since = stage_->frames_run();
            }
            return stage_->frames_run() - since >= static_cast<std::uint64_t>(kRate / 10);
        });
    }

    // The time an event line gives, for a channel and what it says.
    static double event_time(const std::string& err, int channel, const std::string& what)
    {
        std::smatch m;
        const std::regex line("([0-9]+\\.[0-9]{3}) s  ch" + std::to_string(channel) + "  " + what);
        return std::regex_search(err, m, line) ? std::stod(m[1]) : -1.0;
    }

    std::unique_ptr<Stage> stage_;
};

}  // namespace

// The whole run of a 1 s file: found, lost exactly a second later, the
// listen ends by itself once the pattern has been gone a second, and the
// capture it saved reads back the same.
TEST_F(Listen, FollowsAWholeRunEndsByItselfAndSavesIt)
{
    kova::support::Scratch_Dir dir("kova-listen");
    auto listener = listen({"--json", "--save", dir / "capture.wav"});
    ASSERT_TRUE(listening(listener));
    auto player = play("1");
    ASSERT_TRUE(ends_by_itself(listener, player));
    ASSERT_TRUE(ends_within(player, std::chrono::seconds(20)));
    EXPECT_EQ(player.result().exit_code, 0) << player.result().err;

    const auto& r = listener.result();
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(
        r.out.find(
            "\"container\":\"live\",\"sample_format\":\"32-bit float\",\"rate\":48000,\"channel_count\":2"),
        std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"pass\":true"), std::string::npos) << r.out;
    const long long first = json_number_field(json_channel(r.out, 1), "first");
    for (int c = 0; c < 2; ++c) {
        // 1 s at 48 kHz: 48000 samples, the same span on both channels.
        const std::string ch = json_channel(r.out, c + 1);
        EXPECT_EQ(json_number_field(ch, "length"), 48000) << r.out;
        EXPECT_EQ(json_number_field(ch, "first"), first) << r.out;
        EXPECT_NE(ch.find("\"verdicts\":[\"bit-perfect\"]"), std::string::npos) << r.out;
        const double found = event_time(r.err, c + 1, "pattern found: the exact words");
        EXPECT_NEAR(found, first / 48000.0, 0.0005) << r.err;
        EXPECT_NEAR(event_time(r.err, c + 1, "pattern lost"), found + 1.0, 0.0005) << r.err;
    }
    EXPECT_EQ(stage_->frames_carried(), 48000u);

    auto reread = Child(KOVA_CHECK_PATH, {"--json", dir / "capture.wav"});
    ASSERT_TRUE(ends_within(reread, std::chrono::seconds(20)));
    EXPECT_EQ(reread.result().exit_code, 0) << reread.result().err;
    EXPECT_NE(reread.result().out.find("\"container\":\"WAVEX\",\"sample_format\":\"32-bit float\""),
              std::string::npos);
    EXPECT_EQ(json_number_field(reread.result().out, "frames"), json_number_field(r.out, "frames"));
    for (int c = 1; c <= 2; ++c) {
        const std::string ch = json_channel(reread.result().out, c);
        EXPECT_EQ(json_number_field(ch, "first"), first);
        EXPECT_EQ(json_number_field(ch, "length"), 48000);
    }
}

// kova-play's full signal, 1 s of two channels, through the stage: each
// channel its own, every word, found and lost a second apart; the listen
// ends by itself, the signal having said how long its file is.
TEST_F(Listen, KnowsTheFullSignalByItself)
{
    auto listener = listen({"--json"});
    ASSERT_TRUE(listening(listener));
    Child player(KOVA_PLAY_PATH, {"-r", "48k", "-d", "1", "--signal", "full", "--device", stage_->name()});
    ASSERT_TRUE(ends_by_itself(listener, player));
    ASSERT_TRUE(ends_within(player, std::chrono::seconds(20)));
    EXPECT_EQ(player.result().exit_code, 0) << player.result().err;
    EXPECT_NE(player.result().out.find("full signal of 2, 48000 Hz, 1 s, 2 channels"), std::string::npos)
        << player.result().out;

    const auto& r = listener.result();
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(
        r.out.find("\"signal\":\"full\",\"source_channels\":2,\"source_seconds\":1,\"source_rate\":48000"),
        std::string::npos)
        << r.out;
    for (int c = 1; c <= 2; ++c) {
        const std::string ch = json_channel(r.out, c);
        EXPECT_NE(ch.find("\"verdicts\":[\"bit-perfect\"]"), std::string::npos) << r.out;
        EXPECT_EQ(json_number_field(ch, "length"), 48000) << r.out;
        EXPECT_NE(ch.find("\"source\":{\"channels\":2,\"channel\":" + std::to_string(c) + ","),
                  std::string::npos)
            << r.out;
        const double found = event_time(r.err, c, "full signal found: the exact words");
        EXPECT_NEAR(found, json_number_field(ch, "first") / 48000.0, 0.0005) << r.err;
        EXPECT_NEAR(event_time(r.err, c, "full signal lost"), found + 1.0, 0.0005) << r.err;
    }
    EXPECT_EQ(stage_->frames_carried(), 48000u);
}

// kova-play stopped half a second into a 10 s run: the span is exactly what
// went through the stage, short of the 10 s expected by the rest, the loss
// told when it happened, and the listen stops at the time asked. Where the
// span stops within a cycle it was plainly cut at its end; where it stops on
// the cycle's last word, whole cycles are missing and the pattern cannot
// tell whether at the end or inside (kova-play stops after a whole number of
// 1024-frame periods, and every third such number is whole cycles).
TEST_F(Listen, APlayerStoppedMidwayIsIncompleteFromWhereItStopped)
{
    auto listener = listen({"--json", "--seconds", "4", "--expect-duration", "10s"});
    ASSERT_TRUE(listening(listener));
    auto player = play("10");
    ASSERT_TRUE(carried(24000, listener, player));
    kill(player.pid(), SIGINT);
    ASSERT_TRUE(ends_within(player, std::chrono::seconds(5)));
    EXPECT_EQ(player.result().exit_code, 130);
    ASSERT_TRUE(carried_all());
    const auto through = static_cast<long long>(stage_->frames_carried());
    ASSERT_TRUE(ends_within(listener, std::chrono::seconds(20)));

    const auto& r = listener.result();
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_EQ(json_number_field(r.out, "frames"), 4 * 48000) << r.out;
    for (int c = 0; c < 2; ++c) {
        const std::string ch = json_channel(r.out, c + 1);
        EXPECT_EQ(json_number_field(ch, "length"), through) << r.out;
        const bool whole_cycles = through % 3 == 0;
        EXPECT_EQ(json_number_field(ch, "missing_end"), whole_cycles ? 0 : 480000 - through) << r.out;
        EXPECT_EQ(json_number_field(ch, "unplaced_samples"), whole_cycles ? 480000 - through : 0) << r.out;
        EXPECT_NE(ch.find("\"verdicts\":[\"incomplete\"]"), std::string::npos) << r.out;
        EXPECT_NE(ch.find("\"missing_end_exact\":true"), std::string::npos) << r.out;
        const long long first = json_number_field(ch, "first");
        EXPECT_NEAR(event_time(r.err, c + 1, "pattern lost"), static_cast<double>(first + through) / 48000,
                    0.0005)
            << r.err;
    }
}

// Ctrl-C while the pattern still plays: the report of what came so far,
// its span running to the capture's last frame, and the exit status it
// gives (passed, with --partial-ok), not the signal's.
TEST_F(Listen, CtrlCGivesTheReportSoFar)
{
    auto listener = listen({"--json", "--partial-ok", "--expect-duration", "10s"});
    ASSERT_TRUE(listening(listener));
    auto player = play("10");
    ASSERT_TRUE(carried(48000, listener, player));
    kill(listener.pid(), SIGINT);
    ASSERT_TRUE(ends_within(listener, std::chrono::seconds(10)));
    kill(player.pid(), SIGINT);

    const auto& r = listener.result();
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("\"pass\":true"), std::string::npos) << r.out;
    const long long frames = json_number_field(r.out, "frames");
    for (int c = 1; c <= 2; ++c) {
        const std::string ch = json_channel(r.out, c);
        EXPECT_NE(ch.find("\"verdicts\":[\"incomplete\"]"), std::string::npos) << r.out;
        EXPECT_EQ(json_number_field(ch, "last") + 1, frames) << r.out;
        EXPECT_GE(json_number_field(ch, "length"), 48000) << r.out;
        EXPECT_EQ(json_number_field(ch, "length") + json_number_field(ch, "missing_end"), 480000) << r.out;
    }
}

// The listener stopped (SIGSTOP) for 5 s of the server's clock while the
// pattern plays, then let go on. JACK hands over the block after the stall
// unflagged, broken at its start, and flags only the next one: the break is
// still this machine's, never the chain's. No dropout is found or said; the
// report covers what came before it, the span cut there by the capture's
// end; one line says why; exit 2. And the stop, on which PortAudio's JACK
// host then waits for minutes, deaf to signals, is over within seconds: the
// host gets 1.5 s.
TEST_F(Listen, AStalledListenerIsThisMachinesLossAndStillEnds)
{
    auto listener = listen({"--json"});
    ASSERT_TRUE(listening(listener));
    auto player = play("30");
    // Half a second past a whole one, where a span cut short and one that
    // runs over lie equally near.
    ASSERT_TRUE(carried(72000, listener, player));
    kill(listener.pid(), SIGSTOP);
    const std::uint64_t from = stage_->frames_run();
    const bool stalled = wait_for([&] { return stage_->frames_run() >= from + 5 * 48000; });
    kill(listener.pid(), SIGCONT);
    ASSERT_TRUE(stalled);
    const bool ended = ends_within(listener, std::chrono::seconds(10));
    kill(player.pid(), SIGINT);
    ASSERT_TRUE(ended) << "the listen did not end within 10 s of being let go on";

    const auto& r = listener.result();
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_NE(r.err.find("(not the chain's doing)"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("dropout"), std::string::npos) << r.err;
    for (int c = 1; c <= 2; ++c) {
        const std::string ch = json_channel(r.out, c);
        EXPECT_NE(ch.find("\"verdicts\":[\"incomplete\"]"), std::string::npos) << r.out;
        EXPECT_EQ(json_number_field(ch, "last") + 1, json_number_field(r.out, "frames")) << r.out;
    }
}

// With no sound server to reach and no card, the device list is empty:
// each live command says so, and why it may be, in one line on standard
// error, not a bare header, and exits 2 as for any other failure of the
// host (never 1, which the listens give a chain that fails).
TEST(NoDevice, TheListSaysNoneWasFoundAndWhy)
{
    for (const char* card : {"/dev/snd/pcmC0D0p", "/dev/snd/pcmC0D0c"})
        if (access(card, F_OK) == 0)
            GTEST_SKIP() << "this machine has a sound card";
    kova::support::Scratch_Dir dir("kova-no-device");
    const std::string away = "JACK_DEFAULT_SERVER=kova-none-" + std::to_string(getpid());
    const std::string pulse_away = "PULSE_SERVER=unix:" + (dir / "none");
    for (const std::string program : {KOVA_PLAY_PATH, KOVA_CHECK_PATH, KOVA_LOOP_PATH}) {
        Child list("env", {away, "JACK_NO_START_SERVER=1", pulse_away, program, "--list-devices"});
        ASSERT_TRUE(ends_within(list, std::chrono::seconds(20)));
        const auto& r = list.result();
        EXPECT_EQ(r.exit_code, 2) << program;
        EXPECT_EQ(r.out, "") << program;
        const std::string name = program.substr(program.rfind('/') + 1);
        EXPECT_TRUE(
            std::regex_match(r.err, std::regex(name + ": no sound device found through [^:\n]+: no sound "
                                                      "card, no sound server running [^\n]+\n")))
            << r.err;
    }
}

// Nothing to listen to, or a rate the device cannot open: one line each,
// from kova-check and kova-loop alike, exit 2.
TEST_F(Listen, RefusesAMissingDeviceAndARateNotExactInOneLine)
{
    auto missing = Child(KOVA_CHECK_PATH, {"--listen", "no-such-device", "-r", "48k"});
    auto wrong_rate = Child(KOVA_CHECK_PATH, {"--listen", "system", "-r", "44.1k"});
    auto loop_missing = Child(KOVA_LOOP_PATH, {"--out", "no-such-device", "--in", "system", "-r", "48k"});
    auto loop_rate = Child(KOVA_LOOP_PATH, {"--out", "system", "--in", "system", "-r", "96k"});
    for (auto* c : {&missing, &wrong_rate, &loop_missing, &loop_rate})
        ASSERT_TRUE(ends_within(*c, std::chrono::seconds(20)));

    EXPECT_EQ(missing.result().exit_code, 2);
    EXPECT_EQ(missing.result().err, "kova-check: no such device: 'no-such-device'\n");
    EXPECT_EQ(wrong_rate.result().exit_code, 2);
    EXPECT_EQ(wrong_rate.result().err,
              "kova-check: device 'system' cannot open 44100 Hz exactly (exact rates: 48000)\n");
    EXPECT_EQ(loop_missing.result().exit_code, 2);
    EXPECT_EQ(loop_missing.result().err, "kova-loop: no such device: 'no-such-device'\n");
    EXPECT_EQ(loop_rate.result().exit_code, 2);
    EXPECT_EQ(loop_rate.result().err,
              "kova-loop: device 'system' cannot open 96000 Hz exactly (exact rates: 48000)\n");
    for (auto* c : {&missing, &wrong_rate, &loop_missing, &loop_rate}) EXPECT_EQ(c->result().out, "");
}
