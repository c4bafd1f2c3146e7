#pragma once

// Writing the full signal: its header (WAV, WAVE_FORMAT_EXTENSIBLE from three
// channels, RF64 past the 2 GB a RIFF size holds) and its data, block by
// block through the same output as the pattern.

#include <cstddef>
#include <cstdint>

#include "kova/generate.h"
#include "kova/output.h"

namespace kova::full {

struct Settings {
    long rate = 44100;
    int seconds = 1;
    int channels = 1;
};

std::uint64_t sample_count(const Settings& s);  // per channel
std::uint64_t data_size(const Settings& s);
// Past a RIFF size that fits a signed 32-bit field, as players read it.
bool needs_rf64(const Settings& s);
std::size_t header_size(const Settings& s);
std::uint64_t file_size(const Settings& s);
// Writes header_size(s) bytes.
void serialise_header(const Settings& s, unsigned char* out);

// Bytes per write: 576,000 where that holds whole frames, else the whole
// frames below it.
std::size_t block_bytes(int channels);

// Writes one complete file and closes the output: kOk, kFatal (the header
// write was short), kNoMemory or kWriteFailed, as kova::generate.
int generate(const Settings& s, Block_Buffer& buffer, Output& out);

}  // namespace kova::full
