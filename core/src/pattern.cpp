#include "kova/pattern.h"

#include <cstring>

#include "kova/sizes.h"

namespace kova {

void set_pattern_words(Wav_Data& wav)
{
    for (std::size_t i = 0; i < kPatternLength; ++i) wav.Data.iWavData[i] = kPatternWords[i];
}

int repetitions_per_word(long rate)
{
    // Strict comparisons: 48000 itself is low, 96000 itself is middle.
    if (rate > 96000)
        return 4;
    if (rate > 48000)
        return 2;
    return 1;
}

std::size_t bytes_per_cycle(long rate)
{
    return kPatternLength * kBytesPerSample * static_cast<std::size_t>(repetitions_per_word(rate));
}

int cycles_per_block(long rate)
{
    return static_cast<int>(kBlockBytes / bytes_per_cycle(rate));
}

std::uint32_t block_count(std::uint32_t data_size)
{
    return static_cast<std::uint32_t>((data_size + (kBlockBytes - 1)) / kBlockBytes);
}

std::size_t block_bytes(std::uint32_t data_size, std::uint32_t index)
{
    const std::size_t start = static_cast<std::size_t>(index) * kBlockBytes;
    if (start >= data_size)
        return 0;
    const std::size_t left = data_size - start;
    return left < kBlockBytes ? left : kBlockBytes;
}

std::size_t fill_block(const Wav_Data& wav, unsigned char* buffer, int cycles, std::size_t offset)
{
    if (cycles < 1)
        return offset;

    // Lay down one cycle byte by byte, then double it with memcpy: the same
    // bytes as writing every word in turn, at memory speed.
    const int reps = repetitions_per_word(wav.Format.dwSamplesPerSec);
    unsigned char* const start = buffer + offset;
    unsigned char* p = start;
    for (const std::int32_t word : wav.Data.iWavData) {
        for (int r = 0; r < reps; ++r) {
            *p++ = static_cast<unsigned char>(word & 0xFF);
            *p++ = static_cast<unsigned char>((word >> 8) & 0xFF);
            *p++ = static_cast<unsigned char>((word >> 16) & 0xFF);
        }
    }

    const std::size_t total = bytes_per_cycle(wav.Format.dwSamplesPerSec) * static_cast<std::size_t>(cycles);
    std::size_t done = static_cast<std::size_t>(p - start);
    while (done < total) {
        const std::size_t chunk = done < total - done ? done : total - done;
        std::memcpy(start + done, start, chunk);
        done += chunk;
    }
    return offset + total;
}

}  // namespace kova
