// The samples this machine loses are its own: the capture stops at the
// first of them, so the analysis never sees a gap it would take for the
// chain's, and the run can say where it lost them.

#include <gtest/gtest.h>

#include <vector>

#include "kova/live/capture.h"
#include "kova/live/drain_thread.h"
#include "kova/live/listen_judge.h"
#include "kova/live/pattern_player.h"

namespace {

using kova::live::Capture;
using kova::live::Capture_Loss;
using kova::live::Processor;

constexpr long kRate = 48000;
constexpr unsigned long kBlock = 1024;

// Hands the capture `blocks` blocks of the pattern on two channels, as the
// audio callback would; `gap_at`, if not negative, is a block the host
// flagged as coming after input it dropped.
void hand_over(Capture& capture, int blocks, int gap_at = -1)
{
    const std::vector<float> cycle = kova::live::pattern_cycle(kRate);
    std::vector<float> frames(2 * kBlock);
    std::size_t at = 0;
    for (int b = 0; b < blocks; ++b) {
        for (unsigned long f = 0; f < kBlock; ++f, ++at)
            frames[2 * f] = frames[2 * f + 1] = cycle[at % cycle.size()];
        capture.process({frames.data(), 2, nullptr, 0, kBlock, b == gap_at ? Processor::kInputGap : 0u});
    }
}

// Drains the capture into the listening analysis, as kova-check --listen does.
std::vector<kova::analysis::Channel_Report> judge(Capture& capture, bool& drained_to_loss)
{
    kova::live::Listen_Judge judge(kRate, 2, std::nullopt, nullptr);
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
    // would fit once read but are not taken.
    Capture capture(2, 4 * kBlock);
    hand_over(capture, 7);
    ASSERT_TRUE(capture.loss());
    EXPECT_EQ(capture.loss()->cause, Capture_Loss::Cause::ring_full);
    EXPECT_EQ(capture.loss()->at, 4 * kBlock);
    EXPECT_EQ(capture.overrun_frames(), 3 * kBlock);

    bool drained = false;
    const auto reports = judge(capture, drained);
    EXPECT_TRUE(drained);
    for (const auto& r : reports) {
        EXPECT_TRUE(r.present);
        EXPECT_EQ(r.first, 0u);
        EXPECT_EQ(r.length(), 4 * kBlock);
        EXPECT_FALSE(r.dropouts);
    }
}

TEST(CaptureLoss, AHostGapEndsTheCaptureBeforeItsBlock)
{
    Capture capture(2, 16 * kBlock);  // room enough: only the host loses here
    hand_over(capture, 6, 2);
    ASSERT_TRUE(capture.loss());
    EXPECT_EQ(capture.loss()->cause, Capture_Loss::Cause::host_gap);
    EXPECT_EQ(capture.loss()->at, 2 * kBlock);
    EXPECT_EQ(capture.host_overflows(), 1u);

    bool drained = false;
    const auto reports = judge(capture, drained);
    EXPECT_TRUE(drained);
    for (const auto& r : reports) {
        EXPECT_EQ(r.length(), 2 * kBlock);
        EXPECT_FALSE(r.dropouts);
    }
}
