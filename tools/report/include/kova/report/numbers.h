#pragma once

// How the reports write their figures, in the text and the JSON alike: every
// digit a number needs, rates and times as an engineer reads them.

#include <cstdint>
#include <string>
#include <vector>

namespace kova::report {

// printf of one number, as long as it needs to be (a gain of 1e200 has
// 201 digits before the point).
std::string format(const char* fmt, double value);
// "1.500" -> "1.5", "2.000" -> "2", "-0" -> "0".
std::string strip_zeros(std::string text);
// "44.1 kHz", "22.05 kHz", "8 kHz", "1 Hz"
std::string rate_text(long rate);
// Seconds to the millisecond, without trailing zeros: "0.5", "10.512", "3".
std::string seconds_text(double seconds);
// A gain in dB to 0.01 dB, or to 0.0001 dB where that would show none
// (x1.0002 is +0.0017 dB); the text the same, with its sign.
double shown_db(double db);
std::string db_text(double db);
// "10 s", "1 min", "1 h"
std::string duration_label(long long seconds);
// "+12", "-3", "0"
std::string signed_text(long long value);
// Sample index -> seconds.
double at(std::uint64_t sample, long rate);
std::string join(const std::vector<std::string>& parts, const char* between);

}  // namespace kova::report
