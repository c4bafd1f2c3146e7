#include "kova/sizes.h"

namespace kova {

std::uint32_t data_size(std::int32_t sample_count)
{
    return static_cast<std::uint32_t>(sample_count) * static_cast<std::uint32_t>(kBytesPerSample);
}

std::uint64_t file_size(long rate, int seconds)
{
    return kHeaderBytes +
           static_cast<std::uint64_t>(rate) * static_cast<std::uint64_t>(seconds) * kBytesPerSample;
}

int max_duration(long rate)
{
    return static_cast<int>((INT32_MAX - kRiffOverhead) /
                            (static_cast<std::int64_t>(rate) * kBytesPerSample));
}

}  // namespace kova
