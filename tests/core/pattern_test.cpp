#include "kova/pattern.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kova;

namespace {

Wav_Data with_rate(long rate)
{
    Wav_Data wav{};
    wav.Format.dwSamplesPerSec = rate;
    set_pattern_words(wav);
    return wav;
}

}  // namespace

TEST(Pattern, RateClassThresholds)
{
    struct Case {
        long rate;
        int reps;
        int cycles;
    } cases[] = {
        {44100, 1, 64000}, {48000, 1, 64000}, {48001, 2, 32000},  {88200, 2, 32000},
        {96000, 2, 32000}, {96001, 4, 16000}, {176400, 4, 16000}, {192000, 4, 16000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(repetitions_per_word(c.rate), c.reps) << c.rate;
        EXPECT_EQ(cycles_per_block(c.rate), c.cycles) << c.rate;
        EXPECT_EQ(bytes_per_cycle(c.rate) * c.cycles, kBlockBytes) << c.rate;
    }
}

TEST(Pattern, LowRateCycleBytes)
{
    const Wav_Data wav = with_rate(44100);
    std::vector<unsigned char> buf(20, 0xAA);
    EXPECT_EQ(fill_block(wav, buf.data(), 2), 18u);
    const std::vector<unsigned char> expected = {
        0x00, 0x06, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x0E, 0x00, 0x00,
        0x06, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x0E, 0x00, 0xAA, 0xAA,
    };
    EXPECT_EQ(buf, expected);
}

TEST(Pattern, MiddleRateHoldsEachWordTwice)
{
    const Wav_Data wav = with_rate(96000);
    std::vector<unsigned char> buf(18);
    EXPECT_EQ(fill_block(wav, buf.data(), 1), 18u);
    const std::vector<unsigned char> expected = {
        0x00, 0x06, 0x00, 0x00, 0x06, 0x00, 0x00, 0x0A, 0x00,
        0x00, 0x0A, 0x00, 0x00, 0x0E, 0x00, 0x00, 0x0E, 0x00,
    };
    EXPECT_EQ(buf, expected);
}

TEST(Pattern, HighRateHoldsEachWordFourTimes)
{
    const Wav_Data wav = with_rate(176400);
    std::vector<unsigned char> buf(36);
    EXPECT_EQ(fill_block(wav, buf.data(), 1), 36u);
    const std::vector<unsigned char> expected = {
        0, 6,  0, 0, 6,  0, 0, 6,  0, 0, 6,  0, 0, 10, 0, 0, 10, 0,
        0, 10, 0, 0, 10, 0, 0, 14, 0, 0, 14, 0, 0, 14, 0, 0, 14, 0,
    };
    EXPECT_EQ(buf, expected);
}

TEST(Pattern, FullBlockRepeatsTheCycleToTheLastByte)
{
    for (long rate : {48000L, 88200L, 192000L}) {
        const Wav_Data wav = with_rate(rate);
        std::vector<unsigned char> buf(kBlockBytes + 1, 0x55);
        ASSERT_EQ(fill_block(wav, buf.data(), cycles_per_block(rate)), kBlockBytes);
        const std::size_t cycle = bytes_per_cycle(rate);
        for (std::size_t i = cycle; i < kBlockBytes; ++i)
            ASSERT_EQ(buf[i], buf[i % cycle]) << rate << " at " << i;
        EXPECT_EQ(buf[kBlockBytes - 2], 0x0E);
        EXPECT_EQ(buf[kBlockBytes - 1], 0x00);
        EXPECT_EQ(buf[kBlockBytes], 0x55) << "wrote past the block";
    }
}

TEST(Pattern, FillStartsAtOffsetAndIgnoresNoCycles)
{
    const Wav_Data wav = with_rate(44100);
    std::vector<unsigned char> buf(12, 0xAA);
    EXPECT_EQ(fill_block(wav, buf.data(), 0, 3), 3u);
    EXPECT_EQ(fill_block(wav, buf.data(), -5, 3), 3u);
    EXPECT_EQ(buf[3], 0xAA);
    EXPECT_EQ(fill_block(wav, buf.data(), 1, 3), 12u);
    EXPECT_EQ(buf[2], 0xAA);
    EXPECT_EQ(buf[4], 0x06);
    EXPECT_EQ(buf[10], 0x0E);
}

TEST(Pattern, BlocksCarryExactlyTheData)
{
    // 132,300: one short block.
    EXPECT_EQ(block_count(132300), 1u);
    EXPECT_EQ(block_bytes(132300, 0), 132300u);
    // 576,000 exactly: one block, no extra one.
    EXPECT_EQ(block_count(576000), 1u);
    EXPECT_EQ(block_bytes(576000, 0), 576000u);
    EXPECT_EQ(block_bytes(576000, 1), 0u);
    // 48 kHz, 1 min; 96 kHz, 1 h; 192 kHz, 1 h.
    EXPECT_EQ(block_count(8640000), 15u);
    EXPECT_EQ(block_count(1036800000), 1800u);
    EXPECT_EQ(block_count(2073600000u), 3600u);
    // 44.1 kHz, 10 min: 79,380,000 bytes = 137 whole blocks + 468,000.
    EXPECT_EQ(block_count(79380000), 138u);
    EXPECT_EQ(block_bytes(79380000, 136), 576000u);
    EXPECT_EQ(block_bytes(79380000, 137), 468000u);
    EXPECT_EQ(block_count(0), 0u);
}
