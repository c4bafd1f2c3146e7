#pragma once

// kova-check's two ways of saying what it found: a short block of text per
// file, or one JSON object per file on one line.

#include <string>

#include "check_outcome.h"
#include "check_reader.h"

namespace kova::cli {

std::string text_report(const std::string& name, const Capture& capture, const Expectations& expect);
std::string json_report(const std::string& name, const Capture& capture, const Expectations& expect);

// "44.1 kHz", "22.05 kHz", "8 kHz"
std::string rate_text(long rate);
// Seconds to the millisecond, without trailing zeros: "0.5", "10.512", "3".
std::string seconds_text(double seconds);

}  // namespace kova::cli
