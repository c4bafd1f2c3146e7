#include "kova/report/outcome.h"

namespace kova::report {

void apply_expectations(Capture& capture, const Expectations& expect)
{
    if (!expect.seconds)
        return;
    for (auto& ch : capture.channels) analysis::judge_length(ch, capture.format.rate, *expect.seconds);
}

bool rate_as_expected(const Capture& capture, const Expectations& expect)
{
    return !expect.rate || *expect.rate == capture.format.rate;
}

bool duration_as_expected(const analysis::Channel_Report& channel, const Expectations& expect)
{
    return !expect.seconds || (channel.whole_seconds && *channel.whole_seconds == *expect.seconds);
}

bool channel_passes(const analysis::Channel_Report& r, const Expectations& expect)
{
    if (!r.present)
        return true;
    if (r.bit_perfect())
        return duration_as_expected(r, expect);
    const bool only_cut = r.incomplete && !r.inverted && !r.gain && !r.offset && !r.dropouts && !r.altered &&
                          !r.resampled && !r.truncated && !r.channels && r.repeat_fits;
    return expect.partial_ok && only_cut;
}

bool passes(const Capture& capture, const Expectations& expect)
{
    bool any = false;
    for (const auto& ch : capture.channels) {
        if (!ch.present)
            continue;
        any = true;
        if (!channel_passes(ch, expect))
            return false;
    }
    return any && rate_as_expected(capture, expect);
}

}  // namespace kova::report
