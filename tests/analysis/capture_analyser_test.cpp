// The analysis on hand-made captures whose every figure is worked out here.

#include "kova/analysis/capture_analyser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

using kova::analysis::Capture_Analyser;
using kova::analysis::Channel_Report;
using kova::analysis::Encoding;
using kova::analysis::Sample_Format;

namespace {

constexpr int kWords[3] = {0x000600, 0x000A00, 0x000E00};

// 192 kHz (each word held 4 samples, a 12-sample cycle): 500 zeros, one
// second of pattern with samples 10003..10007 deleted and sample 20000 one
// step high, then 300 zeros. Values in 24-bit steps.
std::vector<int> capture()
{
    std::vector<int> v(500, 0);
    for (int i = 0; i < 192000; ++i) {
        if (i >= 10003 && i < 10008)
            continue;
        v.push_back(kWords[(i % 12) / 4] + (i == 20000 ? 1 : 0));
    }
    v.insert(v.end(), 300, 0);
    return v;
}

// Worked out by hand. Pattern sample 10003 has phase 7 (the second word);
// 10008, which follows it, has phase 0: the cycle breaks at 500 + 10003
// and skips 5. The span holds 191995 samples, 500 to 192494; with the 5
// lost it is the whole second, so the 5 are exact.
void expect_report(const Channel_Report& r)
{
    EXPECT_TRUE(r.present);
    EXPECT_EQ(r.first, 500u);
    EXPECT_EQ(r.last, 192494u);
    EXPECT_EQ(r.repeat, 4);
    EXPECT_TRUE(r.repeat_fits);
    EXPECT_TRUE(r.dropouts);
    EXPECT_TRUE(r.altered);
    EXPECT_FALSE(r.gain || r.offset || r.inverted || r.incomplete || r.resampled);
    EXPECT_EQ(r.dropout_count, 1u);
    ASSERT_EQ(r.first_dropouts.size(), 1u);
    EXPECT_EQ(r.first_dropouts[0].position, 10503u);
    EXPECT_EQ(r.first_dropouts[0].foreign, 0u);
    EXPECT_EQ(r.first_dropouts[0].skipped, 5);
    EXPECT_EQ(r.first_dropouts[0].lost, 5u);
    EXPECT_TRUE(r.first_dropouts[0].lost_exact);
    EXPECT_EQ(r.missing_start, 0u);
    EXPECT_EQ(r.missing_end, 0u);
    EXPECT_EQ(r.unplaced, 0);
    EXPECT_EQ(r.differing, 1u);
    EXPECT_EQ(r.max_difference, 1.0);
    EXPECT_NEAR(r.rms_difference, 1 / std::sqrt(191995.0), 1e-12);
    EXPECT_EQ(r.before.samples, 500u);
    EXPECT_TRUE(r.before.silent);
    EXPECT_EQ(r.after.samples, 300u);
    EXPECT_TRUE(r.after.silent);
}

template <typename T>
std::vector<Channel_Report> analyse(long rate, int channels, const Sample_Format& f,
                                    const std::vector<T>& data, std::size_t block)
{
    Capture_Analyser a(rate, channels, f);
    const std::size_t frame_bytes = static_cast<std::size_t>(channels * f.bytes);
    const std::size_t frames = data.size() * sizeof(T) / frame_bytes;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    for (std::size_t i = 0; i < frames; i += block)
        a.feed(bytes + i * frame_bytes, std::min(block, frames - i));
    return a.finish();
}

}  // namespace

// The same capture in blocks of any size, as 24-bit bytes, as one channel of
// two in 32-bit integers, or as floats, gives the same report: no state is
// lost at a block boundary, nor between channels.
TEST(CaptureAnalyser, ReportIsTheSameWhateverTheBlocks)
{
    const auto v = capture();
    std::vector<unsigned char> bytes;
    std::vector<std::int32_t> stereo;  // digital silence left, the capture right
    std::vector<float> floats;
    for (const int s : v) {
        const auto u = static_cast<std::uint32_t>(s);
        bytes.insert(bytes.end(),
                     {static_cast<unsigned char>(u & 0xFF), static_cast<unsigned char>(u >> 8 & 0xFF),
                      static_cast<unsigned char>(u >> 16 & 0xFF)});
        stereo.push_back(0);
        stereo.push_back(static_cast<std::int32_t>(u << 8));
        floats.push_back(static_cast<float>(s / 8388608.0));
    }
    for (const std::size_t block : {std::size_t{1}, std::size_t{7}, std::size_t{4096}, v.size()}) {
        SCOPED_TRACE(block);
        expect_report(analyse(192000, 1, {Encoding::signed_int, 3, 24, false}, bytes, block).at(0));
        const auto two = analyse(192000, 2, {Encoding::signed_int, 4, 32, false}, stereo, block);
        EXPECT_FALSE(two.at(0).present);
        expect_report(two.at(1));
        expect_report(analyse(192000, 1, {Encoding::ieee_float, 4, 32, false}, floats, block).at(0));
    }
}

// An integer declared 24 bits in 32 counts by those 24; a float only when it
// is exactly the word over 2^23; a float that is infinite, not a number or beyond any
// scale is a foreign sample, not a change of level.
TEST(CaptureAnalyser, ExactnessRules)
{
    std::vector<std::int32_t> ints;
    std::vector<double> floats, foreign;
    for (int i = 0; i < 44100; ++i) {
        const int w = kWords[i % 3];
        // Low byte set below the 24 bits: still the word.
        ints.push_back(static_cast<std::int32_t>(static_cast<std::uint32_t>(w) << 8 | 0x7F));
        // A quarter step off: no longer the word.
        floats.push_back((w + (i == 100 ? 0.25 : 0.0)) / 8388608.0);
        foreign.push_back(w / 8388608.0);
    }
    foreign[1000] = std::numeric_limits<double>::max();
    foreign[2000] = std::numeric_limits<double>::infinity();
    foreign[3000] = std::numeric_limits<double>::quiet_NaN();

    // 24 significant bits in 32, yet the low byte set: still read by the
    // top 24 bits, and never past the block.
    const auto ri = analyse(44100, 1, {Encoding::signed_int, 4, 24, false}, ints, 4096).at(0);
    EXPECT_TRUE(ri.bit_perfect());
    EXPECT_EQ(ri.whole_seconds, 1);

    const auto rf = analyse(44100, 1, {Encoding::ieee_float, 8, 64, false}, floats, 4096).at(0);
    EXPECT_EQ(kova::analysis::verdict_names(rf), std::vector<std::string>{"altered"});
    EXPECT_EQ(rf.differing, 1u);
    EXPECT_EQ(rf.max_difference, 0.25);

    // Three samples changed in place, each alone in its cycle: altered,
    // never inverted or a gain, and the rest still exact.
    const auto rx = analyse(44100, 1, {Encoding::ieee_float, 8, 64, false}, foreign, 4096).at(0);
    EXPECT_EQ(kova::analysis::verdict_names(rx), std::vector<std::string>{"altered"});
    EXPECT_EQ(rx.differing, 3u);
    EXPECT_EQ(rx.nonfinite, 3u);
    EXPECT_EQ(rx.first, 0u);
    EXPECT_EQ(rx.last, 44099u);
}
