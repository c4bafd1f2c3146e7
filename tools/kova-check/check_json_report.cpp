// The JSON report: one object per file, on one line. Fields are only ever
// added: scripts rely on the ones there are.

#include <cmath>

#include "check_figures.h"
#include "check_json.h"
#include "check_output.h"
#include "kova/analysis/channel_report.h"

namespace kova::cli {
namespace {

std::string field(const char* name, const std::string& value)
{
    return std::string(",\"") + name + "\":" + value;
}

std::string count(std::uint64_t v)
{
    return std::to_string(v);
}

std::string outside_json(const analysis::Outside& o)
{
    return "{\"samples\":" + count(o.samples) + ",\"silent\":" + json_bool(o.silent) +
           ",\"peak\":" + json_number(o.peak) + "}";
}

std::string dropouts_json(const analysis::Channel_Report& r, long rate)
{
    std::string j = "{\"count\":" + count(r.dropout_count) + ",\"first\":[";
    for (std::size_t i = 0; i < r.first_dropouts.size(); ++i) {
        const auto& d = r.first_dropouts[i];
        j += std::string(i ? "," : "") + "{\"position\":" + count(d.position) +
             field("time_s", json_number(at(d.position, rate))) + field("foreign", count(d.foreign)) +
             field("skipped", std::to_string(d.skipped)) + field("net", std::to_string(d.net())) +
             field("lost", count(d.lost)) + field("lost_exact", json_bool(d.lost_exact)) +
             field("inserted", count(d.inserted)) + "}";
    }
    return j + "]}";
}

std::string verdicts_json(const std::vector<std::string>& names)
{
    std::string list;
    for (const auto& n : names) list += (list.empty() ? "" : ",") + json_string(n);
    return "[" + list + "]";
}

std::string stretch_names(const analysis::Stretch& s)
{
    std::vector<std::string> names;
    if (s.exact)
        names.emplace_back("bit-perfect");
    if (s.inverted)
        names.emplace_back("inverted");
    if (s.gain)
        names.emplace_back("gain");
    if (s.offset)
        names.emplace_back("offset");
    if (s.altered)
        names.emplace_back("altered");
    if (s.resampled)
        names.emplace_back("resampled");
    return verdicts_json(names);
}

std::string stretches_json(const analysis::Channel_Report& r, long rate)
{
    std::string j = "[";
    for (std::size_t i = 0; i < r.stretches.size(); ++i) {
        const auto& s = r.stretches[i];
        j += std::string(i ? "," : "") + "{\"first\":" + count(s.first) + field("last", count(s.last)) +
             field("start_s", json_number(at(s.first, rate))) +
             field("end_s", json_number(at(s.last + 1, rate))) + field("verdicts", stretch_names(s)) +
             field("gain_factor", json_number(s.gain_factor)) +
             field("gain_db", json_number(shown_db(20 * std::log10(std::fabs(s.gain_factor))))) +
             field("offset_steps", json_number(s.offset_steps)) + field("differing", count(s.differing)) +
             "}";
    }
    return j + "]";
}

std::string resampling_json(const std::optional<analysis::Resampling>& s)
{
    if (!s)
        return "null";
    return "{\"family_hz\":" + std::to_string(s->family_hz) +
           field("family_rate", std::to_string(s->family_rate)) + field("ratio", json_number(s->ratio)) +
           field("drift_ppm", json_number(s->drift_ppm)) +
           field("source_rate", s->source_rate > 0 ? std::to_string(s->source_rate) : "null") + "}";
}

std::string channel_json(int index, const Capture& c, const analysis::Channel_Report& r,
                         const Expectations& expect)
{
    std::string j =
        "{\"channel\":" + std::to_string(index) + field("verdicts", verdicts_json(verdict_names(r)));
    if (!r.present)
        return j + "}";
    const long rate = c.format.rate;
    j += field("first", count(r.first)) + field("last", count(r.last));
    j += field("start_s", json_number(at(r.first, rate))) + field("end_s", json_number(at(r.last + 1, rate)));
    j += field("length", count(r.length()));
    j += field("repeat", std::to_string(r.repeat)) + field("repeat_fits", json_bool(r.repeat_fits));
    j += field("duration_s", r.duration.seconds ? std::to_string(*r.duration.seconds) : "null");
    j += field("nearest_duration_s", std::to_string(r.duration.nearest_seconds));
    j += field("length_difference", std::to_string(r.duration.difference));
    j +=
        field("gain_factor", json_number(r.gain_factor)) + field("gain_db", json_number(shown_db(r.gain_db)));
    j += field("offset_steps", json_number(r.offset_steps));
    j += field("dropouts", dropouts_json(r, rate));
    j += field("differing", count(r.differing)) + field("max_difference", json_number(r.max_difference)) +
         field("rms_difference", json_number(r.rms_difference));
    if (expect.seconds)
        j += field("duration_as_expected", json_bool(duration_as_expected(r, expect)));
    // The span as a whole number of seconds, and what it lacks or holds
    // beyond the duration it was judged against.
    j += field("whole_seconds", r.whole_seconds ? std::to_string(*r.whole_seconds) : "null");
    j += field("judged_seconds", std::to_string(r.judged_seconds));
    j += field("missing_start", count(r.missing_start)) +
         field("missing_start_exact", json_bool(r.missing_start_exact));
    j += field("missing_end", count(r.missing_end)) +
         field("missing_end_exact", json_bool(r.missing_end_exact));
    j += field("unplaced_samples", std::to_string(r.unplaced));
    j += field("nonfinite", count(r.nonfinite));
    j += field("stretch_count", count(r.stretch_count)) + field("stretches", stretches_json(r, rate));
    j += field("resampling", resampling_json(r.resampling));
    j += field("drift_ppm", r.resampling ? json_number(r.resampling->drift_ppm) : "null");
    j += field("before", outside_json(r.before)) + field("after", outside_json(r.after));
    return j + "}";
}

}  // namespace

std::string json_report(const std::string& name, const Capture& c, const Expectations& expect)
{
    const auto& f = c.format;
    std::string j = "{\"file\":" + json_string(name);
    if (!valid_utf8(name))
        j += field("file_hex", "\"" + hex(name) + "\"");
    j += field("container", json_string(f.container)) + field("sample_format", json_string(f.sample_format)) +
         field("rate", std::to_string(f.rate)) + field("channel_count", std::to_string(f.channels)) +
         field("frames", count(f.frames));
    if (expect.rate)
        j += field("rate_as_expected", json_bool(rate_as_expected(c, expect)));
    j += field("pass", json_bool(passes(c, expect)));
    j += field("pattern_rate", json_bool(analysis::pattern_rate(f.rate)));
    // What the pattern cannot see: its words have their low 9 bits zero.
    j += field("pattern_bits", "{\"lowest_set\":9,\"highest_set\":11,\"passes_truncation_to\":" +
                                   std::to_string(analysis::kPatternSignificantBits) + "}");
    j += field("channels", "[");
    for (std::size_t i = 0; i < c.channels.size(); ++i)
        j += (i ? "," : "") + channel_json(static_cast<int>(i) + 1, c, c.channels[i], expect);
    return j + "]}\n";
}

}  // namespace kova::cli
