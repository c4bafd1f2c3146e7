#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "kova/analysis/channel_analyser.h"

using kova::analysis::Channel_Analyser;
using kova::analysis::Channel_Report;

namespace {

// 192 kHz (each word held 4 samples, a 12-sample cycle): 500 zeros, 2000
// cycles with samples 10003..10007 of the pattern deleted and sample 20000
// one step high, then 300 zeros. Values in 24-bit steps.
std::vector<int> capture()
{
    const int words[3] = {0x000600, 0x000A00, 0x000E00};
    std::vector<int> v(500, 0);
    for (int i = 0; i < 24000; ++i) {
        if (i >= 10003 && i < 10008)
            continue;
        v.push_back(words[(i % 12) / 4] + (i == 20000 ? 1 : 0));
    }
    v.insert(v.end(), 300, 0);
    return v;
}

// Worked out by hand. Pattern sample 10003 has phase 7 (the second word);
// 10008, which follows it, has phase 0: the capture breaks at 500 + 10003 and
// the cycle skips 5. The region runs from 500 to the last of the 23995
// pattern samples, 24494.
void expect_report(const Channel_Report& r)
{
    EXPECT_TRUE(r.present);
    EXPECT_EQ(r.first, 500u);
    EXPECT_EQ(r.last, 24494u);
    EXPECT_EQ(r.repeat, 4);
    EXPECT_TRUE(r.repeat_fits);
    EXPECT_FALSE(r.duration.seconds.has_value());
    EXPECT_TRUE(r.dropouts);
    EXPECT_TRUE(r.altered);
    EXPECT_FALSE(r.gain || r.offset || r.inverted);
    EXPECT_EQ(r.dropout_count, 1u);
    ASSERT_EQ(r.first_dropouts.size(), 1u);
    EXPECT_EQ(r.first_dropouts[0].position, 10503u);
    EXPECT_EQ(r.first_dropouts[0].foreign, 0u);
    EXPECT_EQ(r.first_dropouts[0].skipped, 5);
    EXPECT_EQ(r.first_dropouts[0].net(), -5);
    EXPECT_EQ(r.differing, 1u);
    EXPECT_EQ(r.max_difference, 1.0);
    EXPECT_NEAR(r.rms_difference, 1 / std::sqrt(23995.0), 1e-12);
}

}  // namespace

// The same capture in blocks of any size, as bytes, integers of any stride
// or floats, gives the same report: no state is lost at a block boundary.
TEST(ChannelAnalyser, ReportIsTheSameWhateverTheBlocks)
{
    const auto v = capture();
    std::vector<unsigned char> bytes;
    std::vector<std::int32_t> stereo;  // the capture in the right channel, noise-free zero left
    std::vector<double> floats;
    for (const int s : v) {
        const auto u = static_cast<std::uint32_t>(s);
        bytes.insert(bytes.end(), {static_cast<unsigned char>(u & 0xFF), static_cast<unsigned char>(u >> 8 & 0xFF),
                                   static_cast<unsigned char>(u >> 16 & 0xFF)});
        stereo.push_back(0);
        stereo.push_back(static_cast<std::int32_t>(u << 8));
        floats.push_back(s / 8388608.0);
    }
    const kova::analysis::Sample_Format pcm24{false, 24};
    for (const std::size_t block : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, v.size()}) {
        SCOPED_TRACE(block);
        Channel_Analyser raw(192000, pcm24), ints(192000, pcm24), flts(192000, {true, 32});
        for (std::size_t i = 0; i < v.size(); i += block) {
            const std::size_t n = std::min(block, v.size() - i);
            raw.feed_pcm24le(bytes.data() + 3 * i, n);
            ints.feed_int(stereo.data() + 2 * i + 1, n, 2);
            flts.feed_float(floats.data() + i, n);
        }
        expect_report(raw.finish());
        expect_report(ints.finish());
        expect_report(flts.finish());
    }
}

// An integer counts by its top 24 bits; a float only when it is exactly the
// word over 2^23.
TEST(ChannelAnalyser, ExactnessRules)
{
    const int words[3] = {0x000600, 0x000A00, 0x000E00};
    std::vector<std::int32_t> ints;
    std::vector<double> floats;
    for (int i = 0; i < 44100; ++i) {
        const int w = words[i % 3];
        // Low byte set below the 24 bits: still the word.
        ints.push_back(static_cast<std::int32_t>(static_cast<std::uint32_t>(w) << 8 | 0x7F));
        // A quarter step off: no longer the word.
        floats.push_back((w + (i == 100 ? 0.25 : 0.0)) / 8388608.0);
    }
    Channel_Analyser a(44100, {false, 32}), f(44100, {true, 32});
    a.feed_int(ints.data(), ints.size());
    f.feed_float(floats.data(), floats.size());
    const auto ra = a.finish(), rf = f.finish();
    EXPECT_TRUE(ra.bit_perfect());
    EXPECT_EQ(ra.duration.seconds, 1);
    EXPECT_TRUE(rf.altered);
    EXPECT_EQ(rf.differing, 1u);
    EXPECT_EQ(rf.max_difference, 0.25);
}
