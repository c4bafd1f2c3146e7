#include "kova/analysis/report.h"

#include <cstdlib>

#include "kova/settings.h"

namespace kova::analysis {

std::vector<std::string> verdict_names(const Channel_Report& r)
{
    if (!r.present)
        return {"absent"};
    std::vector<std::string> names;
    if (r.inverted)
        names.emplace_back("inverted");
    if (r.gain)
        names.emplace_back("gain");
    if (r.offset)
        names.emplace_back("offset");
    if (r.dropouts)
        names.emplace_back("dropouts");
    if (r.altered)
        names.emplace_back("altered");
    if (names.empty())
        names.emplace_back("bit-perfect");
    return names;
}

Duration_Match match_duration(std::uint64_t samples, long rate)
{
    Duration_Match m;
    long long best = -1;
    for (const auto& d : kDurations) {
        const long long expected = static_cast<long long>(rate) * d.seconds;
        const long long diff = static_cast<long long>(samples) - expected;
        if (diff == 0)
            m.seconds = d.seconds;
        if (best < 0 || std::llabs(diff) < best) {
            best = std::llabs(diff);
            m.nearest_seconds = d.seconds;
            m.difference = diff;
        }
    }
    return m;
}

}  // namespace kova::analysis
