#pragma once

// What kova-check --listen and kova-loop share while they run: their exit
// statuses, how long they let a capture go quiet, and how they print the
// report.

#include <string>

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

// Writes the text to standard output and flushes it; false with errno set
// when it did not all get there.
bool write_report(const std::string& text);

}  // namespace kova::live
