#include "full_report.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "kova/report/json.h"
#include "kova/report/numbers.h"

namespace kova::report {
namespace {

const char* const kIndent = "    ";

using analysis::Channel_Report;
using analysis::Full_Findings;
using analysis::Word_Cut;

// The source file as the channels that carry the signal tell it: the
// channel count most of them read, its duration and rate where known.
struct Source {
    int channels = 0;
    std::optional<int> seconds;
    long rate = 0;
    std::vector<int> missing;
};

Source source_of(const Capture& c)
{
    Source s;
    std::map<int, int> votes;
    for (const auto& r : c.channels)
        if (r.full && r.full->source_channels > 0)
            ++votes[r.full->source_channels];
    for (const auto& [n, v] : votes)
        if (s.channels == 0 || v > votes[s.channels])
            s.channels = n;
    std::set<int> carried;
    for (const auto& r : c.channels) {
        if (!r.full)
            continue;
        const auto& f = *r.full;
        if (!s.seconds && f.source_seconds)
            s.seconds = f.source_seconds;
        if (s.rate == 0)
            s.rate = f.source_rate;
        if (f.source_channels != s.channels)
            continue;
        if (f.source_channel > 0)
            carried.insert(f.source_channel);
        for (const auto& w : f.mix) carried.insert(w.channel);
    }
    for (int k = 1; k <= s.channels; ++k)
        if (!carried.count(k))
            s.missing.push_back(k);
    return s;
}

std::string list(const std::vector<int>& v, const char* word)
{
    std::string t;
    for (std::size_t i = 0; i < v.size(); ++i)
        t += (i == 0 ? "" : i + 1 == v.size() ? " and " : ", ") + std::to_string(v[i]);
    return std::string(word) + (v.size() > 1 ? "s " : " ") + t;
}

std::string weight(double w)
{
    return "x" + format("%.6f", w);
}

const char* cut_name(Word_Cut cut)
{
    switch (cut) {
        case Word_Cut::truncated:
            return "truncated";
        case Word_Cut::rounded:
            return "rounded";
        case Word_Cut::dithered:
            return "dithered";
        case Word_Cut::shaped:
            return "noise-shaped";
        case Word_Cut::none:
            break;
    }
    return "none";
}

}  // namespace

bool is_full(const Capture& capture)
{
    for (const auto& r : capture.channels)
        if (r.full)
            return true;
    return false;
}

std::string full_file_text(const std::string& shown, const Capture& capture)
{
    const Source s = source_of(capture);
    std::string line = shown + "  full signal";
    if (s.channels > 0)
        line += " of " + std::to_string(s.channels) + (s.channels == 1 ? " channel" : " channels");
    if (s.seconds && s.rate > 0)
        line += ", " + duration_label(*s.seconds) + " at " + rate_text(s.rate);
    else if (s.channels > 0)
        line += ", its length not read (it takes 16 segments, 128 ms at 44.1 kHz)";
    if (!s.missing.empty())
        line += "; " + list(s.missing, "source channel") + " missing";
    return line + "\n";
}

std::string full_source_text(const Channel_Report& r, int index)
{
    if (!r.full || r.full->source_channels == 0)
        return {};
    const auto& f = *r.full;
    const std::string of = " of " + std::to_string(f.source_channels);
    if (f.source_channel > 0)
        return f.source_channel == index ? std::string()
                                         : kIndent + std::string("carries source channel ") +
                                               std::to_string(f.source_channel) + of + ", not its own\n";
    std::string parts;
    for (const auto& w : f.mix)
        parts += (parts.empty() ? "" : " + ") + std::to_string(w.channel) + " " + weight(w.weight);
    return kIndent + std::string("a mix of source channels ") + parts + of + "\n";
}

std::string full_bits_text(const Channel_Report& r)
{
    if (!r.full || r.full->compared == 0)
        return {};
    const auto& f = *r.full;
    std::string out;
    if (f.word_bits < 24) {
        out += kIndent + std::to_string(f.word_bits) + " of 24 bits came through";
        switch (f.cut) {
            case Word_Cut::truncated:
                out += ", truncated (cut off, rounded down)";
                break;
            case Word_Cut::rounded:
                out += ", rounded to the nearest";
                break;
            case Word_Cut::dithered:
                out += ", with dither";
                break;
            case Word_Cut::shaped:
                out += ", with noise-shaped dither";
                break;
            case Word_Cut::none:
                out += ", the rest changed";
                break;
        }
        out += "\n";
    } else if (f.finer_than_24) {
        out += kIndent + std::string("samples finer than 24 bits (a float chain)\n");
    }
    std::string errors;
    int first_clean = -1, last_clean = -1;
    for (int b = 0; b < 24; ++b) {
        const auto n = f.bit_errors[static_cast<std::size_t>(b)];
        if (n > 0)
            errors += (errors.empty() ? "" : ", ") + std::to_string(b) + ": " + std::to_string(n);
        else {
            if (first_clean < 0)
                first_clean = b;
            last_clean = b;
        }
    }
    // After a change of level every bit differs: the gain says it all.
    if (errors.empty() || r.gain || r.inverted || r.offset)
        return out;
    out += kIndent + std::string("bit errors of ") + std::to_string(f.compared) + " words (bit: count) " +
           errors;
    if (first_clean >= 0)
        out += first_clean == last_clean ? "; bit " + std::to_string(first_clean) + " none"
                                         : "; the others none";
    return out + "\n";
}

std::string full_dropout_text(const Channel_Report& r, long rate)
{
    std::string out = kIndent + std::string("dropouts: ") + std::to_string(r.dropout_count) + "\n";
    for (std::size_t i = 0; i < r.first_dropouts.size(); ++i) {
        const auto& d = r.first_dropouts[i];
        std::string what;
        if (d.skipped > 0 && static_cast<std::uint64_t>(d.skipped) == d.foreign)
            what = std::to_string(d.foreign) + " samples replaced";
        else if (d.skipped >= 0)
            what = std::to_string(d.skipped) + " lost, " + std::to_string(d.foreign) + " inserted";
        else
            what = std::to_string(-d.skipped) + " repeated, " + std::to_string(d.foreign) + " inserted";
        if (r.full && i < r.full->resumed_at.size())
            what += " (resumes at source sample " + std::to_string(r.full->resumed_at[i]) + ")";
        out += kIndent + std::string("  at ") + std::to_string(d.position) + " (" +
               seconds_text(at(d.position, rate)) + " s): " + what + "\n";
    }
    if (r.first_dropouts.size() < r.dropout_count)
        out += kIndent + std::string("  ...\n");
    return out;
}

std::string full_resampling_text(const Channel_Report& r, long rate)
{
    if (r.resampling) {
        const auto& s = *r.resampling;
        const std::string family = rate_text(s.family_rate) + " family" +
                                   (s.source_rate > 0 ? ", its" : " (its") + " pilot at " +
                                   rate_text(s.family_hz) + ")";
        std::string out = kIndent + std::string("resampled: from ") +
                          (s.source_rate > 0 ? rate_text(s.source_rate) + " (the " : "the ") + family +
                          " to " + rate_text(rate) + ", ratio " + format("%.6f", s.ratio) + "\n";
        if (std::fabs(s.drift_ppm) >= 0.1)
            out += kIndent + std::string("clock drift ") + format("%+.2f", s.drift_ppm) +
                   " ppm (the signal arrives " + (s.drift_ppm > 0 ? "faster" : "slower") +
                   " than the capture's clock)\n";
        return out;
    }
    if (r.full && !r.full->positioned)
        return kIndent + std::string("its pilot is there at the rate it was made for, its words are not: ") +
               "changed past reading (a resampler within the family, a codec)\n";
    return {};
}

std::string full_rate_text(const Channel_Report& r, long rate)
{
    const long made = r.full ? r.full->source_rate : 0;
    if (r.resampled || r.repeat == 0 || (r.repeat_fits && (made == 0 || made == rate)))
        return {};
    return kIndent + std::string("made at ") + (made > 0 ? rate_text(made) : "another rate") +
           ", captured at " + rate_text(rate) + ": the rate changed without resampling\n";
}

std::string full_file_json(const Capture& capture)
{
    if (!is_full(capture))
        return ",\"signal\":\"pattern\"";
    const Source s = source_of(capture);
    std::string missing;
    for (const int k : s.missing) missing += (missing.empty() ? "" : ",") + std::to_string(k);
    return ",\"signal\":\"full\",\"source_channels\":" + std::to_string(s.channels) +
           ",\"source_seconds\":" + (s.seconds ? std::to_string(*s.seconds) : "null") +
           ",\"source_rate\":" + (s.rate > 0 ? std::to_string(s.rate) : "null") +
           ",\"missing_source_channels\":[" + missing + "]";
}

std::string full_channel_json(const Channel_Report& r)
{
    if (!r.full)
        return {};
    const auto& f = *r.full;
    std::string mix;
    for (const auto& w : f.mix)
        mix += std::string(mix.empty() ? "" : ",") + "{\"channel\":" + std::to_string(w.channel) +
               ",\"weight\":" + json_number(w.weight) + "}";
    std::string j = ",\"source\":{\"channels\":" + std::to_string(f.source_channels) +
                    ",\"channel\":" + (f.source_channel > 0 ? std::to_string(f.source_channel) : "null") +
                    ",\"mix\":[" + mix + "]}";
    std::string resumed;
    for (const auto p : f.resumed_at) resumed += (resumed.empty() ? "" : ",") + std::to_string(p);
    j += ",\"positions\":{\"positioned\":" + json_bool(f.positioned) +
         ",\"first\":" + std::to_string(f.first_position) + ",\"last\":" + std::to_string(f.last_position) +
         ",\"resumed_at\":[" + resumed + "]}";
    std::string errors;
    for (const auto n : f.bit_errors) errors += (errors.empty() ? "" : ",") + std::to_string(n);
    j += ",\"bits\":{\"compared\":" + std::to_string(f.compared) + ",\"errors\":[" + errors +
         "],\"word_bits\":" + std::to_string(f.word_bits) + ",\"cut\":\"" + cut_name(f.cut) +
         "\",\"finer_than_24\":" + json_bool(f.finer_than_24) + "}";
    return j;
}

}  // namespace kova::report
