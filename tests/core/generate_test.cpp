#include "kova/generate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kova/pattern.h"
#include "kova/settings.h"
#include "kova/status.h"

using namespace kova;

namespace {

// Keeps the header and checks every data byte against the pattern as it
// streams past, so even a 2 GB file needs no memory.
class Checking_Output : public Output {
public:
    explicit Checking_Output(long rate)
    {
        const int reps = rate > 96000 ? 4 : rate > 48000 ? 2 : 1;
        for (unsigned char mid : {0x06, 0x0A, 0x0E})
            for (int r = 0; r < reps; ++r) cycle_.insert(cycle_.end(), {0x00, mid, 0x00});
    }

    std::size_t write(const unsigned char* data, std::size_t size) override
    {
        sizes.push_back(size);
        std::size_t i = 0;
        for (; i < size && total < kHeaderBytes; ++i, ++total) header.push_back(data[i]);
        if (i < size) {
            // Compare against the pattern laid out by hand from the right phase.
            const std::size_t phase = (total - kHeaderBytes) % cycle_.size();
            if (expected_.size() < phase + size - i)
                for (std::size_t k = expected_.size(); k < phase + size - i; ++k)
                    expected_.push_back(cycle_[k % cycle_.size()]);
            if (std::memcmp(data + i, expected_.data() + phase, size - i) != 0 && mismatches++ == 0)
                first_mismatch = total;
            total += size - i;
        }
        if (size)
            last_two = {size > 1 ? data[size - 2] : last_two[1], data[size - 1]};
        return size;
    }
    int close() override
    {
        ++closes;
        return kOk;
    }

    std::vector<unsigned char> header;
    std::vector<std::size_t> sizes;
    std::vector<unsigned char> last_two{0, 0};
    std::size_t total = 0, mismatches = 0, first_mismatch = 0;
    int closes = 0;

private:
    std::vector<unsigned char> cycle_, expected_;
};

// Accepts writes until write number `fail_at` (0 is the header), which then
// writes only `short_by` fewer bytes (all of them missing when short_by is 0).
class Failing_Output : public Output {
public:
    Failing_Output(int fail_at, std::size_t short_by) : fail_at_(fail_at), short_by_(short_by) {}
    std::size_t write(const unsigned char*, std::size_t size) override
    {
        if (writes++ != fail_at_)
            return size;
        return short_by_ ? size - short_by_ : 0;
    }
    int close() override
    {
        ++closes;
        return close_succeeds ? kOk : kWriteFailed;
    }
    int writes = 0;
    int closes = 0;
    bool close_succeeds = true;

private:
    int fail_at_;
    std::size_t short_by_;
};

std::uint32_t u32_at(const std::vector<unsigned char>& b, int at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

}  // namespace

TEST(Generate, WorkedFiguresHaveExactLength)
{
    struct Case {
        long rate;
        int seconds;
        std::size_t bytes;
        std::size_t writes;
    } cases[] = {
        {44100, 1, 132344, 1},
        {48000, 60, 8640044, 15},
        {192000, 1, 576044, 1},
        {96000, 3600, 1036800044, 1800},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz " + std::to_string(c.seconds) + " s");
        Wav_Data wav{};
        wav.Format.dwSamplesPerSec = c.rate;
        wav.iDuration = c.seconds;
        Block_Buffer buffer;
        Checking_Output out(c.rate);
        ASSERT_EQ(generate(wav, buffer, out), kOk);
        EXPECT_EQ(out.total, c.bytes);
        EXPECT_EQ(out.sizes.size(), c.writes + 1);
        EXPECT_EQ(out.sizes.front(), kHeaderBytes);
        EXPECT_EQ(out.mismatches, 0u) << "first at byte " << out.first_mismatch;
        EXPECT_EQ(u32_at(out.header, 4), c.bytes - 8);
        EXPECT_EQ(out.last_two, (std::vector<unsigned char>{0x0E, 0x00}));
        EXPECT_EQ(out.closes, 1);
        EXPECT_EQ(buffer.size(), kBlockBytes);
    }
}

TEST(Generate, EverySettingWritesHeaderPlusData)
{
    // The 1-hour column at 192 kHz is the largest file: 2,073,600,044 bytes.
    for (const auto& r : kRates) {
        for (const auto& d : kDurations) {
            if (d.seconds == 3600 && r.rate != 192000)
                continue;  // same code path as the other hours; keeps the run short
            SCOPED_TRACE(std::string(r.label) + " " + d.label);
            Wav_Data wav{};
            wav.Format.dwSamplesPerSec = r.rate;
            wav.iDuration = d.seconds;
            Block_Buffer buffer;
            Checking_Output out(r.rate);
            ASSERT_EQ(generate(wav, buffer, out), kOk);
            const std::size_t data = static_cast<std::size_t>(r.rate) * d.seconds * 3;
            EXPECT_EQ(out.total, kHeaderBytes + data);
            EXPECT_EQ(u32_at(out.header, 40), data);
            EXPECT_EQ(out.mismatches, 0u) << "first at byte " << out.first_mismatch;
            for (std::size_t i = 1; i + 1 < out.sizes.size(); ++i) ASSERT_EQ(out.sizes[i], kBlockBytes);
        }
    }
}

TEST(Generate, SameSettingsTwiceGiveSameBytes)
{
    Wav_Data wav{};
    set_defaults(wav);
    select_sample_rate(wav, 3);
    Block_Buffer buffer;
    Checking_Output first(96000), second(96000);
    ASSERT_EQ(generate(wav, buffer, first), kOk);
    ASSERT_EQ(generate(wav, buffer, second), kOk);
    EXPECT_EQ(first.header, second.header);
    EXPECT_EQ(first.total, second.total);
    EXPECT_EQ(second.mismatches, 0u);
}

TEST(Generate, FailedOrShortBlockWriteStopsWithWriteFailed)
{
    // 48 kHz, 1 min: header + 15 blocks. Fail the first, a middle and the last block.
    for (int at : {1, 7, 15}) {
        for (std::size_t short_by : {std::size_t{0}, std::size_t{1}}) {
            SCOPED_TRACE("write " + std::to_string(at) + " short by " + std::to_string(short_by));
            Wav_Data wav{};
            wav.Format.dwSamplesPerSec = 48000;
            wav.iDuration = 60;
            Block_Buffer buffer;
            Failing_Output out(at, short_by);
            EXPECT_EQ(generate(wav, buffer, out), kWriteFailed);
            EXPECT_EQ(out.writes, at + 1) << "kept writing after the failure";
            EXPECT_EQ(out.closes, 1);
        }
    }
}

TEST(Generate, FailedCloseIsAFailedWrite)
{
    Wav_Data wav{};
    set_defaults(wav);
    Block_Buffer buffer;
    Failing_Output out(-1, 0);
    out.close_succeeds = false;
    EXPECT_EQ(generate(wav, buffer, out), kWriteFailed);
    EXPECT_EQ(out.closes, 1);
}

TEST(Generate, ShortHeaderWriteIsFatal)
{
    Wav_Data wav{};
    set_defaults(wav);
    Block_Buffer buffer;
    Failing_Output out(0, 1);
    EXPECT_EQ(generate(wav, buffer, out), kFatal);
    EXPECT_EQ(out.writes, 1);
    EXPECT_EQ(out.closes, 1);
}

TEST(Generate, LogSinkSeesTheHeaderLines)
{
    Wav_Data wav{};
    set_defaults(wav);
    Block_Buffer buffer;
    Checking_Output out(44100);
    std::string log;
    ASSERT_EQ(generate(wav, buffer, out, [&](const char* line) { log += line; }), kOk);
    EXPECT_EQ(log, "Initializing Header...\nRiff file size: 132336\n");
}
