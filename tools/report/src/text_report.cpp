// The text report: one line per file, one per channel, and below a channel
// what went wrong with it, in the words an engineer would use.

#include <cmath>

#include "full_report.h"
#include "kova/analysis/channel_report.h"
#include "kova/cli/printable.h"
#include "kova/pattern.h"
#include "kova/report/numbers.h"
#include "kova/report/writers.h"
#include "kova/settings.h"

namespace kova::report {
namespace {

const char* const kIndent = "    ";

std::string gain_text(double factor, double db)
{
    return "gain " + db_text(db) + " dB (x" + format("%.6f", factor) + ")";
}

std::string offset_text(double steps)
{
    return "offset " + strip_zeros(format("%+.3f", steps)) + " steps";
}

std::string samples_text(std::uint64_t samples, long rate)
{
    const std::string n = std::to_string(samples) + (samples == 1 ? " sample" : " samples");
    // Under a millisecond the count says it all.
    return at(samples, rate) < 0.001 ? n : n + " (" + seconds_text(at(samples, rate)) + " s)";
}

// What the chain did over one stretch, in a few words.
std::string stretch_text(const analysis::Stretch& s)
{
    if (s.exact)
        return analysis::verdict::kBitPerfect;
    if (s.resampled)
        return analysis::verdict::kResampled;
    std::vector<std::string> parts;
    if (s.inverted && !s.gain)
        parts.emplace_back("inverted");
    if (s.gain)
        parts.push_back(gain_text(s.gain_factor, 20 * std::log10(std::fabs(s.gain_factor))));
    if (s.offset)
        parts.push_back(offset_text(s.offset_steps));
    if (s.altered)
        parts.push_back("altered, " + std::to_string(s.differing) + " samples differ");
    return join(parts, ", ");
}

std::string span_lines(const analysis::Channel_Report& r, long rate)
{
    std::string out;
    if (r.stretch_count > 1) {
        out += kIndent + std::to_string(r.stretch_count) + " stretches:\n";
        for (const auto& s : r.stretches)
            out += kIndent + std::string("  ") + seconds_text(at(s.first, rate)) + " s \u2013 " +
                   seconds_text(at(s.last + 1, rate)) + " s  " + stretch_text(s) + "\n";
        if (r.stretches.size() < r.stretch_count)
            out += kIndent + std::string("  ...\n");
    }
    return out;
}

std::string dropout_lines(const analysis::Channel_Report& r, long rate)
{
    std::string out = kIndent + std::string("dropouts: ") + std::to_string(r.dropout_count) + "\n";
    for (const auto& d : r.first_dropouts) {
        std::string what;
        if (d.lost_exact && d.lost == d.inserted && d.lost > 0)
            what = std::to_string(d.lost) + " samples replaced";
        else
            what = (d.lost_exact ? "" : "at least ") + std::to_string(d.lost) + " lost, " +
                   std::to_string(d.inserted) + " inserted";
        out += kIndent + std::string("  at ") + std::to_string(d.position) + " (" +
               seconds_text(at(d.position, rate)) + " s): " + what + "\n";
    }
    return out;
}

std::string length_lines(const analysis::Channel_Report& r, long rate)
{
    std::string out;
    const std::string against = duration_label(r.judged_seconds);
    if (r.missing_start > 0)
        out += kIndent + std::string("missing at the start: ") + (r.missing_start_exact ? "" : "at least ") +
               samples_text(r.missing_start, rate) + " of " + against +
               (r.accounting.starts_capture ? ": the capture began late" : ": the chain lost the start") +
               "\n";
    if (r.missing_end > 0)
        out += kIndent + std::string("missing at the end: ") + (r.missing_end_exact ? "" : "at least ") +
               samples_text(r.missing_end, rate) + " of " + against +
               (r.accounting.ends_capture ? ": the capture ended early" : ": the chain lost the end") + "\n";
    const bool crisp = r.accounting.start_crisp && r.accounting.end_crisp;
    if (r.unplaced > 0 && crisp)
        out += kIndent + samples_text(static_cast<std::uint64_t>(r.unplaced), rate) + " short of " + against +
               " in whole cycles, at an end or inside: the pattern cannot tell where\n";
    if (r.unplaced < 0)
        out += kIndent + samples_text(static_cast<std::uint64_t>(-r.unplaced), rate) + " over " + against +
               " in whole cycles, added somewhere: the pattern cannot tell where\n";
    if (!r.whole_seconds && r.accounting.cycle > 0)
        out += kIndent + std::string("length ") + std::to_string(r.length()) + " samples, " +
               signed_text(static_cast<long long>(r.length()) - r.judged_seconds * rate) + " against " +
               against + "\n";
    return out;
}

std::string resampling_lines(const analysis::Resampling& s, long rate)
{
    const std::string family = "the " + rate_text(s.family_rate) + " family" +
                               (s.source_rate > 0 ? ", " : " (") +
                               strip_zeros(format("%.1f", s.family_hz / 1000.0)) + " kHz)";
    std::string out = kIndent + std::string("resampled: from ") +
                      (s.source_rate > 0 ? rate_text(s.source_rate) + " (" + family : family) + " to " +
                      rate_text(rate) + ", ratio " + format("%.6f", s.ratio) + "\n";
    if (s.source_rate == 0)
        out += kIndent + std::string("the rate it was made at cannot be told: the ratio is against ") +
               rate_text(s.family_rate) + "\n";
    // Below a tenth of a ppm a resampler's own ratio is exact.
    if (std::fabs(s.drift_ppm) >= 0.1)
        out += kIndent + std::string("clock drift ") + format("%+.2f", s.drift_ppm) +
               " ppm (the pattern arrives " + (s.drift_ppm > 0 ? "faster" : "slower") +
               " than the capture's clock)\n";
    return out;
}

// A repeat the rate does not hold, or a rate the pattern is never made at:
// the rate was changed without resampling, or the capture's is wrong.
std::string rate_line(int repeat, long rate)
{
    const std::string start = analysis::pattern_rate(rate)
                                  ? "repeat " + std::to_string(repeat) + " does not fit " + rate_text(rate)
                                  : rate_text(rate) + " is not a rate the pattern is made at";
    if (repeat == 0)
        return kIndent + start + "\n";
    std::vector<std::string> rates;
    for (const auto& choice : kRates)
        if (repetitions_per_word(choice.rate) == repeat)
            rates.push_back(rate_text(choice.rate));
    return kIndent + start + ": the words last " + std::to_string(repeat) +
           (repeat == 1 ? " sample" : " samples") + ", as at " + join(rates, " and ") +
           "; the rate changed without resampling\n";
}

std::string outside_line(const char* where, const analysis::Outside& o, long rate)
{
    if (o.silent || o.samples == 0)
        return {};
    return kIndent + std::string(where) + " the pattern: " + seconds_text(at(o.samples, rate)) +
           " s that is not digital silence (peak " + strip_zeros(format("%.1f", o.peak)) + " steps)\n";
}

std::string channel_text(const std::string& name, int index, const Capture& c,
                         const analysis::Channel_Report& r, const Expectations& expect)
{
    const long rate = c.format.rate;
    std::string line = name + "  ch" + std::to_string(index) + "  " + join(analysis::verdict_names(r), "+");
    if (!r.present)
        return line + "\n";
    line += "  " + rate_text(rate) + "  ";
    line += r.whole_seconds ? duration_label(*r.whole_seconds)
                            : "partial " + seconds_text(at(r.length(), rate)) + " s";
    line +=
        " (" + seconds_text(at(r.first, rate)) + " s \u2013 " + seconds_text(at(r.last + 1, rate)) + " s)\n";
    line += full_source_text(r, index);

    if (r.inverted && !r.gain && !r.offset && r.stretch_count <= 1)
        line += kIndent + std::string("inverted: every sample is the word with its sign flipped\n");
    if (r.gain)
        line += kIndent + gain_text(r.gain_factor, r.gain_db) + "\n";
    if (r.offset)
        line += kIndent + offset_text(r.offset_steps) + "\n";
    line += span_lines(r, rate);
    if (r.dropout_count > 0)
        line += r.full ? full_dropout_text(r, rate) : dropout_lines(r, rate);
    line += length_lines(r, rate);
    if (r.altered && r.differing > 0)
        line += kIndent + std::string("altered: ") + std::to_string(r.differing) +
                " samples differ, largest " + strip_zeros(format("%.3f", r.max_difference)) + ", RMS " +
                format("%.3f", r.rms_difference) + " (24-bit steps)" +
                (r.nonfinite ? ", " + std::to_string(r.nonfinite) + " not finite" : "") + "\n";
    line += full_bits_text(r);
    if (r.full)
        line += full_resampling_text(r, rate);
    else if (r.resampling)
        line += resampling_lines(*r.resampling, rate);
    if (r.full)
        line += full_rate_text(r, rate);
    else if (!r.repeat_fits)
        line += rate_line(r.repeat, rate);
    line += outside_line("before", r.before, rate);
    line += outside_line("after", r.after, rate);
    if (!duration_as_expected(r, expect))
        line += kIndent + std::string("expected ") + duration_label(*expect.seconds) + "\n";
    return line;
}

}  // namespace

std::string text_report(const std::string& name, const Capture& c, const Expectations& expect)
{
    const auto& f = c.format;
    const std::string shown = cli::printable(name);
    std::string out = shown + "  " + f.container + " " + f.sample_format + "  " + rate_text(f.rate) + "  " +
                      std::to_string(f.channels) + " ch  " + std::to_string(f.frames) + " frames\n";
    if (!rate_as_expected(c, expect))
        out += kIndent + std::string("expected ") + rate_text(*expect.rate) + "\n";
    if (is_full(c))
        out += full_file_text(shown, c);
    for (std::size_t i = 0; i < c.channels.size(); ++i)
        out += channel_text(shown, static_cast<int>(i) + 1, c, c.channels[i], expect);
    return out;
}

}  // namespace kova::report
