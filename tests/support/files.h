#pragma once

// Whole files in and out, for tests that compare what a program wrote.

#include <string>
#include <vector>

namespace kova::support {

// Every byte of the file; empty if it cannot be read.
std::string read_file(const std::string& path);
std::vector<unsigned char> read_bytes(const std::string& path);
// Replaces the file with these bytes; false if that failed.
bool write_file(const std::string& path, const std::string& bytes);

}  // namespace kova::support
