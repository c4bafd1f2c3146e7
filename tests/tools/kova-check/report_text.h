#pragma once

// Reading kova-check's reports in tests: a part of the text, a number in
// the JSON.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>

inline void expect_has(const std::string& text, const std::string& part)
{
    EXPECT_NE(text.find(part), std::string::npos) << "missing: " << part << "\nin:\n" << text;
}

// The number after "key": in a JSON line.
inline double number_after(const std::string& json, const std::string& key)
{
    const auto at = json.find("\"" + key + "\":");
    EXPECT_NE(at, std::string::npos) << key << " missing in " << json;
    return at == std::string::npos ? NAN : std::strtod(json.c_str() + at + key.size() + 3, nullptr);
}
