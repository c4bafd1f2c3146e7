// The status line a listen shows while the pattern still arrives.

#include "listen_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kova/live/samples.h"
#include "listen_judge.h"

// A clean pattern that began within a block, 1.856 s (89088 frames) into
// the capture, fed as the drain thread feeds it, 16384 frames at a time.
// Each report so far is made at the end of a block, about once a second:
// at 98304, 147456, 196608 and 245760 frames, spans of 9216, 58368, 107520
// and 156672 samples, the last three a whole number of cycles past a whole
// second. A span cut by the capture's end is only still arriving, so every
// line reads bit-perfect, never dropouts.
TEST(StatusLine, ACleanPatternStillArrivingIsBitPerfectWhereverItBegan)
{
    constexpr long kRate = 48000;
    constexpr std::uint64_t kStart = 89088;
    kova::check::Listen_Judge judge(kRate, 1, std::nullopt, nullptr);
    const std::vector<float> cycle = kova::live::pattern_cycle(kRate);
    std::vector<float> block(16384);
    int lines = 0;
    for (std::uint64_t at = 0; at < 256 * 1024; at += block.size()) {
        for (std::size_t f = 0; f < block.size(); ++f)
            block[f] = at + f < kStart ? 0.0f : cycle[(at + f - kStart) % cycle.size()];
        judge.take(block.data(), block.size(), at);
        const auto news = judge.news();
        if (!news.so_far || news.frames < kStart)
            continue;
        ++lines;
        const std::string line = kova::check::status_text("dev", kRate, news.frames, *news.so_far);
        const std::string tail = "  locked  ch1 bit-perfect";
        EXPECT_TRUE(line.size() > tail.size() &&
                    line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
            << line;
    }
    EXPECT_EQ(lines, 4);
}
