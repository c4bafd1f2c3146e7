#pragma once

// kova-loop's report: which output reached which input and with what round
// trip, above (or, in JSON, around) the capture's own report.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kova/report/outcome.h"
#include "kova/report/reader.h"

namespace kova::report {

struct Loop_Result {
    std::string output;  // the devices' names
    std::string input;
    long rate = 0;
    int outputs = 0;
    // One duplex stream on one device; else two, whose latency is measured
    // on this machine's steady clock and known less closely.
    bool one_stream = true;
    // Where the latency was read on the streams' own clocks (WASAPI's), to
    // within so many frames either way; none where it was not.
    std::optional<std::uint64_t> clock_resolution;
    // For each input, the outputs whose turn arrived on it (from 0); none
    // where the map was not measured to its end.
    std::optional<std::vector<std::vector<int>>> map;
    struct Latency {
        double seconds;
        long long samples;
    };
    // For each input the run reached.
    std::vector<std::optional<Latency>> latency;
    Capture capture;  // the run, judged
};

std::string loop_text_report(const Loop_Result& loop, const Expectations& expect);
// One object on one line, the capture's report inside it.
std::string loop_json_report(const Loop_Result& loop, const Expectations& expect);

}  // namespace kova::report
