// The full signal's definition against values worked out by hand, and
// against the code and noise computed here another way (the recurrence
// itself, SplitMix64's published outputs).

#include "kova/full_signal.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "kova/full_generate.h"
#include "kova/status.h"

using namespace kova::full;

namespace {

// b[n + 17] = b[n] ^ b[n + 3] from b[0] = 1, b[1..16] = 0: the state 1 read
// bit by bit, lowest first.
std::vector<int> code_by_recurrence(std::size_t n)
{
    std::vector<int> b(n, 0);
    b[0] = 1;
    for (std::size_t i = 17; i < n; ++i) b[i] = b[i - 17] ^ b[i - 14];
    return b;
}

class Sink : public kova::Output {
public:
    std::size_t write(const unsigned char* data, std::size_t size) override
    {
        bytes.insert(bytes.end(), data, data + size);
        ++writes;
        return size;
    }
    int close() override { return kova::kOk; }
    std::vector<unsigned char> bytes;
    int writes = 0;
};

std::int32_t word_at(const std::vector<unsigned char>& file, std::size_t header, int channels, int channel,
                     std::uint64_t n)
{
    const unsigned char* p = file.data() + header + 3 * (n * channels + static_cast<unsigned>(channel - 1));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                     static_cast<std::uint32_t>(p[1]) << 16 |
                                     static_cast<std::uint32_t>(p[2]) << 24) >>
           8;
}

}  // namespace

// The code is the recurrence of x^17 + x^3 + 1 (a primitive trinomial), so
// it repeats after 2^17 - 1 bits and never sooner, and any 17 bits of it
// name where they stand.
TEST(FullSignal, CodeIsTheMaximalSequence)
{
    const auto bits = code_bits();
    const auto truth = code_by_recurrence(bits.size());
    for (std::size_t i = 0; i < bits.size(); ++i) ASSERT_EQ(bits[i], truth[i]) << i;

    std::uint32_t state = kCodeStart;
    std::uint32_t steps = 0;
    do {
        state = next_code_state(state);
        ++steps;
    } while (state != kCodeStart && steps <= kCodePeriod);
    EXPECT_EQ(steps, 131071u);
}

// SplitMix64 from seed 0 gives e220a8397b1dcdaf, 6e789e6aa1b965f4,
// 06c45d188009454f: its n-th output mixes n times the golden gamma.
TEST(FullSignal, NoiseIsSplitMix64)
{
    constexpr std::uint64_t kGamma = 0x9E3779B97F4A7C15ull;
    EXPECT_EQ(mix64(0), 0xE220A8397B1DCDAFull);
    EXPECT_EQ(mix64(kGamma), 0x6E789E6AA1B965F4ull);
    EXPECT_EQ(mix64(2 * kGamma), 0x06C45D188009454Full);
    // Channel 2 of 3 at index 5: the key 3 << 40 | 2 << 32 | 5.
    EXPECT_EQ(noise(2, 3, 5), static_cast<std::uint16_t>(mix64(0x30200000005ull) >> 48));
}

// word = 2^17 (base + b) + 2^15 + u; bases -1, 2, -1, -4.
TEST(FullSignal, WordsAndPeak)
{
    EXPECT_EQ(word_of(1, 1, 0xFFFF), 491519);  // 3 * 131072 + 32768 + 65535
    EXPECT_EQ(word_of(3, 0, 0), -491520);      // -4 * 131072 + 32768
    EXPECT_EQ(word_of(0, 0, 0x1234), -93644);  // -131072 + 32768 + 4660
    EXPECT_EQ(word_of(2, 1, 0x8000), 65536);   // 0 + 32768 + 32768
    EXPECT_EQ(kPeak, 491520);                  // 0.0586 of full scale: -24.64 dBFS
    // The pilot holds each phase 1, 2 or 4 samples.
    EXPECT_EQ(pilot_phase(5, 1), 1);
    EXPECT_EQ(pilot_phase(5, 2), 2);
    EXPECT_EQ(pilot_phase(13, 4), 3);
    EXPECT_EQ(pilot_phase(16, 4), 0);
}

// message 1 (one second, 44.1 kHz family):
//   f 0: k 0, low 0, high 0: 2048 + 2 (0 ^ 100) + bit 0 (1)     = 2249
//   f 1: 2 * stir_low(0) = 2 * 115, + bit 1 (0)                 = 230
//   f 2: k 1: 2048 + 2 (0 ^ 521) + bit 2 (0)                    = 3090
//   f 3: 2 * stir_low(1) = 2 * 696, + bit 3 (0)                 = 1392
// 48 kHz family, 600 s: message 0x8000 | 600.
//   f 10255: k 5127 (5 * 1024 + 7), odd: 2 * stir_low(7) = 2 * 86,
//            + bit 2 * 7 + 1 = 15 (1)                           = 173
//   f 10256: k 5128, low 8, high 5: stir_high(8) = 396, 5 ^ 396 = 393:
//            2048 + 786 + bit 0 of 600 (0)                      = 2834
TEST(FullSignal, SymbolsByHand)
{
    EXPECT_EQ(message(44100, 1), 1);
    EXPECT_EQ(message(192000, 3728), 0x8000 | 3728);
    EXPECT_EQ(message_seconds(0x8000 | 600), 600);
    EXPECT_EQ(message_family_rate(0x8000 | 600), 48000);
    EXPECT_EQ(message_family_rate(message(88200, 1)), 44100);

    EXPECT_EQ(symbol(0, 1), 2249);
    EXPECT_EQ(symbol(1, 1), 230);
    EXPECT_EQ(symbol(2, 1), 3090);
    EXPECT_EQ(symbol(3, 1), 1392);
    const std::uint16_t m = 0x8000 | 600;
    EXPECT_EQ(symbol(10255, m), 173);
    EXPECT_EQ(symbol(10256, m), 2834);
    EXPECT_EQ(message_bit_index(10255), 15);

    std::uint64_t f = 0;
    ASSERT_TRUE(decode_pair(173, 2834, f));
    EXPECT_EQ(f, 10255u);
    ASSERT_TRUE(decode_pair(2249, 230, f));
    EXPECT_EQ(f, 0u);
    // Two even symbols, two odd ones, or a pair before segment 0: none.
    EXPECT_FALSE(decode_pair(2249, 3090, f));
    EXPECT_FALSE(decode_pair(230, 1392, f));
    EXPECT_FALSE(decode_pair(2 * stir_low(1023), 2048 + 2 * stir_high(0), f));
    EXPECT_EQ(unstir_low(stir_low(777)), 777);
}

// Any two neighbours name the first's segment, over every segment a file
// can hold.
TEST(FullSignal, EveryPairDecodes)
{
    const std::uint16_t m = message(48000, 12345);
    int previous = symbol(0, m);
    for (std::uint64_t f = 0; f + 1 < kMaxSegments; ++f) {
        const int next = symbol(f + 1, m);
        std::uint64_t got = 0;
        ASSERT_TRUE(decode_pair(previous, next, got)) << f;
        ASSERT_EQ(got, f);
        previous = next;
    }
}

// Ten milliseconds at 44.1 kHz are 441 samples; with segments of 352, one
// of the table runs they hold is 221 samples long at least (441 = 220 +
// 221, or a whole segment), and any 221 entries hold a whole aligned 110.
// So no bit may stay put over an aligned 110: bits 0-16 follow the noise
// (per channel), 17-23 the pilot and the code (per rate class).
TEST(FullSignal, EveryBitMovesWithinTenMilliseconds)
{
    const auto code = code_bits();
    const auto check = [](const std::vector<std::int32_t>& table, std::uint32_t bits,
                          const std::string& what) {
        for (std::size_t at = 0; at + 110 <= table.size(); at += 110) {
            std::uint32_t any = 0, all = 0xFFFFFF;
            for (std::size_t i = at; i < at + 110; ++i) {
                any |= static_cast<std::uint32_t>(table[i]) & 0xFFFFFF;
                all &= static_cast<std::uint32_t>(table[i]);
            }
            ASSERT_EQ(any & bits, bits) << what << " at " << at;
            ASSERT_EQ(all & bits, 0u) << what << " at " << at;
        }
    };
    for (int channels = 1; channels <= kMaxChannels; ++channels)
        for (int c = 1; c <= channels; ++c)
            check(channel_table(c, channels, 1, code), 0x1FFFF,
                  "channel " + std::to_string(c) + " of " + std::to_string(channels));
    for (const int r : {1, 2, 4})
        check(channel_table(1, 1, r, code), 0xFE0000, "repeat " + std::to_string(r));
}

// Two channels at 48 kHz, two seconds: a plain 44-byte PCM header
// (96000 * 6 = 576000 = 0x0008CA00 data bytes), one block, and each sample
// the word its channel's table holds where its segment reads it.
TEST(FullSignal, FileHoldsTheTableWhereEachSegmentReadsIt)
{
    const Settings s{48000, 2, 2};
    Sink out;
    kova::Block_Buffer buffer;
    ASSERT_EQ(generate(s, buffer, out), kova::kOk);
    ASSERT_EQ(out.bytes.size(), 576044u);
    EXPECT_EQ(out.writes, 2);  // the header, one block of 576,000
    const std::array<unsigned char, 44> header = {
        'R', 'I', 'F', 'F', 0x24, 0xCA, 0x08, 0x00, 'W', 'A',  'V',  'E',  'f',  'm',  't',
        ' ', 16,  0,   0,   0,    1,    0,    2,    0,   0x80, 0xBB, 0x00, 0,    0,    0x65,
        4,   0,   6,   0,   24,   0,    'd',  'a',  't', 'a',  0x00, 0xCA, 0x08, 0x00,
    };
    EXPECT_TRUE(std::equal(header.begin(), header.end(), out.bytes.begin()));

    const auto b = code_by_recurrence(kTableLength);
    const std::uint16_t m = 0x8000 | 2;
    for (const std::uint64_t n : {0ull, 1ull, 351ull, 352ull, 40000ull, 95999ull})
        for (int c = 1; c <= 2; ++c) {
            const std::uint32_t i =
                static_cast<std::uint32_t>(16 * symbol(n / 352, m) + static_cast<int>(n % 352));
            const std::int32_t expected =
                131072 * (std::array<int, 4>{-1, 2, -1, -4}[(i % 4)] + b[i]) + 32768 + noise(c, 2, i);
            EXPECT_EQ(word_at(out.bytes, 44, 2, c, n), expected) << "sample " << n << " channel " << c;
        }
}

// Three channels and more: WAVE_FORMAT_EXTENSIBLE, 68 bytes ahead of the
// data. Past a signed 32-bit RIFF size: RF64, its sizes in ds64.
//   2 ch at 192 kHz: RIFF size 36 + 1,152,000 s; 1864 s fit
//   (2,147,328,036), 1865 s do not: data 2,148,480,000, header
//   12 + 36 + 24 + 8 = 80, RIFF size 2,148,480,072.
TEST(FullSignal, HeadersAndTheTurnToRf64)
{
    const Settings three{44100, 1, 3};
    EXPECT_EQ(header_size(three), 68u);
    std::vector<unsigned char> h(header_size(three));
    serialise_header(three, h.data());
    EXPECT_EQ(std::string(h.begin() + 12, h.begin() + 16), "fmt ");
    EXPECT_EQ(h[16], 40);
    EXPECT_EQ(h[20] | h[21] << 8, 0xFFFE);
    EXPECT_EQ(h[22], 3);
    EXPECT_EQ(h[32], 9);   // block align 3 * 3
    EXPECT_EQ(h[38], 24);  // valid bits
    EXPECT_EQ(h[40], 7);   // channel mask: the first three
    EXPECT_EQ(h[44], 1);   // subformat PCM
    EXPECT_EQ(std::string(h.begin() + 60, h.begin() + 64), "data");

    EXPECT_FALSE(needs_rf64({192000, 1864, 2}));
    const Settings big{192000, 1865, 2};
    ASSERT_TRUE(needs_rf64(big));
    EXPECT_EQ(data_size(big), 2148480000u);
    EXPECT_EQ(header_size(big), 80u);
    h.assign(header_size(big), 0);
    serialise_header(big, h.data());
    const auto le = [&](std::size_t at, int bytes) {
        std::uint64_t v = 0;
        for (int k = bytes; k-- > 0;) v = v << 8 | h[at + static_cast<std::size_t>(k)];
        return v;
    };
    EXPECT_EQ(std::string(h.begin(), h.begin() + 4), "RF64");
    EXPECT_EQ(le(4, 4), 0xFFFFFFFFu);
    EXPECT_EQ(std::string(h.begin() + 12, h.begin() + 16), "ds64");
    EXPECT_EQ(le(20, 8), 2148480072u);
    EXPECT_EQ(le(28, 8), 2148480000u);
    EXPECT_EQ(le(36, 8), 192000u * 1865u);
    EXPECT_EQ(le(76, 4), 0xFFFFFFFFu);
    // Eight channels of the longest file: 17 GB, still within the code.
    EXPECT_EQ(data_size({192000, 3728, 8}), 17178624000u);
    EXPECT_LE(192000u * 3728u, kMaxSamples);
    // Blocks hold whole frames: 576,000 is no multiple of 21.
    EXPECT_EQ(block_bytes(8), 576000u);
    EXPECT_EQ(block_bytes(7), 575988u);
}
