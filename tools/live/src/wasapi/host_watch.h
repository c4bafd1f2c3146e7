#pragma once

// Whether a host keeps time, from what it has moved at each look.

#include <chrono>
#include <cstdint>

namespace kova::live::wasapi::detail {

// Whether a host moves samples as the clock says it must: never behind the
// time since its first move by more than the slack, against the most it was
// ever ahead. A spell without a move is seen at the first look past the
// slack, however late this thread looks. A device's clock may differ from
// this machine's by a little, so the lag may grow that slowly without end.
class Host_Watch {
public:
    using Clock = std::chrono::steady_clock;
    // moved: frames in total by now; slack in frames. True once per slack
    // of a stall.
    bool stalled(Clock::time_point now, std::uint64_t moved, long rate, double slack);

private:
    bool started_ = false;
    Clock::time_point start_;
    Clock::time_point last_look_;
    std::uint64_t start_moved_ = 0;
    double least_lag_ = 0.0;  // frames: the lowest lag seen, let rise with the drift allowed
};

}  // namespace kova::live::wasapi::detail
