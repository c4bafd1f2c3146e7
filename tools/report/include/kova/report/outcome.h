#pragma once

// Whether a capture passes: the pattern is there, every channel that carries
// it is bit-perfect for one of the five durations, and it has the rate and
// duration asked for.

#include <optional>

#include "kova/report/reader.h"

namespace kova::report {

struct Expectations {
    std::optional<long> rate;
    std::optional<int> seconds;
    // A span cut short but otherwise exact passes: for checking 30 s of an
    // hour-long file.
    bool partial_ok = false;
};

// Judges each channel's span against the duration asked for, if any,
// instead of the shortest of the five that holds it.
void apply_expectations(Capture& capture, const Expectations& expect);

bool rate_as_expected(const Capture& capture, const Expectations& expect);
bool duration_as_expected(const analysis::Channel_Report& channel, const Expectations& expect);
bool channel_passes(const analysis::Channel_Report& channel, const Expectations& expect);
bool passes(const Capture& capture, const Expectations& expect);

}  // namespace kova::report
