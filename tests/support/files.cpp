#include "files.h"

#include <fstream>
#include <iterator>

namespace kova::support {

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<unsigned char> read_bytes(const std::string& path)
{
    const std::string s = read_file(path);
    return {s.begin(), s.end()};
}

bool write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out.flush());
}

}  // namespace kova::support
