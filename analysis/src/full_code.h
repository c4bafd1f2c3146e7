#pragma once

// The full signal as the analysis reads it: which table index 17 code bits
// name, each source channel's words, and the words as a capture of them
// lies, byte for byte.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "kova/analysis/sample_format.h"
#include "kova/full_signal.h"

namespace kova::analysis::detail {

// The code's index of every 17-bit state, -1 for a state the table never
// reaches; and the code's bits. Made once per process, shared read-only.
struct Full_Code {
    std::int32_t index_of(std::uint32_t state) const
    {
        const std::uint16_t v = low_[state];
        return v != kHigh ? static_cast<std::int32_t>(v) - 1 : high_index(state);
    }
    std::vector<std::uint8_t> bits;  // kTableLength
    static const Full_Code& get();

private:
    // Index + 1 in sixteen bits, 0 for none: half the pages of a table of
    // ints, each a page fault at start. The last few indexes, which do not
    // fit, are looked up among the few states that name them.
    static constexpr std::uint16_t kHigh = 0xFFFF;
    std::int32_t high_index(std::uint32_t state) const;
    std::vector<std::uint16_t> low_;                            // 2^17
    std::vector<std::pair<std::uint32_t, std::int32_t>> high_;  // by state
};

// Where a source position reads its table, when the segment's symbol
// (with its message bit) is known.
inline std::uint32_t full_index(std::uint64_t position, int symbol)
{
    return static_cast<std::uint32_t>(full::kOffsetStep * symbol +
                                      static_cast<int>(position % full::kSegment));
}

// A source channel's words: one table per channel, channel count and
// repeat, made when first asked for.
class Full_Words {
public:
    const std::int32_t* table(int channel, int channels, int repeat);

private:
    std::map<int, std::vector<std::int32_t>> tables_;
};

// Whether bits [from, from + n) of a bitmap are all set.
inline bool all_set(const std::vector<std::uint64_t>& bits, std::size_t from, std::size_t n)
{
    std::size_t i = from;
    const std::size_t end = from + n;
    while (i < end) {
        const std::size_t word = i / 64, bit = i % 64;
        const std::size_t take = std::min<std::size_t>(64 - bit, end - i);
        const std::uint64_t mask = (take == 64 ? ~std::uint64_t{0} : ((std::uint64_t{1} << take) - 1)) << bit;
        if ((bits[word] & mask) != mask)
            return false;
        i += take;
    }
    return true;
}

// The word as a sample of this format holds it exactly, where one can:
// integers of 24 bits or more, floats. False where the format cannot.
bool encode_word(std::int32_t word, const Sample_Format& format, unsigned char* out);

}  // namespace kova::analysis::detail
