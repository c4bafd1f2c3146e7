#include "kova/cli/args.h"

#include <gtest/gtest.h>

using namespace kova::cli;

TEST(Args, RateAsNumberOrLabel)
{
    EXPECT_EQ(parse_rate("44100"), 44100);
    EXPECT_EQ(parse_rate("44.1k"), 44100);
    EXPECT_EQ(parse_rate("96k"), 96000);
    EXPECT_EQ(parse_rate("176.4k"), 176400);
    EXPECT_EQ(parse_rate("192000"), 192000);
    for (const char* bad : {"", "44", "44.1", "44.1 kHz", "96000k", "22050", "k", "192k "})
        EXPECT_FALSE(parse_rate(bad)) << bad;
}

TEST(Args, DurationUnits)
{
    EXPECT_EQ(parse_duration("1", 44100), 1);
    EXPECT_EQ(parse_duration("10s", 44100), 10);
    EXPECT_EQ(parse_duration("1m", 44100), 60);
    EXPECT_EQ(parse_duration("10m", 44100), 600);
    EXPECT_EQ(parse_duration("1h", 44100), 3600);
    for (const char* bad : {"", "0", "0s", "-1", "1.5", "1d", "s", "1ms", "10 s", "99999999999999999999"})
        EXPECT_FALSE(parse_duration(bad, 44100)) << bad;
}

TEST(Args, LongestDurationKeepsRiffSizeSigned32)
{
    EXPECT_EQ(max_duration(192000), 3728);
    EXPECT_EQ(parse_duration("3728", 192000), 3728);
    EXPECT_FALSE(parse_duration("3729", 192000));
    EXPECT_FALSE(parse_duration("2h", 192000));
    EXPECT_EQ(parse_duration("2h", 96000), 7200);
    // 44.1 kHz: (2^31 - 1 - 36) / 132300 = 16231
    EXPECT_EQ(max_duration(44100), 16231);
}

TEST(Args, DefaultFileName)
{
    EXPECT_EQ(default_file_name(44100, 1), "kova-44100Hz-1s.wav");
    EXPECT_EQ(default_file_name(192000, 3600), "kova-192000Hz-3600s.wav");
}

TEST(Args, RateChoicesAreTheCoresTable)
{
    EXPECT_EQ(rate_choices(), "44100, 48000, 88200, 96000, 176400, 192000");
    EXPECT_EQ(rate_label_range(), "44.1k ... 192k");
}
