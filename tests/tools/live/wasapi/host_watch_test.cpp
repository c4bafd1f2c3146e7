#include "host_watch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

using kova::live::wasapi::detail::Host_Watch;

namespace {

// 48 kHz, and a slack of two 10 ms periods: 960 frames.
constexpr long kRate = 48000;
constexpr double kSlack = 960.0;

// Looks every `step_ms` for `looks` looks; moved(i) is what the host has
// moved in all by look i. Returns the looks that said the host stalled.
std::vector<long> stalls(long looks, long step_ms, const std::function<std::uint64_t(long)>& moved)
{
    Host_Watch watch;
    const Host_Watch::Clock::time_point start{};
    std::vector<long> said;
    for (long i = 0; i < looks; ++i)
        if (watch.stalled(start + std::chrono::milliseconds(i * step_ms), moved(i), kRate, kSlack))
            said.push_back(i);
    return said;
}

}  // namespace

// A period of 480 frames taken every 10 ms, looked at every 5 ms: the lag
// is 0 or 240 frames, the spells 5 ms. Over ten seconds, no stall.
TEST(Host_Watch, AHostThatKeepsTimeNeverStalls)
{
    EXPECT_EQ(stalls(2000, 5, [](long i) { return std::uint64_t(480) * std::uint64_t(i / 2); }),
              std::vector<long>{});
}

// Periods taken at 1.000 s and then 1.020 s, one missed: nothing moved
// between the looks at 1.000 and 1.015, 15 ms (720 frames), and the lag
// reached 720. Missed twice, the next take at 1.030: by 1.025 (look 205)
// the host is 25 ms (1200 frames) behind, more than the slack, and that is
// said once, not again when it takes at 1.030 after that spell.
TEST(Host_Watch, TwoPeriodsWithoutATakeAreAStallAndOneIsNot)
{
    const auto missing = [](long from, long to) {
        return [from, to](long i) {
            const long takes = i / 2 - (i >= to ? to / 2 - from / 2 - 1 : i > from ? i / 2 - from / 2 : 0);
            return std::uint64_t(480) * std::uint64_t(takes);
        };
    };
    EXPECT_EQ(stalls(400, 5, missing(200, 204)), std::vector<long>{});
    EXPECT_EQ(stalls(400, 5, missing(200, 206)), std::vector<long>{205});
}

// This thread late by 100 ms while the host kept time: the host moved 4800
// frames meanwhile, and nothing says it stalled.
TEST(Host_Watch, AThreadThatLooksLateDoesNotBlameTheHost)
{
    Host_Watch watch;
    const Host_Watch::Clock::time_point start{};
    const auto at = [start](long ms) { return start + std::chrono::milliseconds(ms); };
    for (long ms = 0; ms <= 1000; ms += 5)
        EXPECT_FALSE(watch.stalled(at(ms), 48 * std::uint64_t(ms), kRate, kSlack));
    EXPECT_FALSE(watch.stalled(at(1100), 48 * 1100, kRate, kSlack));
}

// Takes of 480 every 12 ms where the clock holds 576, looked at every 4 ms:
// the lag at look j is 192 j - 480 floor(j / 3), and the least lag, let
// rise by 1000 ppm, is 0.192 j. Their difference first passes 960 at
// j = 23 (1056 - 4.4), not at j = 20 (960 - 3.8): a host 17 % slow is
// found in 92 ms.
TEST(Host_Watch, AHostFallingBehindIsFoundBeforeItsSpellsAreLong)
{
    const auto said = stalls(30, 4, [](long j) { return std::uint64_t(480) * std::uint64_t(j / 3); });
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said.front(), 23);
}

// A device clock 100 ppm slow for an hour falls behind 4.8 frames a second,
// within the 48 allowed; 2000 ppm slow it falls behind 96, 48 more than
// allowed, and passes the slack of 960 after 20 s.
TEST(Host_Watch, ADeviceClockMayDriftAsFarAsAThousandPpm)
{
    const auto slow = [](double ppm) {
        return [ppm](long i) { return std::uint64_t(double(i) * 480.0 * (1.0 - ppm * 1e-6)); };
    };
    EXPECT_EQ(stalls(360000, 10, slow(100)), std::vector<long>{});
    const auto said = stalls(2500, 10, slow(2000));
    ASSERT_FALSE(said.empty());
    EXPECT_GE(said.front(), 1990);  // 19.9 s
    EXPECT_LE(said.front(), 2010);
}
