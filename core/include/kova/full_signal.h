#pragma once

// The full signal: 24-bit words in which every bit moves, each channel its
// own, and every sample's place in the file written into the words
// themselves. The README's "The full signal" gives the same definition in
// words; a checker can be written from either.
//
// A sample is the word a table holds at an index:
//   word = 2^17 * (base[q] + b) + 2^15 + u
// where q is the pilot's phase, b a bit of a maximal-length sequence (the
// code, the same in every channel) and u 16 bits of noise of the channel's
// own. The file is cut into segments of 352 samples; segment f reads the
// table from index 16 * symbol(f) on, and two neighbouring symbols give f.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kova::full {

constexpr int kMaxChannels = 8;

// Segments and where they read the table.
constexpr int kSegment = 352;
constexpr int kOffsetStep = 16;  // a whole number of pilot cycles at every rate
constexpr int kSymbols = 4096;
constexpr int kTableLength = kOffsetStep * (kSymbols - 1) + kSegment;  // 65872

// The word's fields.
constexpr std::int32_t kLevelStep = std::int32_t{1} << 17;
constexpr std::int32_t kNoiseBase = std::int32_t{1} << 15;
constexpr std::int32_t kNoiseSpan = std::int32_t{1} << 16;
// The pilot's base level per phase; b adds one. Centred on 0, +3, 0, -3
// level steps: a tone at a quarter of the rate (one sample per phase).
constexpr int kPilotBase[4] = {-1, 2, -1, -4};
// The largest magnitude a word has: 4 * 2^17 - 2^15, -24.6 dBFS.
constexpr std::int32_t kPeak = 4 * kLevelStep - kNoiseBase;

// The code: b[i] = bit 0 of the state before step i; the state shifts
// right and takes bit0 ^ bit3 in at bit 16 (x^17 + x^3 + 1), from 1. Its
// 17-bit windows b[i..i+16] read as a number are the state at i, so each
// names its index.
constexpr int kCodeBits = 17;
constexpr std::uint32_t kCodeStart = 1;
constexpr std::uint32_t kCodePeriod = (std::uint32_t{1} << kCodeBits) - 1;
std::uint32_t next_code_state(std::uint32_t state);

// Segments a file can hold: the symbols carry 20 bits of pair number.
constexpr std::uint64_t kMaxSegments = std::uint64_t{1} << 21;
constexpr std::uint64_t kMaxSamples = kMaxSegments * kSegment;  // 738,197,504

// Samples per pilot phase: 1 up to 48 kHz, 2 up to 96 kHz, 4 above.
int repeat(long rate);
// Phase of the pilot at sample n (or table index n): 0..3.
inline int pilot_phase(std::uint64_t n, int repeat)
{
    return static_cast<int>((n / static_cast<std::uint64_t>(repeat)) % 4);
}

// What the symbols carry besides the position, 16 bits: the duration in
// whole seconds (bits 0-14) and the rate family (bit 15: the 48 kHz one).
std::uint16_t message(long rate, int seconds);
int message_seconds(std::uint16_t message);
long message_family_rate(std::uint16_t message);  // 44100 or 48000

// The 10-bit maps that stir the pair number into the symbols.
int stir_high(int low);  // (421 * low + 100) mod 1024
int stir_low(int low);   // (581 * low + 115) mod 1024, one to one
int unstir_low(int stirred);

// The symbol of segment f (0 .. 4095); even segments have symbols from
// 2048 up, odd ones below.
int symbol(std::uint64_t segment, std::uint16_t message);
// The bit of the message a segment's symbol carries in its lowest bit.
int message_bit_index(std::uint64_t segment);
// Which segment the first of two neighbouring symbols belongs to; false
// where no two neighbours have them.
bool decode_pair(int first, int second, std::uint64_t& segment);

// The channel's noise at a table index: the top 16 bits of SplitMix64's
// mixing of N << 40 | c << 32 | index (c from 1 to N channels).
std::uint16_t noise(int channel, int channels, std::uint32_t index);
std::uint64_t mix64(std::uint64_t key);

// The code's bits over the table, one byte each.
std::vector<std::uint8_t> code_bits();

// One channel's table: kTableLength words.
std::vector<std::int32_t> channel_table(int channel, int channels, int repeat,
                                        const std::vector<std::uint8_t>& code);

// A word from its parts.
inline std::int32_t word_of(int pilot_phase, int code_bit, std::uint16_t noise)
{
    return kLevelStep * (kPilotBase[pilot_phase] + code_bit) + kNoiseBase + noise;
}

// Where sample n reads its channel's table.
inline std::uint32_t table_index(std::uint64_t n, std::uint16_t message)
{
    const std::uint64_t f = n / kSegment;
    return static_cast<std::uint32_t>(kOffsetStep * symbol(f, message) + static_cast<int>(n % kSegment));
}

}  // namespace kova::full
