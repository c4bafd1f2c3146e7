#include "kova/live/sample_encoding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "kova/live/samples.h"

using kova::live::decode_samples;
using kova::live::encode_samples;
using kova::live::Sample_Encoding;
using kova::live::sample_to_word;

namespace {

std::vector<unsigned char> encode(const std::vector<float>& samples, Sample_Encoding encoding)
{
    std::vector<unsigned char> bytes(samples.size() * kova::live::sample_bytes(encoding));
    encode_samples(samples.data(), samples.size(), encoding, bytes.data());
    return bytes;
}

std::vector<float> decode(const std::vector<unsigned char>& bytes, Sample_Encoding encoding)
{
    std::vector<float> samples(bytes.size() / kova::live::sample_bytes(encoding));
    decode_samples(bytes.data(), samples.size(), encoding, samples.data());
    return samples;
}

// 0x000600 / 2^23 = 3 / 2^14, and its negative; full scale both ways.
const std::vector<float> kSamples = {3.0f / 16384.0f, -3.0f / 16384.0f, 1.0f, -1.0f};

}  // namespace

// A word w is w * 2^8 in 32 bits and w itself in 24, little-endian;
// +1.0 is one step past the top, so it becomes the largest value.
TEST(Sample_Encoding, WordsBecomeTheirIntegersExactly)
{
    EXPECT_EQ(
        encode(kSamples, Sample_Encoding::int32),
        (std::vector<unsigned char>{0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0xFA, 0xFF,  // 0x00060000, 0xFFFA0000
                                    0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x80}));
    EXPECT_EQ(encode(kSamples, Sample_Encoding::int24),
              (std::vector<unsigned char>{0x00, 0x06, 0x00, 0x00, 0xFA, 0xFF,  // 0x000600, 0xFFFA00
                                          0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80}));
    // Back: every word as it left. The top 0x7FFFFF is 1 - 2^-23; 0x7FFFFFFF
    // lies above the top word, and comes back as 1 - 2^-24, between it and 1.
    EXPECT_EQ(decode(encode(kSamples, Sample_Encoding::int32), Sample_Encoding::int32),
              (std::vector<float>{3.0f / 16384.0f, -3.0f / 16384.0f, 16777215.0f / 16777216.0f, -1.0f}));
    EXPECT_EQ(decode(encode(kSamples, Sample_Encoding::int24), Sample_Encoding::int24),
              (std::vector<float>{3.0f / 16384.0f, -3.0f / 16384.0f, 8388607.0f / 8388608.0f, -1.0f}));
    EXPECT_EQ(decode(encode(kSamples, Sample_Encoding::float32), Sample_Encoding::float32), kSamples);
}

// 0x7FFFFF01 / 2^31 = 1 - 255 / 2^31 lies between the words 0x7FFFFE and
// 0x7FFFFF, and the float nearest it is 1 - 2^-23, the upper one. It must
// arrive as 1 - 2^-24 instead, halfway between them. The same below:
// 0x80000001 is nearest -1.0, the word -0x800000, and arrives as -1 + 2^-24.
TEST(Sample_Encoding, A32BitSampleBetweenWordsNeverDecodesToOne)
{
    const std::vector<unsigned char> bytes = {0x01, 0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x00, 0x80};
    const auto samples = decode(bytes, Sample_Encoding::int32);
    EXPECT_EQ(samples[0], 16777215.0f / 16777216.0f);
    EXPECT_EQ(samples[1], -16777215.0f / 16777216.0f);
    EXPECT_FALSE(sample_to_word(samples[0]));
    EXPECT_FALSE(sample_to_word(samples[1]));
    // Where the float is exact it is left alone: 0x00060001 / 2^31.
    EXPECT_EQ(decode({0x01, 0x00, 0x06, 0x00}, Sample_Encoding::int32)[0], 393217.0f / 2147483648.0f);
}

TEST(Sample_Encoding, ANotANumberIsPlayedAsSilence)
{
    const std::vector<float> nan = {std::nanf("")};
    EXPECT_EQ(encode(nan, Sample_Encoding::int32), (std::vector<unsigned char>{0, 0, 0, 0}));
    EXPECT_EQ(encode(nan, Sample_Encoding::int24), (std::vector<unsigned char>{0, 0, 0}));
}
