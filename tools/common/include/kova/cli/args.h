#pragma once

// Turning the commands' option texts into settings, and the texts that name
// the choices. Kept apart from main() so the tests can reach it.
//
// The parsers answer std::optional: a text that names no rate or duration
// has no reason to give beyond that; the messages below say what was
// wanted instead.

#include <optional>
#include <string>

namespace kova::cli {

// "44100" or "44.1k" (any listed rate, as number or label number with k).
std::optional<long> parse_rate(const std::string& text);

// Every rate of the core's table as a number: "44100, 48000, ..., 192000".
std::string rate_choices();
// The first and last rate as the label's number with k: "44.1k ... 192k".
std::string rate_label_range();

// Whole seconds, or a whole number with s, m or h: "10", "10s", "1m", "1h".
// Returns the seconds if they lie within 1 .. max_duration(rate).
std::optional<int> parse_duration(const std::string& text, long rate);

// The longest duration whose RIFF size still fits a signed 32-bit field.
int max_duration(long rate);

// "unknown rate 'TEXT' (one of 44100, ..., 192000, or 44.1k ... 192k)"
std::string unknown_rate(const std::string& text);
// "bad duration 'TEXT' (whole seconds from 1 to N at RATE Hz, or a number
// with s, m or h)"
std::string bad_duration(const std::string& text, long rate);

// kova-<rate>Hz-<seconds>s.wav
std::string default_file_name(long rate, int seconds);

}  // namespace kova::cli
