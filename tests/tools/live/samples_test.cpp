#include "kova/live/samples.h"

#include <gtest/gtest.h>

#include <limits>

using kova::live::sample_to_word;
using kova::live::word_to_sample;

// 0x600, 0xA00 and 0xE00 over 2^23 are 3, 5 and 7 over 2^14.
TEST(Samples, PatternWordsTravelAsExactFloats)
{
    EXPECT_EQ(word_to_sample(0x000600), 3.0f / 16384.0f);
    EXPECT_EQ(word_to_sample(0x000A00), 5.0f / 16384.0f);
    EXPECT_EQ(word_to_sample(0x000E00), 7.0f / 16384.0f);
    EXPECT_EQ(sample_to_word(7.0f / 16384.0f), 0x000E00);
    // The ends of the 24-bit range.
    EXPECT_EQ(sample_to_word(-1.0f), -8388608);
    EXPECT_EQ(sample_to_word(8388607.0f / 8388608.0f), 8388607);
    EXPECT_EQ(word_to_sample(-8388608), -1.0f);
}

TEST(Samples, ASampleBetweenWordsOrOutsideThemIsNoWord)
{
    EXPECT_FALSE(sample_to_word(3.5f / 8388608.0f));  // half a 24-bit step
    EXPECT_FALSE(sample_to_word(1.0f));               // 2^23: one past the top
    EXPECT_FALSE(sample_to_word(std::numeric_limits<float>::quiet_NaN()));
    EXPECT_FALSE(sample_to_word(-std::numeric_limits<float>::infinity()));
}
