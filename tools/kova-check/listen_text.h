#pragma once

// What a live listen shows while it runs: one line per finding, and the
// status line that stands for the report so far.

#include <cstdint>
#include <string>
#include <vector>

#include "kova/analysis/channel_report.h"
#include "kova/analysis/events.h"

namespace kova::check {

// "  12.345 s  ch1  dropout: 12001 samples inserted, 1 skipped"
std::string event_line(const analysis::Event& event, long rate);

// "waiting", or "locked"/"lost" and each channel's verdicts so far. A span
// still arriving is not yet short of its run: "incomplete" is left out
// until the pattern has stopped.
std::string status_text(const std::string& device, long rate, std::uint64_t frames,
                        const std::vector<analysis::Channel_Report>& so_far);

}  // namespace kova::check
