#pragma once

// Turning kova-gen's option texts into settings. Kept apart from main() so
// the tests can reach it.

#include <optional>
#include <string>

namespace kova::cli {

// "44100" or "44.1k" (any listed rate, as number or label number with k).
std::optional<long> parse_rate(const std::string& text);

// Whole seconds, or a whole number with s, m or h: "10", "10s", "1m", "1h".
// Returns the seconds if they lie within 1 .. max_duration(rate).
std::optional<int> parse_duration(const std::string& text, long rate);

// The longest duration whose RIFF size still fits a signed 32-bit field.
int max_duration(long rate);

// kova-<rate>Hz-<seconds>s.wav
std::string default_file_name(long rate, int seconds);

}  // namespace kova::cli
