#pragma once

// Samples as they lie in a capture, turned into values in 24-bit steps (one
// step is one unit of a 24-bit word), and compared as they lie where only
// exactness matters.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kova/analysis/sample_format.h"

namespace kova::analysis::detail {

// One channel's samples inside interleaved frames.
struct Raw_View {
    const unsigned char* data = nullptr;
    std::size_t stride = 0;  // bytes from one sample of the channel to the next
};

class Decoder {
public:
    explicit Decoder(const Sample_Format& format);

    // Values in steps. A float that is infinite or not a number becomes NaN;
    // returns how many did.
    std::size_t decode(Raw_View raw, std::size_t count, double* out) const;
    double decode_one(const unsigned char* sample) const;
    // Integers of three bytes or fewer (whole(), whose values are whole
    // steps within 24 bits): the same values as decode gives, as integers.
    void decode_whole(Raw_View raw, std::size_t count, std::int32_t* out) const;
    bool whole() const { return !is_float_ && format_.bytes <= 3; }

    // Whether a decoded value is the word exactly, in the capture's own
    // scale: bits below the word must be zero, unless the format declares
    // fewer significant bits than it stores (24 in 32), whose rest say nothing.
    bool is_word(double value, int word) const
    {
        return word_width_ == 0.0 ? value == word : value >= word && value < word + word_width_;
    }
    // The values that count as a word run from it to it + this: 0 for
    // equality (floats, and integers whose every stored bit is significant).
    double word_width() const { return word_width_; }
    // The capture's own resolution in steps (2^(24 - bits) for integers).
    double quantum() const { return quantum_; }
    bool is_float() const { return is_float_; }
    int bytes() const { return format_.bytes; }

private:
    Sample_Format format_;
    bool is_float_;
    double quantum_;
    double word_width_;
    double scale_;  // steps per unit of the stored integer
};

// What one phase of a cycle holds, byte for byte: the capture repeats these
// exactly while a chain is deterministic (bit-perfect, or a fixed gain).
struct Raw_Table {
    int period = 0;  // samples; 0 when there is no table
    int bytes = 0;
    unsigned char value[12][8] = {};
    // The cycle laid out as a capture of it lies, from phase 0, long enough
    // that a run starting at any phase compares in one go.
    std::vector<unsigned char> laid_out;
    static constexpr std::size_t kLaidOut = 1536;  // samples: whole cycles of 1, 3, 6 and 12

    void lay_out();
    bool operator==(const Raw_Table& o) const;
};

// Samples from the start of raw that equal the table from `phase` on,
// looking at no more than count.
std::size_t match_run(const Raw_Table& table, int phase, Raw_View raw, std::size_t count);

inline bool same_sample(const unsigned char* a, const unsigned char* b, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

}  // namespace kova::analysis::detail
