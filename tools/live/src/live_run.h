#pragma once

// What kova-check --listen and kova-loop share while they run: their exit
// statuses, how long they let a capture go quiet, and how they print the
// report.

#include <cstdint>
#include <string>

#include "kova/live/capture.h"

namespace kova::live {

constexpr int kPass = 0;
constexpr int kFail = 1;
constexpr int kCannot = 2;
// Seconds of audio the ring holds between the callback and the analysis:
// far more than the analysis ever lags, even while it makes a report.
constexpr long kRingSeconds = 2;
// How often the main thread looks up from waiting for a signal.
constexpr int kPollMs = 100;
// A stream that has brought nothing for this long has lost its device or
// server (longer than any buffer a host asks for).
constexpr int kStallMs = 5000;

// "1.234 s"
std::string seconds_at(std::uint64_t frames, long rate);

// The line a run ends with when this machine lost samples: where and why,
// and up to where the report goes (`kept` frames, short of the buffers that
// may hold the gap).
std::string loss_line(const Capture_Loss& loss, std::uint64_t kept, long rate, const std::string& program);

// Writes the text to standard output and flushes it; false with errno set
// when it did not all get there.
bool write_report(const std::string& text);

}  // namespace kova::live
