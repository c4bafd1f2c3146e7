#pragma once

// kova-check's two ways of saying what it found: a short block of text per
// file (check_text_report.cpp), or one JSON object per file on one line
// (check_json_report.cpp).

#include <string>

#include "check_outcome.h"
#include "check_reader.h"

namespace kova::cli {

std::string text_report(const std::string& name, const Capture& capture, const Expectations& expect);
std::string json_report(const std::string& name, const Capture& capture, const Expectations& expect);

}  // namespace kova::cli
