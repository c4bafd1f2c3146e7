#pragma once

// The samples as a device takes them, where the host hands over its own
// words instead of float32 (WASAPI): each pattern word travels exactly in
// all three, and the way back never turns a sample that is not exactly a
// 24-bit word into one.

#include <cstddef>

namespace kova::live {

enum class Sample_Encoding {
    float32,  // IEEE float, the word / 2^23
    int32,    // two's complement, the word in the top 24 bits
    int24,    // two's complement in three bytes, the word itself
};

// Bytes of one sample.
std::size_t sample_bytes(Sample_Encoding encoding);

// "32-bit float", "32-bit int", "24-bit int": as kova-check names formats.
const char* encoding_name(Sample_Encoding encoding);

// count samples, little-endian. A float sample that is a word (or any value
// on the target's grid) arrives exactly; others go to the nearest step,
// full scale at the ends.
void encode_samples(const float* from, std::size_t count, Sample_Encoding encoding, unsigned char* to);

// count samples back into floats. An int32 sample whose low 8 bits are not
// zero lies between two words: it becomes a float that lies between them
// too, the nearest there is, so that it is never taken for a word.
void decode_samples(const unsigned char* from, std::size_t count, Sample_Encoding encoding, float* to);

}  // namespace kova::live
