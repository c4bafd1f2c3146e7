#include "listen_text.h"

#include <cmath>
#include <cstdio>

#include "kova/cli/status_line.h"

namespace kova::check {

namespace {

std::string printf_text(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string level_text(const analysis::Event& e)
{
    if (e.exact)
        return "the exact words";
    const double factor = e.gain_factor;
    std::string text = factor < 0 ? "inverted, " : "";
    if (std::fabs(std::fabs(factor) - 1.0) > 1e-9 && factor != 0.0)
        return text + "gain " + printf_text("%+.2f", 20 * std::log10(std::fabs(factor))) + " dB";
    return text + "changed";
}

std::string what(const analysis::Event& e)
{
    using Kind = analysis::Event::Kind;
    if (e.full) {
        // The full signal's: every dropout exact, its pilot followed where
        // it came resampled.
        switch (e.kind) {
            case Kind::locked:
                return "full signal found: " + level_text(e);
            case Kind::level_change:
                return "level changed: now " + level_text(e);
            case Kind::dropout:
                return "dropout: " +
                       (e.skipped < 0 ? std::to_string(-e.skipped) + " repeated, "
                                      : std::to_string(e.skipped) + " lost, ") +
                       std::to_string(e.foreign) + " inserted";
            case Kind::lost:
                return "full signal lost";
            case Kind::resampled:
                return "resampled: the full signal's " + printf_text("%.3f", e.family_hz / 1000.0) +
                       " kHz pilot (" + (e.family_hz == 11025 ? "44.1" : "48") + " kHz family)";
        }
    }
    switch (e.kind) {
        case Kind::locked:
            return "pattern found: " + level_text(e);
        case Kind::level_change:
            return "level changed: now " + level_text(e);
        case Kind::dropout:
            return "dropout: " + std::to_string(e.foreign) + " samples inserted, " +
                   std::to_string(e.skipped) + " skipped (modulo the cycle)";
        case Kind::lost:
            return "pattern lost";
        case Kind::resampled:
            return "resampled: the pattern's " + printf_text("%.1f", e.family_hz / 1000.0) +
                   " kHz fundamental (" + (e.family_hz == 14700 ? "44.1" : "48") + " kHz family)";
    }
    return "?";
}

}  // namespace

std::string event_line(const analysis::Event& event, long rate)
{
    return printf_text("%9.3f s", static_cast<double>(event.position) / static_cast<double>(rate)) + "  ch" +
           std::to_string(event.channel + 1) + "  " + what(event);
}

std::string status_text(const std::string& device, long rate, std::uint64_t frames,
                        const std::vector<analysis::Channel_Report>& so_far)
{
    bool present = false, arriving = false;
    for (const auto& r : so_far) {
        present = present || r.present;
        arriving = arriving || (r.present && r.accounting.ends_capture);
    }
    std::string line = device + "  " + std::to_string(rate) + " Hz  " +
                       cli::clock_text(frames / static_cast<std::uint64_t>(rate)) + "  " +
                       (!present   ? "waiting"
                        : arriving ? "locked"
                                   : "lost");
    if (!present)
        return line;
    for (std::size_t c = 0; c < so_far.size(); ++c) {
        // Only cut at the end, and still arriving: exact so far.
        analysis::Channel_Report shown = so_far[c];
        shown.incomplete = shown.incomplete && !shown.accounting.ends_capture;
        std::string verdicts;
        for (const auto& name : analysis::verdict_names(shown))
            verdicts += (verdicts.empty() ? "" : "+") + name;
        line += "  ch" + std::to_string(c + 1) + " " + verdicts;
    }
    return line;
}

}  // namespace kova::check
