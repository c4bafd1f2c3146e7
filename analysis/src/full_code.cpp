#include "full_code.h"

#include <algorithm>
#include <cstring>

namespace kova::analysis::detail {

const Full_Code& Full_Code::get()
{
    static const Full_Code code = [] {
        Full_Code c;
        c.bits = full::code_bits();
        c.low_.assign(std::size_t{1} << full::kCodeBits, 0);
        std::uint32_t state = full::kCodeStart;
        // Only indexes whose 17 bits all lie in the table name it.
        for (std::int32_t i = 0; i + full::kCodeBits <= full::kTableLength; ++i) {
            if (i + 1 < kHigh) {
                c.low_[state] = static_cast<std::uint16_t>(i + 1);
            } else {
                c.low_[state] = kHigh;
                c.high_.emplace_back(state, i);
            }
            state = full::next_code_state(state);
        }
        std::sort(c.high_.begin(), c.high_.end());
        return c;
    }();
    return code;
}

std::int32_t Full_Code::high_index(std::uint32_t state) const
{
    const auto it = std::lower_bound(high_.begin(), high_.end(), std::make_pair(state, std::int32_t{0}));
    return it != high_.end() && it->first == state ? it->second : -1;
}

const std::int32_t* Full_Words::table(int channel, int channels, int repeat)
{
    const int key = (channels * 16 + channel) * 8 + repeat;
    auto it = tables_.find(key);
    if (it == tables_.end())
        it =
            tables_.emplace(key, full::channel_table(channel, channels, repeat, Full_Code::get().bits)).first;
    return it->second.data();
}

bool encode_word(std::int32_t word, const Sample_Format& f, unsigned char* out)
{
    std::uint64_t raw = 0;
    if (f.encoding == Encoding::ieee_float) {
        const double v = static_cast<double>(word) / 8388608.0;
        if (f.bytes == 4) {
            const float x = static_cast<float>(v);
            std::uint32_t u;
            std::memcpy(&u, &x, sizeof u);
            raw = u;
        } else if (f.bytes == 8) {
            std::memcpy(&raw, &v, sizeof raw);
        } else {
            return false;
        }
    } else {
        // The word in the top 24 bits; the rest zero, which is what a chain
        // that keeps the word writes.
        if (f.bytes < 3 || f.bytes > 4 || f.bits < 24)
            return false;
        auto v = static_cast<std::uint64_t>(static_cast<std::int64_t>(word) *
                                            (std::int64_t{1} << (8 * f.bytes - 24)));
        if (f.encoding == Encoding::unsigned_int)
            v ^= std::uint64_t{1} << (8 * f.bytes - 1);
        raw = v;
    }
    for (int i = 0; i < f.bytes; ++i) {
        const auto byte = static_cast<unsigned char>(raw >> (8 * i) & 0xFF);
        out[f.big_endian ? f.bytes - 1 - i : i] = byte;
    }
    return true;
}

}  // namespace kova::analysis::detail
