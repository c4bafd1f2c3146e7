#pragma once

// Reads a capture from its source, block by block, and hands the frames to
// the analysis as they lie; never through a conversion that rounds.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kova/analysis/channel_report.h"
#include "kova/analysis/events.h"
#include "kova/cli/error.h"

namespace kova::report {

using cli::Error;
using cli::Result;

struct Capture_Format {
    std::string container;      // "WAV", "WAVEX", "RF64", "W64", "AIFF", "FLAC", "CAF", ...
    std::string sample_format;  // "16-bit int", "24-bit int", "32-bit float", ... (significant bits)
    long rate = 0;
    int channels = 0;
    std::uint64_t frames = 0;  // frames actually read
};

struct Capture {
    Capture_Format format;
    std::vector<analysis::Channel_Report> channels;
};

// path "-" reads standard input. on_progress hears the fraction done (0..1)
// for inputs whose length is known; events, if given, hear the findings as
// they are made.
// An Error where the capture cannot be read to its end.
Result<Capture> read_capture(const std::string& path, const std::function<void(double)>& on_progress = {},
                             analysis::Event_Sink* events = nullptr);

}  // namespace kova::report
