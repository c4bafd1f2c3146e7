#include "kova/report/loop_report.h"

#include <cstdio>

#include "kova/cli/printable.h"
#include "kova/report/json.h"
#include "kova/report/writers.h"

namespace kova::report {
namespace {

std::string ms_text(double seconds, bool exact)
{
    char text[32];
    std::snprintf(text, sizeof text, exact ? "%.3f" : "%.1f", seconds * 1000);
    return text;
}

// Exact, about (this machine's steady clock), or to within the streams'
// clocks' resolution.
std::string latency_text(const Loop_Result& loop, const Loop_Result::Latency& l)
{
    const std::string samples = std::to_string(l.samples);
    if (loop.clock_resolution && *loop.clock_resolution > 0) {
        const std::uint64_t r = *loop.clock_resolution;
        return samples + " \u00b1" + std::to_string(r) + " samples (" + ms_text(l.seconds, false) +
               " \u00b1" + ms_text(static_cast<double>(r) / static_cast<double>(loop.rate), false) + " ms)";
    }
    const bool exact = loop.one_stream || loop.clock_resolution;
    return (exact ? "" : "about ") + samples + " samples (" + ms_text(l.seconds, exact) + " ms)";
}

std::string outputs_text(const std::vector<int>& outputs)
{
    if (outputs.empty())
        return "nothing";
    std::string text = "out ";
    for (std::size_t i = 0; i < outputs.size(); ++i) text += (i ? "+" : "") + std::to_string(outputs[i] + 1);
    return text;
}

std::string input_json(const Loop_Result& loop, std::size_t c)
{
    const auto& l = loop.latency[c];
    std::string outs = "null";
    if (loop.map) {
        std::vector<std::string> numbers;
        for (const int k : (*loop.map)[c]) numbers.push_back(std::to_string(k + 1));
        outs = json_array(numbers);
    }
    return "{\"input\":" + std::to_string(c + 1) + json_field("outputs", outs) +
           json_field("latency_samples", l ? std::to_string(l->samples) : "null") +
           json_field("latency_ms", l ? json_number(l->seconds * 1000) : "null") + "}";
}

}  // namespace

std::string loop_text_report(const Loop_Result& loop, const Expectations& expect)
{
    const Capture& c = loop.capture;
    std::string text = cli::printable(loop.output) + " -> " + cli::printable(loop.input) + ": " +
                       std::to_string(loop.rate) + " Hz, " + std::to_string(loop.outputs) + " out, " +
                       std::to_string(c.format.channels) + " in, " +
                       (loop.one_stream         ? "one duplex stream"
                        : loop.clock_resolution ? "two streams (latency on the devices' clocks)"
                                                : "two streams (latency on this machine's steady clock)") +
                       "\n";
    // Only what was measured: a run cut short has no map.
    for (std::size_t i = 0; i < loop.latency.size(); ++i) {
        const auto& l = loop.latency[i];
        if (!loop.map && !l)
            continue;
        text += "in " + std::to_string(i + 1);
        if (loop.map)
            text += " <- " + outputs_text((*loop.map)[i]);
        if (l)
            text += "  latency " + latency_text(loop, *l);
        text += "\n";
    }
    return text + text_report(loop.input, c, expect);
}

std::string loop_json_report(const Loop_Result& loop, const Expectations& expect)
{
    std::vector<std::string> inputs;
    for (std::size_t i = 0; i < loop.latency.size(); ++i) inputs.push_back(input_json(loop, i));
    return "{\"output\":" + json_string(loop.output) + json_field("input", json_string(loop.input)) +
           json_field("rate", std::to_string(loop.rate)) +
           json_field("streams", loop.one_stream ? "1" : "2") +
           json_field("latency_clock", loop.clock_resolution ? "\"device\""
                                       : loop.one_stream     ? "\"stream\""
                                                             : "\"steady\"") +
           (loop.clock_resolution
                ? json_field("latency_resolution_samples", std::to_string(*loop.clock_resolution))
                : std::string()) +
           json_field("inputs", json_array(inputs)) +
           json_field("report", json_object(loop.input, loop.capture, expect)) + "}\n";
}

}  // namespace kova::report
