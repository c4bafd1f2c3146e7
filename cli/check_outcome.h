#pragma once

// Whether a capture passes: the pattern is there, every channel that carries
// it is bit-perfect, and it has the rate and duration asked for.

#include <optional>

#include "check_reader.h"

namespace kova::cli {

struct Expectations {
    std::optional<long> rate;
    std::optional<int> seconds;
};

bool rate_as_expected(const Capture& capture, const Expectations& expect);
bool duration_as_expected(const analysis::Channel_Report& channel, const Expectations& expect);
bool passes(const Capture& capture, const Expectations& expect);

}  // namespace kova::cli
