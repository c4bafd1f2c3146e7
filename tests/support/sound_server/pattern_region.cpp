#include "pattern_region.h"

Region pattern_region(const std::vector<float>& samples, int channels, int channel)
{
    const auto c = static_cast<std::size_t>(channels);
    const std::size_t frames = samples.size() / c;
    auto at = [&](std::size_t f) { return samples[f * c + static_cast<std::size_t>(channel)]; };
    std::size_t first = frames, last = 0;
    for (std::size_t f = 0; f < frames; ++f)
        if (at(f) != 0.0f) {
            if (first == frames)
                first = f;
            last = f;
        }
    Region out;
    if (first == frames)
        return out;
    out.length = last - first + 1;
    for (std::size_t k = 0; k < out.length; ++k)
        if (at(first + k) != kPatternSamples[k % 3]) {
            out.first_wrong = static_cast<long long>(k);
            break;
        }
    return out;
}
