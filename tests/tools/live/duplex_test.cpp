// The live library's duplex stream, which a loop through a device needs: one
// stream on the server's loopback ports plays the pattern and records it
// coming back, within one JACK client, so no other client can be late.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "pattern_player.h"
#include "pattern_region.h"
#include "recorder.h"
#include "server_test.h"

using Duplex = Server_Test;

TEST_F(Duplex, GetsBackEveryWordOnEveryChannel)
{
    kova::play::Pattern_Player player(kRate, kRate);  // one second
    Recorder recorder(*host_, "loopback", kRate, &player);
    ASSERT_EQ(recorder.error(), "");

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        recorder.drain();
        if (!recorder.loss().empty())
            break;
        const auto quiet = recorder.silence_since_signal();
        if (player.frames_sent() == kRate && quiet && *quiet >= kRate / 4)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    EXPECT_EQ(player.underflows(), 0u) << "the host reported gaps in what was played on this machine";
    ASSERT_EQ(recorder.loss(), "");
    ASSERT_EQ(recorder.channels(), 2);  // the server's two loopback ports
    for (int c = 0; c < 2; ++c) {
        const Region got = pattern_region(recorder.samples(), 2, c);
        EXPECT_EQ(got.length, 48000u) << "channel " << c + 1;
        EXPECT_EQ(got.first_wrong, -1) << "channel " << c + 1;
    }
}
