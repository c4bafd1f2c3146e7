#pragma once

// What the full signal tells about one channel of a capture beyond what the
// pattern can: which source channel it carries, where in the source file
// its span lies, and what became of each of the words' 24 bits.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace kova::analysis {

struct Source_Weight {
    int channel = 0;  // source channel, from 1
    double weight = 0.0;
};

// How the words' low bits were lost, where the capture's samples lie on a
// coarser grid than 24 bits: cut off (rounded down), rounded to the nearest,
// or with dither (neither, but within a few steps of the grid), or with
// dither shaped away from the low frequencies (within more steps, and
// neighbouring samples' errors pulling apart).
enum class Word_Cut { none, truncated, rounded, dithered, shaped };

struct Full_Findings {
    // The file the signal came from: its channel count, and the source
    // channel this channel carries alone (0 when it carries a mix).
    int source_channels = 0;
    int source_channel = 0;
    // A mix: every source channel that is in it, with its weight.
    std::vector<Source_Weight> mix;

    // Whether the words were read at all: not where the signal came
    // resampled, and only its pilot was followed.
    bool positioned = true;
    // The span's first and last sample as positions in the source file.
    std::uint64_t first_position = 0;
    std::uint64_t last_position = 0;
    // For each dropout the report keeps: the source position the signal
    // resumed at.
    std::vector<std::uint64_t> resumed_at;
    // What the signal says of its file, once 16 segments have been seen:
    // its duration and the rate it was made at.
    std::optional<int> source_seconds;
    long source_rate = 0;  // 0 while the family is not known
    int repeat = 0;        // samples per pilot phase: 1, 2 or 4

    // The bits: samples compared with their words (those the span holds at
    // their own place), and of them how many had each bit wrong (0 lowest).
    std::uint64_t compared = 0;
    std::array<std::uint64_t, 24> bit_errors{};
    // The top bits that came through: the grid the samples lie on (24 for a
    // 24-bit chain; 16 where the lowest 8 are always zero).
    int word_bits = 24;
    Word_Cut cut = Word_Cut::none;
    // Samples finer than the 24-bit grid (a float chain after a gain).
    bool finer_than_24 = false;
};

}  // namespace kova::analysis
