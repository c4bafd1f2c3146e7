#include "kova/report/json.h"

#include <cmath>
#include <cstdio>

#include "kova/report/numbers.h"

namespace kova::report {
namespace {

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

}  // namespace

bool valid_utf8(const std::string& s)
{
    for (std::size_t i = 0, n; i < s.size(); i += n)
        if ((n = utf8_length(s, i)) == 0)
            return false;
    return true;
}

std::string json_string(const std::string& s)
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

std::string json_number(double v)
{
    return std::isfinite(v) ? strip_zeros(format("%.6f", v)) : "null";
}

std::string json_bool(bool v)
{
    return v ? "true" : "false";
}

std::string json_field(const char* name, const std::string& value)
{
    return std::string(",\"") + name + "\":" + value;
}

std::string json_array(const std::vector<std::string>& values)
{
    std::string list;
    for (const auto& v : values) list += (list.empty() ? "" : ",") + v;
    return "[" + list + "]";
}

}  // namespace kova::report
