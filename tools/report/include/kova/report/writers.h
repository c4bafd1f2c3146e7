#pragma once

// Two ways of saying what a capture held, for a file or a live run alike: a
// short block of text per capture (text_report.cpp), or one JSON object per
// capture on one line (json_report.cpp). Fields are only ever added:
// scripts rely on the ones there are.

#include <string>

#include "kova/report/outcome.h"
#include "kova/report/reader.h"

namespace kova::report {

std::string text_report(const std::string& name, const Capture& capture, const Expectations& expect);
// The object and its newline.
std::string json_report(const std::string& name, const Capture& capture, const Expectations& expect);
// The object alone, for a report that holds it.
std::string json_object(const std::string& name, const Capture& capture, const Expectations& expect);

}  // namespace kova::report
