#pragma once

// How the samples of a capture lie in memory, as its reader hands them over:
// interleaved frames of one encoding and width. The analysis decodes them
// itself, so that no conversion on the way can round a sample.

namespace kova::analysis {

enum class Encoding {
    signed_int,    // two's complement
    unsigned_int,  // offset binary (8-bit WAV)
    ieee_float,    // 4 or 8 bytes, full scale 1.0
};

struct Sample_Format {
    Encoding encoding = Encoding::signed_int;
    int bytes = 3;  // storage per sample: 1, 2, 3, 4 or 8
    // Significant bits, counted from the top of the storage: a 20-bit
    // sample in 3 bytes has 20. Floats: 32 or 64.
    int bits = 24;
    bool big_endian = false;
};

}  // namespace kova::analysis
