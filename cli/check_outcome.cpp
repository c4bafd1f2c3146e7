#include "check_outcome.h"

namespace kova::cli {

bool rate_as_expected(const Capture& capture, const Expectations& expect)
{
    return !expect.rate || *expect.rate == capture.format.rate;
}

bool duration_as_expected(const analysis::Channel_Report& channel, const Expectations& expect)
{
    return !expect.seconds || channel.duration.seconds == expect.seconds;
}

bool passes(const Capture& capture, const Expectations& expect)
{
    bool any = false;
    for (const auto& ch : capture.channels) {
        if (!ch.present)
            continue;
        any = true;
        if (!ch.bit_perfect() || !duration_as_expected(ch, expect))
            return false;
    }
    return any && rate_as_expected(capture, expect);
}

}  // namespace kova::cli
