// The samples this machine loses are its own: the capture stops short of
// the first of them, by the holdback a host's late flag needs (twice the
// host's buffer and a block: 2 x (0 + 1024) = 2048 frames here), so the
// analysis never sees a gap it would take for the chain's, and the run can
// say where it lost them.

#include <gtest/gtest.h>

#include <vector>

#include "kova/live/capture.h"
#include "kova/live/drain_thread.h"
#include "kova/live/samples.h"
#include "kova/report/run.h"
#include "listen_judge.h"

namespace {

using kova::live::Capture;
using kova::live::Capture_Loss;
using kova::live::Processor;

constexpr long kRate = 48000;
constexpr unsigned long kBlock = 1024;

// Hands the capture `blocks` blocks of the pattern on two channels, as the
// audio callback would; `gap_at`, if not negative, is a block the host
// flagged as coming after input it dropped, and `break_at` one whose first
// sample skips a sample of the pattern, unflagged.
void hand_over(Capture& capture, int blocks, int gap_at = -1, int break_at = -1)
{
    const std::vector<float> cycle = kova::live::pattern_cycle(kRate);
    std::vector<float> frames(2 * kBlock);
    std::size_t at = 0;
    for (int b = 0; b < blocks; ++b) {
        at += b == break_at ? 1 : 0;
        for (unsigned long f = 0; f < kBlock; ++f, ++at)
            frames[2 * f] = frames[2 * f + 1] = cycle[at % cycle.size()];
        capture.process({frames.data(), 2, nullptr, 0, kBlock, b == gap_at ? Processor::kInputGap : 0u});
    }
}

// Drains the capture into the listening analysis, as kova-check --listen does.
std::vector<kova::analysis::Channel_Report> judge(Capture& capture, bool& drained_to_loss)
{
    kova::check::Listen_Judge judge(kRate, 2, std::nullopt, nullptr);
    kova::live::Drain_Thread drain(capture, judge);
    drain.start();
    drain.stop();
    drained_to_loss = drain.drained_to_loss();
    return judge.finish();
}

}  // namespace

TEST(CaptureLoss, AFullRingEndsTheCaptureWhereItFilledNotADropout)
{
    // Room for four blocks: the fifth is refused, and the two after it
    // would fit once read but are not taken. Kept: 4096 - 2048 frames.
    Capture capture(2, 4 * kBlock);
    hand_over(capture, 7);
    ASSERT_TRUE(capture.loss());
    EXPECT_EQ(capture.loss()->cause, Capture_Loss::Cause::ring_full);
    EXPECT_EQ(capture.loss()->at, 4 * kBlock);
    EXPECT_EQ(capture.loss()->kept, 2 * kBlock);
    EXPECT_EQ(capture.overrun_frames(), 3 * kBlock);
    // Said as this machine's loss, as a host's is.
    EXPECT_NE(
        kova::report::loss_line(*capture.loss(), 2 * kBlock, kRate, "kova-check").find("on this machine"),
        std::string::npos);

    bool drained = false;
    const auto reports = judge(capture, drained);
    EXPECT_TRUE(drained);
    for (const auto& r : reports) {
        EXPECT_TRUE(r.present);
        EXPECT_EQ(r.first, 0u);
        EXPECT_EQ(r.length(), 2 * kBlock);
        EXPECT_FALSE(r.dropouts);
    }
}

// PortAudio's JACK host hands over the block after a stall unflagged, broken
// at its start, and flags the next one: the break (block 4, at 4096) lies
// within the holdback of the flag (block 5, at 5120), so it is this
// machine's. Kept: 5120 - 2048 = 3072 frames, the break not among them.
TEST(CaptureLoss, ABreakJustBeforeTheHostsFlagIsNoDropout)
{
    Capture capture(2, 16 * kBlock);  // room enough: only the host loses here
    hand_over(capture, 7, 5, 4);
    ASSERT_TRUE(capture.loss());
    EXPECT_EQ(capture.loss()->cause, Capture_Loss::Cause::host_gap);
    EXPECT_EQ(capture.loss()->at, 5 * kBlock);
    EXPECT_EQ(capture.host_overflows(), 1u);

    bool drained = false;
    const auto reports = judge(capture, drained);
    EXPECT_TRUE(drained);
    for (const auto& r : reports) {
        EXPECT_EQ(r.length(), 3 * kBlock);
        EXPECT_FALSE(r.dropouts);
    }
}
