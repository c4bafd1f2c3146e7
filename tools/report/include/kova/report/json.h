#pragma once

// JSON's own text: strings that stay valid whatever bytes a file name holds,
// numbers in full.

#include <string>
#include <vector>

namespace kova::report {

// A JSON string; a byte that is not part of valid UTF-8 becomes U+FFFD, so
// that every line parses (file_hex keeps such a name's bytes).
std::string json_string(const std::string& text);
// Six places, trailing zeros dropped; JSON has no infinity: null.
std::string json_number(double value);
std::string json_bool(bool value);
bool valid_utf8(const std::string& text);
std::string hex(const std::string& bytes);

// An object's field after its first: ,"name":value, value being JSON.
std::string json_field(const char* name, const std::string& value);
// [a,b,...] of values that are JSON.
std::string json_array(const std::vector<std::string>& values);

}  // namespace kova::report
