#include "kova/report/numbers.h"

#include <cmath>
#include <cstdio>

#include "kova/settings.h"

namespace kova::report {

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
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s == "-0" ? "0" : s;
}

std::string rate_text(long rate)
{
    for (const auto& r : kRates)
        if (r.rate == rate)
            return r.label;
    if (rate < 1000)
        return std::to_string(rate) + " Hz";
    return strip_zeros(format("%.3f", static_cast<double>(rate) / 1000)) + " kHz";
}

std::string seconds_text(double seconds)
{
    return strip_zeros(format("%.3f", seconds));
}

namespace {

bool fine_db(double db)
{
    return db != 0 && std::fabs(db) < 0.005;
}

}  // namespace

double shown_db(double db)
{
    const double scale = fine_db(db) ? 1e4 : 1e2;
    return std::round(db * scale) / scale;
}

std::string db_text(double db)
{
    return format(fine_db(db) ? "%+.4f" : "%+.2f", db);
}

std::string duration_label(long long seconds)
{
    if (seconds > 0 && seconds % 3600 == 0)
        return std::to_string(seconds / 3600) + " h";
    if (seconds > 0 && seconds % 60 == 0)
        return std::to_string(seconds / 60) + " min";
    return std::to_string(seconds) + " s";
}

std::string signed_text(long long v)
{
    return (v > 0 ? "+" : "") + std::to_string(v);
}

double at(std::uint64_t sample, long rate)
{
    return static_cast<double>(sample) / static_cast<double>(rate);
}

std::string join(const std::vector<std::string>& parts, const char* between)
{
    std::string all;
    for (const auto& p : parts) all += (all.empty() ? "" : between) + p;
    return all;
}

}  // namespace kova::report
