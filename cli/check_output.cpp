#include "check_output.h"

#include <cmath>
#include <cstdio>

#include "kova/settings.h"
#include "printable.h"

namespace kova::cli {
namespace {

// As long as the number needs: a gain of 1e200 has 201 digits before the point.
std::string format(const char* fmt, double value)
{
    char text[64];
    const int n = std::snprintf(text, sizeof text, fmt, value);
    if (n < static_cast<int>(sizeof text))
        return text;
    std::string long_text(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(long_text.data(), long_text.size(), fmt, value);
    long_text.pop_back();
    return long_text;
}

std::string strip_zeros(std::string s)
{
    if (s.find('.') == std::string::npos)
        return s;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s == "-0" ? "0" : s;
}

std::string duration_label(int seconds)
{
    if (seconds % 3600 == 0)
        return std::to_string(seconds / 3600) + " h";
    if (seconds % 60 == 0)
        return std::to_string(seconds / 60) + " min";
    return std::to_string(seconds) + " s";
}

std::string join(const std::vector<std::string>& names, const char* between)
{
    std::string all;
    for (const auto& n : names)
        all += (all.empty() ? "" : between) + n;
    return all;
}

std::string signed_text(long long v) { return (v > 0 ? "+" : "") + std::to_string(v); }

double at(std::uint64_t sample, long rate) { return static_cast<double>(sample) / static_cast<double>(rate); }

// Length of the well-formed UTF-8 sequence at s[i], or 0 if there is none.
std::size_t utf8_length(const std::string& s, std::size_t i)
{
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = at(i);
    std::size_t n;
    unsigned char low = 0x80, high = 0xBF;  // the byte after the first
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;   // not overlong
        high = c == 0xED ? 0x9F : 0xBF;  // not a surrogate
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;  // not past U+10FFFF
    } else
        return 0;
    if (i + n > s.size() || at(i + 1) < low || at(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF)
            return 0;
    return n;
}

bool valid_utf8(const std::string& s)
{
    for (std::size_t i = 0, n; i < s.size(); i += n)
        if ((n = utf8_length(s, i)) == 0)
            return false;
    return true;
}

// A JSON string; a byte that is not part of valid UTF-8 becomes U+FFFD, so
// that every line parses (file_hex keeps such a name's bytes).
std::string quoted(const std::string& s)
{
    std::string out = "\"";
    for (std::size_t i = 0, n; i < s.size(); i += n) {
        const auto c = static_cast<unsigned char>(s[i]);
        n = utf8_length(s, i);
        if (n == 0) {
            out += "\\ufffd";
            n = 1;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out.append(s, i, n);
        }
    }
    return out + "\"";
}

std::string hex(const std::string& s)
{
    std::string out;
    for (const unsigned char c : s) {
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02x", c);
        out += byte;
    }
    return out;
}

// JSON has no infinity: a gain of zero has none in dB either.
std::string number(double v) { return std::isfinite(v) ? strip_zeros(format("%.6f", v)) : "null"; }

std::string channel_text(const std::string& name, int index, const Capture& c,
                         const analysis::Channel_Report& r, const Expectations& expect)
{
    const long rate = c.format.rate;
    std::string line = name + "  ch" + std::to_string(index) + "  " + join(analysis::verdict_names(r), "+");
    if (!r.present)
        return line + "\n";
    line += "  " + rate_text(rate) + "  ";
    line += r.duration.seconds ? duration_label(*r.duration.seconds)
                               : "partial " + seconds_text(at(r.length(), rate)) + " s";
    line +=
        " (" + seconds_text(at(r.first, rate)) + " s \u2013 " + seconds_text(at(r.last + 1, rate)) + " s)\n";

    const std::string indent = "    ";
    if (r.inverted && !r.gain && !r.offset)
        line += indent + "inverted: every sample is the word with its sign flipped\n";
    if (r.gain)
        line +=
            indent + "gain " + format("%+.2f", r.gain_db) + " dB (x" + format("%.6f", r.gain_factor) + ")\n";
    if (r.offset)
        line += indent + "offset " + strip_zeros(format("%+.3f", r.offset_steps)) + " steps\n";
    if (r.dropouts) {
        line += indent + "dropouts: " + std::to_string(r.dropout_count) + "\n";
        for (const auto& d : r.first_dropouts)
            line += indent + "  at " + std::to_string(d.position) + " (" +
                    seconds_text(at(d.position, rate)) + " s): " + std::to_string(d.foreign) + " foreign, " +
                    signed_text(d.net()) + " samples (modulo " + std::to_string(3 * r.repeat) + ")\n";
    }
    if (r.altered)
        line += indent + "altered: " + std::to_string(r.differing) + " samples differ, largest " +
                strip_zeros(format("%.3f", r.max_difference)) + ", RMS " + format("%.3f", r.rms_difference) +
                " (24-bit steps)\n";
    if (!r.duration.seconds)
        line += indent + "length " + std::to_string(r.length()) + " samples, " +
                signed_text(r.duration.difference) + " against " +
                duration_label(r.duration.nearest_seconds) + "\n";
    if (!r.repeat_fits)
        line += indent + "repeat " + std::to_string(r.repeat) + " does not fit " + rate_text(rate) + "\n";
    if (!duration_as_expected(r, expect))
        line += indent + "expected " + duration_label(*expect.seconds) + "\n";
    return line;
}

std::string channel_json(int index, const Capture& c, const analysis::Channel_Report& r,
                         const Expectations& expect)
{
    std::string names;
    for (const auto& n : analysis::verdict_names(r))
        names += (names.empty() ? "" : ",") + quoted(n);
    std::string j = "{\"channel\":" + std::to_string(index) + ",\"verdicts\":[" + names + "]";
    if (!r.present)
        return j + "}";
    const long rate = c.format.rate;
    j += ",\"first\":" + std::to_string(r.first) + ",\"last\":" + std::to_string(r.last);
    j += ",\"start_s\":" + number(at(r.first, rate)) + ",\"end_s\":" + number(at(r.last + 1, rate));
    j += ",\"length\":" + std::to_string(r.length());
    j += ",\"repeat\":" + std::to_string(r.repeat) + ",\"repeat_fits\":" + (r.repeat_fits ? "true" : "false");
    j += ",\"duration_s\":" + (r.duration.seconds ? std::to_string(*r.duration.seconds) : "null");
    j += ",\"nearest_duration_s\":" + std::to_string(r.duration.nearest_seconds);
    j += ",\"length_difference\":" + std::to_string(r.duration.difference);
    j += ",\"gain_factor\":" + number(r.gain_factor) +
         ",\"gain_db\":" + number(std::round(r.gain_db * 100) / 100);
    j += ",\"offset_steps\":" + number(r.offset_steps);
    j += ",\"dropouts\":{\"count\":" + std::to_string(r.dropout_count) + ",\"first\":[";
    for (std::size_t i = 0; i < r.first_dropouts.size(); ++i) {
        const auto& d = r.first_dropouts[i];
        j += std::string(i ? "," : "") + "{\"position\":" + std::to_string(d.position) +
             ",\"time_s\":" + number(at(d.position, rate)) + ",\"foreign\":" + std::to_string(d.foreign) +
             ",\"skipped\":" + std::to_string(d.skipped) + ",\"net\":" + std::to_string(d.net()) + "}";
    }
    j += "]}";
    j += ",\"differing\":" + std::to_string(r.differing) + ",\"max_difference\":" + number(r.max_difference) +
         ",\"rms_difference\":" + number(r.rms_difference);
    if (expect.seconds)
        j += std::string(",\"duration_as_expected\":") + (duration_as_expected(r, expect) ? "true" : "false");
    return j + "}";
}

}  // namespace

std::string rate_text(long rate)
{
    for (const auto& r : kRates)
        if (r.rate == rate)
            return r.label;
    return strip_zeros(format("%.3f", static_cast<double>(rate) / 1000)) + " kHz";
}

std::string seconds_text(double seconds) { return strip_zeros(format("%.3f", seconds)); }

std::string text_report(const std::string& name, const Capture& c, const Expectations& expect)
{
    const auto& f = c.format;
    const std::string shown = printable(name);
    std::string out = shown + "  " + f.container + " " + f.sample_format + "  " + rate_text(f.rate) + "  " +
                      std::to_string(f.channels) + " ch  " + std::to_string(f.frames) + " frames\n";
    if (!rate_as_expected(c, expect))
        out += "    expected " + rate_text(*expect.rate) + "\n";
    for (std::size_t i = 0; i < c.channels.size(); ++i)
        out += channel_text(shown, static_cast<int>(i) + 1, c, c.channels[i], expect);
    return out;
}

std::string json_report(const std::string& name, const Capture& c, const Expectations& expect)
{
    const auto& f = c.format;
    std::string j = "{\"file\":" + quoted(name);
    if (!valid_utf8(name))
        j += ",\"file_hex\":\"" + hex(name) + "\"";
    j += ",\"container\":" + quoted(f.container) + ",\"sample_format\":" + quoted(f.sample_format) +
         ",\"rate\":" + std::to_string(f.rate) + ",\"channel_count\":" + std::to_string(f.channels) +
         ",\"frames\":" + std::to_string(f.frames);
    if (expect.rate)
        j += std::string(",\"rate_as_expected\":") + (rate_as_expected(c, expect) ? "true" : "false");
    j += std::string(",\"pass\":") + (passes(c, expect) ? "true" : "false") + ",\"channels\":[";
    for (std::size_t i = 0; i < c.channels.size(); ++i)
        j += (i ? "," : "") + channel_json(static_cast<int>(i) + 1, c, c.channels[i], expect);
    return j + "]}\n";
}

}  // namespace kova::cli
