#include "pattern_check.h"

#include <cstdio>

namespace kova::test {

Pattern_Run find_pattern(const std::vector<float>& samples, int channels, float gain)
{
    Pattern_Run run;
    const std::size_t c = static_cast<std::size_t>(channels);
    const std::size_t frames = samples.size() / c;
    std::size_t first = 0;
    while (first < samples.size() && samples[first] == 0.0f) ++first;
    run.first_frame = first / c;
    std::size_t f = run.first_frame;
    for (; f < frames; ++f) {
        const float word = kWords48k[(f - run.first_frame) % 3] * gain;
        bool exact = true;
        for (std::size_t ch = 0; ch < c; ++ch) exact = exact && samples[f * c + ch] == word;
        if (!exact)
            break;
    }
    run.exact_frames = f - run.first_frame;
    run.silent_after = true;
    for (std::size_t i = f * c; i < samples.size(); ++i)
        run.silent_after = run.silent_after && samples[i] == 0.0f;
    if (f < frames) {
        // The frame that broke the run, in 24-bit steps, with what follows.
        std::string text =
            "from frame " + std::to_string(f) + " (word " +
            std::to_string(static_cast<double>(kWords48k[(f - run.first_frame) % 3] * gain) * 8388608.0) +
            " expected):";
        for (std::size_t g = f; g < frames && g < f + 4; ++g) {
            text += " [";
            for (std::size_t ch = 0; ch < c; ++ch) {
                char value[32];
                std::snprintf(value, sizeof value, "%s%.6g", ch ? " " : "",
                              static_cast<double>(samples[g * c + ch]) * 8388608.0);
                text += value;
            }
            text += "]";
        }
        run.mismatch = text;
    }
    return run;
}

}  // namespace kova::test
