#pragma once

// What kova-check says of the full signal beyond the pattern's report: the
// source file it came from, which source channel each channel carries,
// where the span lies in the source, and what became of every bit. The
// text and JSON writers call in here where a channel has the full signal.

#include <string>

#include "kova/analysis/channel_report.h"
#include "kova/report/reader.h"

namespace kova::report {

bool is_full(const Capture& capture);

// Text: a line of its own after the file's, and lines below a channel's.
std::string full_file_text(const std::string& shown, const Capture& capture);
std::string full_source_text(const analysis::Channel_Report& r, int index);
std::string full_bits_text(const analysis::Channel_Report& r);
std::string full_dropout_text(const analysis::Channel_Report& r, long rate);
std::string full_resampling_text(const analysis::Channel_Report& r, long rate);
std::string full_rate_text(const analysis::Channel_Report& r, long rate);

// JSON: the file's fields ("signal" and, for the full signal, its source),
// and a channel's.
std::string full_file_json(const Capture& capture);
std::string full_channel_json(const analysis::Channel_Report& r);

}  // namespace kova::report
