#include "kova/full_signal.h"

#include "kova/pattern.h"

namespace kova::full {

std::uint32_t next_code_state(std::uint32_t state)
{
    const std::uint32_t in = (state ^ (state >> 3)) & 1;
    return (state >> 1) | in << (kCodeBits - 1);
}

int repeat(long rate)
{
    // The pattern's classes: the pilot lasts as long at every rate.
    return repetitions_per_word(rate);
}

std::uint16_t message(long rate, int seconds)
{
    const bool family48 = rate % 48000 == 0;
    return static_cast<std::uint16_t>((seconds & 0x7FFF) | (family48 ? 0x8000 : 0));
}

int message_seconds(std::uint16_t message)
{
    return message & 0x7FFF;
}

long message_family_rate(std::uint16_t message)
{
    return (message & 0x8000) != 0 ? 48000 : 44100;
}

int stir_high(int low)
{
    return (421 * low + 100) & 1023;
}

int stir_low(int low)
{
    return (581 * low + 115) & 1023;
}

int unstir_low(int stirred)
{
    constexpr int kInverse = 141;  // 581 * 141 = 81921 = 80 * 1024 + 1
    return ((stirred - 115 + 1024) * kInverse) & 1023;
}

int message_bit_index(std::uint64_t segment)
{
    const auto k = segment >> 1;
    return static_cast<int>(2 * (k & 7) + (segment & 1));
}

int symbol(std::uint64_t segment, std::uint16_t message)
{
    const auto k = static_cast<int>((segment >> 1) & 0xFFFFF);
    const int low = k & 1023;
    const int high = k >> 10;
    const int bit = (message >> message_bit_index(segment)) & 1;
    if ((segment & 1) == 0)
        return 2048 + 2 * (high ^ stir_high(low)) + bit;
    return 2 * stir_low(low) + bit;
}

bool decode_pair(int first, int second, std::uint64_t& segment)
{
    if (first < 0 || second < 0 || first >= kSymbols || second >= kSymbols)
        return false;
    if (first >= 2048 && second < 2048) {
        const int low = unstir_low(second >> 1);
        const int high = ((first - 2048) >> 1) ^ stir_high(low);
        segment = 2 * (static_cast<std::uint64_t>(high) << 10 | static_cast<std::uint64_t>(low));
        return true;
    }
    if (first < 2048 && second >= 2048) {
        const int low = unstir_low(first >> 1);
        const int next_low = (low + 1) & 1023;
        const int next_high = ((second - 2048) >> 1) ^ stir_high(next_low);
        const std::uint64_t next =
            static_cast<std::uint64_t>(next_high) << 10 | static_cast<std::uint64_t>(next_low);
        if (next == 0)
            return false;
        segment = 2 * (next - 1) + 1;
        return true;
    }
    return false;
}

std::uint64_t mix64(std::uint64_t key)
{
    std::uint64_t z = key + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint16_t noise(int channel, int channels, std::uint32_t index)
{
    const std::uint64_t key =
        static_cast<std::uint64_t>(channels) << 40 | static_cast<std::uint64_t>(channel) << 32 | index;
    return static_cast<std::uint16_t>(mix64(key) >> 48);
}

std::vector<std::uint8_t> code_bits()
{
    std::vector<std::uint8_t> bits(kTableLength);
    std::uint32_t state = kCodeStart;
    for (auto& b : bits) {
        b = static_cast<std::uint8_t>(state & 1);
        state = next_code_state(state);
    }
    return bits;
}

std::vector<std::int32_t> channel_table(int channel, int channels, int repeat,
                                        const std::vector<std::uint8_t>& code)
{
    std::vector<std::int32_t> table(kTableLength);
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(kTableLength); ++i)
        table[i] = word_of(pilot_phase(i, repeat), code[i], noise(channel, channels, i));
    return table;
}

}  // namespace kova::full
