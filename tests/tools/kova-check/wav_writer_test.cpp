// A capture saved by kova-check --listen reads back, through kova-check's own
// reader, exactly as it was heard: as WAV, and as RF64 past the size a WAV
// can declare (here lowered to a few bytes).

#include "wav_writer.h"

#include <gtest/gtest.h>

#include <vector>

#include "kova/live/samples.h"
#include "kova/report/reader.h"
#include "scratch_dir.h"

namespace {

constexpr long kRate = 48000;

// One second of the pattern on two channels, in callback-sized blocks.
void save_one_second(kova::check::Wav_Writer& w)
{
    const std::vector<float> cycle = kova::live::pattern_cycle(kRate);
    std::vector<float> block(2 * 1000);
    for (std::size_t at = 0; at < static_cast<std::size_t>(kRate); at += 1000) {
        for (std::size_t f = 0; f < 1000; ++f)
            block[2 * f] = block[2 * f + 1] = cycle[(at + f) % cycle.size()];
        ASSERT_TRUE(w.write(block.data(), 1000));
    }
}

}  // namespace

TEST(WavWriter, ReadsBackBitPerfectAsWavAndAsRf64AndNeverReplacesAFile)
{
    kova::support::Scratch_Dir dir("kova-wav-writer");
    for (const bool rf64 : {false, true}) {
        const std::string path = dir / (rf64 ? "big.wav" : "small.wav");
        auto w =
            kova::check::Wav_Writer::create(path, kRate, 2, rf64 ? 100 : kova::check::Wav_Writer::kRiffLimit);
        ASSERT_TRUE(w) << w.error().message;
        save_one_second(*w);
        ASSERT_TRUE(w->close());

        auto read = kova::report::read_capture(path);
        ASSERT_TRUE(read) << read.error().message;
        const auto& c = *read;
        EXPECT_EQ(c.format.container, rf64 ? "RF64" : "WAVEX");
        EXPECT_EQ(c.format.sample_format, "32-bit float");
        EXPECT_EQ(c.format.rate, kRate);
        EXPECT_EQ(c.format.frames, 48000u);
        ASSERT_EQ(c.channels.size(), 2u);
        for (const auto& r : c.channels) {
            EXPECT_TRUE(r.bit_perfect());
            EXPECT_EQ(r.length(), 48000u);
        }
    }
    const auto again = kova::check::Wav_Writer::create(dir / "small.wav", kRate, 2);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().message, "cannot create " + (dir / "small.wav") + ": File exists");
}
