#pragma once

// Error lines echo what the user typed; a newline or an escape sequence in
// it must not break the line or move the terminal's cursor.

#include <string>

namespace kova::cli {

// text with every control character written as an escape: \n, \r, \t, \x1b.
std::string printable(const std::string& text);

}  // namespace kova::cli
