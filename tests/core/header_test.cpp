#include "kova/header.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "kova/settings.h"
#include "kova/status.h"

using namespace kova;

namespace {

using Bytes = std::array<unsigned char, kHeaderBytes>;

Bytes header_for(long rate, int seconds)
{
    Wav_Data wav{};
    wav.Format.dwSamplesPerSec = rate;
    wav.iDuration = seconds;
    EXPECT_EQ(build_header(wav, sample_count(wav)), kOk);
    Bytes out{};
    serialise_header(wav, out.data());
    return out;
}

}  // namespace

TEST(Header, DefaultsSerialiseToTheseBytes)
{
    const Bytes expected = {
        'R',  'I',  'F',  'F',  0xF0, 0x04, 0x02, 0x00, 'W',  'A',  'V',  'E',  'f',  'm',  't',
        ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x44, 0xAC, 0x00, 0x00, 0xCC, 0x04,
        0x02, 0x00, 0x03, 0x00, 0x18, 0x00, 'd',  'a',  't',  'a',  0xCC, 0x04, 0x02, 0x00,
    };
    EXPECT_EQ(header_for(44100, 1), expected);
}

TEST(Header, LargestSettingSizesAreLittleEndian)
{
    const Bytes expected = {
        'R',  'I',  'F',  'F',  0x24, 0xA0, 0x98, 0x7B, 'W',  'A',  'V',  'E',  'f',  'm',  't',
        ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0xEE, 0x02, 0x00, 0x00, 0xCA,
        0x08, 0x00, 0x03, 0x00, 0x18, 0x00, 'd',  'a',  't',  'a',  0x00, 0xA0, 0x98, 0x7B,
    };
    EXPECT_EQ(header_for(192000, 3600), expected);
}

TEST(Header, FieldsFollowFromRateAndCount)
{
    Wav_Data wav{};
    wav.Format.dwSamplesPerSec = 96000;
    wav.iDuration = 10;
    ASSERT_EQ(build_header(wav, sample_count(wav)), kOk);
    EXPECT_EQ(wav.Riff.lChunkSize, 4);
    EXPECT_EQ(wav.Format.lChunkSize, 16);
    EXPECT_EQ(wav.Format.dwAvgBytesPerSec, 288000);
    EXPECT_EQ(wav.Data.lChunkSize, 2880000);
    EXPECT_EQ(wav.Riff.dwFileSize, 2880036);
    EXPECT_STREQ(wav.Riff.cChunkId, "RIFF");
    EXPECT_STREQ(wav.Riff.cRiffType, "WAVE");
    EXPECT_STREQ(wav.Format.cChunkId, "fmt ");
    EXPECT_STREQ(wav.Data.cChunkId, "data");
    // The builder leaves the rate and the format name alone.
    EXPECT_EQ(wav.Format.dwSamplesPerSec, 96000);
    EXPECT_EQ(wav.Format.szFormatTag[0], 0);
}

TEST(Header, RebuildLeavesNothingOfTheLastFile)
{
    Wav_Data wav{};
    wav.Format.dwSamplesPerSec = 192000;
    wav.iDuration = 3600;
    build_header(wav, sample_count(wav));
    std::memset(wav.Riff.cChunkId, 'x', sizeof wav.Riff.cChunkId);
    select_sample_rate(wav, 3);
    select_duration(wav, 1);
    build_header(wav, sample_count(wav));
    Bytes first{};
    serialise_header(wav, first.data());
    build_header(wav, sample_count(wav));
    Bytes second{};
    serialise_header(wav, second.data());
    EXPECT_EQ(first, second);
    EXPECT_EQ(first, header_for(96000, 10));
}

TEST(Header, LogSinkGetsTheTwoLines)
{
    Wav_Data wav{};
    set_defaults(wav);
    std::vector<std::string> lines;
    build_header(wav, sample_count(wav), [&](const char* line) { lines.emplace_back(line); });
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Initializing Header...\n");
    EXPECT_EQ(lines[1], "Riff file size: 132336\n");
}

TEST(Header, AllThirtySettingsDeclarePcmMono24)
{
    for (const auto& r : kRates) {
        for (const auto& d : kDurations) {
            const Bytes h = header_for(r.rate, d.seconds);
            const std::uint32_t data = static_cast<std::uint32_t>(r.rate) * d.seconds * 3u;
            auto u32 = [&](int at) {
                return std::uint32_t(h[at]) | std::uint32_t(h[at + 1]) << 8 | std::uint32_t(h[at + 2]) << 16 |
                       std::uint32_t(h[at + 3]) << 24;
            };
            SCOPED_TRACE(std::string(r.label) + " " + d.label);
            EXPECT_EQ(u32(4), data + 36);
            EXPECT_EQ(u32(24), static_cast<std::uint32_t>(r.rate));
            EXPECT_EQ(u32(28), static_cast<std::uint32_t>(r.rate) * 3u);
            EXPECT_EQ(u32(40), data);
            EXPECT_LT(u32(4), 0x80000000u);
            EXPECT_EQ(h[20], 1);
            EXPECT_EQ(h[22], 1);
            EXPECT_EQ(h[32], 3);
            EXPECT_EQ(h[34], 24);
        }
    }
}
