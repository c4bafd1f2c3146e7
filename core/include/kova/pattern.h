#pragma once

// The test pattern: three 24-bit words, each held for one, two or four
// samples so that a cycle lasts the same time at every rate, produced in
// 576,000-byte blocks.

#include <cstddef>
#include <cstdint>

#include "kova/wav_data.h"

namespace kova {

// A common multiple of 9, 18 and 36, so a block always holds whole cycles.
constexpr std::size_t kBlockBytes = 576000;

constexpr std::size_t kPatternLength = 3;
constexpr std::int32_t kPatternWords[kPatternLength] = {0x000600, 0x000A00, 0x000E00};

void set_pattern_words(Wav_Data& wav);

// 1 up to 48000 Hz, 2 up to 96000 Hz, 4 above.
int repetitions_per_word(long rate);
std::size_t bytes_per_cycle(long rate);
// 64000, 32000 or 16000: the cycles that make one full block.
int cycles_per_block(long rate);

// Number of writes that carry data_size bytes: whole blocks and one shorter
// last block, so the file holds exactly the declared data.
std::uint32_t block_count(std::uint32_t data_size);
// Bytes carried by block `index` (0-based) of those.
std::size_t block_bytes(std::uint32_t data_size, std::uint32_t index);

// Writes `cycles` cycles of the pattern from buffer[offset]; returns the
// offset after the last byte written. Reads the words and the rate from wav.
std::size_t fill_block(const Wav_Data& wav, unsigned char* buffer, int cycles, std::size_t offset = 0);

}  // namespace kova
