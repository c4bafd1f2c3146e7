#include "kova/live/sample_encoding.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace kova::live {

namespace {

// 2^31 and 2^23: scaling by a power of two is exact.
constexpr double kScale32 = 2147483648.0;
constexpr double kScale24 = 8388608.0;

std::int32_t to_int(float sample, double scale)
{
    const double scaled = std::nearbyint(static_cast<double>(sample) * scale);
    // Also NaN, which no comparison passes: it becomes silence.
    if (scaled >= scale - 1.0)
        return static_cast<std::int32_t>(scale - 1.0);
    if (scaled <= -scale)
        return static_cast<std::int32_t>(-scale);
    return scaled == scaled ? static_cast<std::int32_t>(scaled) : 0;
}

void put_le(std::uint32_t value, unsigned char* to, std::size_t bytes)
{
    for (std::size_t b = 0; b < bytes; ++b) to[b] = static_cast<unsigned char>(value >> (8 * b));
}

std::uint32_t get_le(const unsigned char* from, std::size_t bytes)
{
    std::uint32_t value = 0;
    for (std::size_t b = 0; b < bytes; ++b) value |= static_cast<std::uint32_t>(from[b]) << (8 * b);
    return value;
}

float from_int32(std::int32_t value)
{
    const double exact = static_cast<double>(value) / kScale32;  // a double holds it exactly
    const float sample = static_cast<float>(exact);
    // Below a word's grid: rounding to a float may have landed on a word,
    // which the chain did not deliver. One step towards the true value lies
    // strictly between the two words, as floats below 1 are twice as fine.
    const double as_word = static_cast<double>(sample) * kScale24;
    if ((value & 0xFF) == 0 || as_word != std::trunc(as_word))
        return sample;
    return std::nextafter(sample, exact > static_cast<double>(sample) ? 2.0f : -2.0f);
}

}  // namespace

std::size_t sample_bytes(Sample_Encoding encoding)
{
    return encoding == Sample_Encoding::int24 ? 3 : 4;
}

const char* encoding_name(Sample_Encoding encoding)
{
    switch (encoding) {
        case Sample_Encoding::float32:
            return "32-bit float";
        case Sample_Encoding::int32:
            return "32-bit int";
        case Sample_Encoding::int24:
            return "24-bit int";
    }
    return "?";
}

void encode_samples(const float* from, std::size_t count, Sample_Encoding encoding, unsigned char* to)
{
    switch (encoding) {
        case Sample_Encoding::float32:
            std::memcpy(to, from, count * sizeof(float));
            return;
        case Sample_Encoding::int32:
            for (std::size_t i = 0; i < count; ++i, to += 4)
                put_le(static_cast<std::uint32_t>(to_int(from[i], kScale32)), to, 4);
            return;
        case Sample_Encoding::int24:
            for (std::size_t i = 0; i < count; ++i, to += 3)
                put_le(static_cast<std::uint32_t>(to_int(from[i], kScale24)), to, 3);
            return;
    }
}

void decode_samples(const unsigned char* from, std::size_t count, Sample_Encoding encoding, float* to)
{
    switch (encoding) {
        case Sample_Encoding::float32:
            std::memcpy(to, from, count * sizeof(float));
            return;
        case Sample_Encoding::int32:
            for (std::size_t i = 0; i < count; ++i, from += 4)
                to[i] = from_int32(static_cast<std::int32_t>(get_le(from, 4)));
            return;
        case Sample_Encoding::int24:
            for (std::size_t i = 0; i < count; ++i, from += 3) {
                // Sign-extended from bit 23; the word itself, exactly.
                const std::uint32_t raw = get_le(from, 3);
                const std::int32_t word = static_cast<std::int32_t>(raw ^ 0x800000u) - 0x800000;
                to[i] = static_cast<float>(static_cast<double>(word) / kScale24);
            }
            return;
    }
}

}  // namespace kova::live
