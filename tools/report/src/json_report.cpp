// The JSON report: one object per file, on one line. Fields are only ever
// added: scripts rely on the ones there are.

#include <cmath>

#include "full_report.h"
#include "kova/analysis/channel_report.h"
#include "kova/report/json.h"
#include "kova/report/numbers.h"
#include "kova/report/writers.h"

namespace kova::report {
namespace {

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
             json_field("time_s", json_number(at(d.position, rate))) +
             json_field("foreign", count(d.foreign)) + json_field("skipped", std::to_string(d.skipped)) +
             json_field("net", std::to_string(d.net())) + json_field("lost", count(d.lost)) +
             json_field("lost_exact", json_bool(d.lost_exact)) + json_field("inserted", count(d.inserted)) +
             "}";
    }
    return j + "]}";
}

std::string verdicts_json(const std::vector<std::string>& names)
{
    std::vector<std::string> strings;
    for (const auto& n : names) strings.push_back(json_string(n));
    return json_array(strings);
}

std::string stretches_json(const analysis::Channel_Report& r, long rate)
{
    std::string j = "[";
    for (std::size_t i = 0; i < r.stretches.size(); ++i) {
        const auto& s = r.stretches[i];
        j += std::string(i ? "," : "") + "{\"first\":" + count(s.first) + json_field("last", count(s.last)) +
             json_field("start_s", json_number(at(s.first, rate))) +
             json_field("end_s", json_number(at(s.last + 1, rate))) +
             json_field("verdicts", verdicts_json(analysis::verdict_names(s))) +
             json_field("gain_factor", json_number(s.gain_factor)) +
             json_field("gain_db", json_number(shown_db(20 * std::log10(std::fabs(s.gain_factor))))) +
             json_field("offset_steps", json_number(s.offset_steps)) +
             json_field("differing", count(s.differing)) + "}";
    }
    return j + "]";
}

std::string resampling_json(const std::optional<analysis::Resampling>& s)
{
    if (!s)
        return "null";
    return "{\"family_hz\":" + std::to_string(s->family_hz) +
           json_field("family_rate", std::to_string(s->family_rate)) +
           json_field("ratio", json_number(s->ratio)) + json_field("drift_ppm", json_number(s->drift_ppm)) +
           json_field("source_rate", s->source_rate > 0 ? std::to_string(s->source_rate) : "null") + "}";
}

std::string channel_json(int index, const Capture& c, const analysis::Channel_Report& r,
                         const Expectations& expect)
{
    std::string j =
        "{\"channel\":" + std::to_string(index) + json_field("verdicts", verdicts_json(verdict_names(r)));
    if (!r.present)
        return j + "}";
    const long rate = c.format.rate;
    j += json_field("first", count(r.first)) + json_field("last", count(r.last));
    j += json_field("start_s", json_number(at(r.first, rate))) +
         json_field("end_s", json_number(at(r.last + 1, rate)));
    j += json_field("length", count(r.length()));
    j += json_field("repeat", std::to_string(r.repeat)) + json_field("repeat_fits", json_bool(r.repeat_fits));
    j += json_field("duration_s", r.duration.seconds ? std::to_string(*r.duration.seconds) : "null");
    j += json_field("nearest_duration_s", std::to_string(r.duration.nearest_seconds));
    j += json_field("length_difference", std::to_string(r.duration.difference));
    j += json_field("gain_factor", json_number(r.gain_factor)) +
         json_field("gain_db", json_number(shown_db(r.gain_db)));
    j += json_field("offset_steps", json_number(r.offset_steps));
    j += json_field("dropouts", dropouts_json(r, rate));
    j += json_field("differing", count(r.differing)) +
         json_field("max_difference", json_number(r.max_difference)) +
         json_field("rms_difference", json_number(r.rms_difference));
    if (expect.seconds)
        j += json_field("duration_as_expected", json_bool(duration_as_expected(r, expect)));
    // The span as a whole number of seconds, and what it lacks or holds
    // beyond the duration it was judged against.
    j += json_field("whole_seconds", r.whole_seconds ? std::to_string(*r.whole_seconds) : "null");
    j += json_field("judged_seconds", std::to_string(r.judged_seconds));
    j += json_field("missing_start", count(r.missing_start)) +
         json_field("missing_start_exact", json_bool(r.missing_start_exact));
    j += json_field("missing_end", count(r.missing_end)) +
         json_field("missing_end_exact", json_bool(r.missing_end_exact));
    j += json_field("unplaced_samples", std::to_string(r.unplaced));
    j += json_field("nonfinite", count(r.nonfinite));
    j += json_field("stretch_count", count(r.stretch_count)) +
         json_field("stretches", stretches_json(r, rate));
    j += json_field("resampling", resampling_json(r.resampling));
    j += json_field("drift_ppm", r.resampling ? json_number(r.resampling->drift_ppm) : "null");
    j += json_field("before", outside_json(r.before)) + json_field("after", outside_json(r.after));
    return j + full_channel_json(r) + "}";
}

}  // namespace

std::string json_report(const std::string& name, const Capture& c, const Expectations& expect)
{
    return json_object(name, c, expect) + "\n";
}

std::string json_object(const std::string& name, const Capture& c, const Expectations& expect)
{
    const auto& f = c.format;
    std::string j = "{\"file\":" + json_string(name);
    if (!valid_utf8(name))
        j += json_field("file_hex", "\"" + hex(name) + "\"");
    j += json_field("container", json_string(f.container)) +
         json_field("sample_format", json_string(f.sample_format)) +
         json_field("rate", std::to_string(f.rate)) +
         json_field("channel_count", std::to_string(f.channels)) + json_field("frames", count(f.frames));
    if (expect.rate)
        j += json_field("rate_as_expected", json_bool(rate_as_expected(c, expect)));
    j += json_field("pass", json_bool(passes(c, expect)));
    j += json_field("pattern_rate", json_bool(analysis::pattern_rate(f.rate)));
    j += full_file_json(c);
    // What the pattern cannot see: its words have their low 9 bits zero.
    j += json_field("pattern_bits", "{\"lowest_set\":9,\"highest_set\":11,\"passes_truncation_to\":" +
                                        std::to_string(analysis::kPatternSignificantBits) + "}");
    j += json_field("channels", "[");
    for (std::size_t i = 0; i < c.channels.size(); ++i)
        j += (i ? "," : "") + channel_json(static_cast<int>(i) + 1, c, c.channels[i], expect);
    return j + "]}";
}

}  // namespace kova::report
