#include "host_watch.h"

#include <algorithm>

namespace kova::live::wasapi::detail {

namespace {
// A device's clock, against this machine's: 1000 ppm, ten times what
// sound cards are built to.
constexpr double kDriftAllowed = 1e-3;

}  // namespace

bool Host_Watch::stalled(Clock::time_point now, std::uint64_t moved, long rate, double slack)
{
    const auto frames = [rate](Clock::duration d) {
        return std::chrono::duration<double>(d).count() * static_cast<double>(rate);
    };
    if (!started_) {
        started_ = true;
        start_ = last_look_ = now;
        start_moved_ = moved;
        return false;
    }
    const double lag = frames(now - start_) - static_cast<double>(moved - start_moved_);
    least_lag_ = std::min(least_lag_ + frames(now - last_look_) * kDriftAllowed, lag);
    last_look_ = now;
    if (lag - least_lag_ <= slack)
        return false;
    least_lag_ = lag;  // one stall, said once per slack it lasts
    return true;
}

}  // namespace kova::live::wasapi::detail
