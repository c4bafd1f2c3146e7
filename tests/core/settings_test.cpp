#include "kova/settings.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kova;

TEST(Settings, RateListInDisplayOrder)
{
    const char* labels[] = {"44.1 kHz", "48 kHz", "88.2 kHz", "96 kHz", "176.4 kHz", "192 kHz"};
    const long rates[] = {44100, 48000, 88200, 96000, 176400, 192000};
    for (std::size_t i = 0; i < kRateCount; ++i) {
        EXPECT_STREQ(kRates[i].label, labels[i]);
        EXPECT_EQ(kRates[i].rate, rates[i]);
    }
}

TEST(Settings, DurationListInDisplayOrder)
{
    const char* labels[] = {"1 Second", "10 Seconds", "1 Minute", "10 Minutes", "1 Hour"};
    const int seconds[] = {1, 10, 60, 600, 3600};
    for (std::size_t i = 0; i < kDurationCount; ++i) {
        EXPECT_STREQ(kDurations[i].label, labels[i]);
        EXPECT_EQ(kDurations[i].seconds, seconds[i]);
    }
}

TEST(Settings, SelectByIndexStoresTheTableValue)
{
    Wav_Data wav{};
    set_defaults(wav);
    EXPECT_EQ(wav.Format.dwSamplesPerSec, 44100);
    EXPECT_EQ(wav.iDuration, 1);

    select_sample_rate(wav, 3);
    select_duration(wav, 4);
    EXPECT_EQ(wav.Format.dwSamplesPerSec, 96000);
    EXPECT_EQ(wav.iDuration, 3600);

    select_sample_rate(wav, 5);
    select_duration(wav, 0);
    EXPECT_EQ(wav.Format.dwSamplesPerSec, 192000);
    EXPECT_EQ(wav.iDuration, 1);
}

TEST(Settings, OutOfRangeIndexChangesNothing)
{
    Wav_Data wav{};
    select_sample_rate(wav, 1);
    select_duration(wav, 2);
    for (long long bad : {-1LL, 6LL, 5000000000LL, -5000000000LL}) {
        select_sample_rate(wav, bad);
        EXPECT_EQ(wav.Format.dwSamplesPerSec, 48000) << bad;
    }
    for (long long bad : {-1LL, 5LL, 6LL}) {
        select_duration(wav, bad);
        EXPECT_EQ(wav.iDuration, 60) << bad;
    }
}
