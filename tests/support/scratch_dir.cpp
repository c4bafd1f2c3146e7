#include "scratch_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

namespace kova::support {

Scratch_Dir::Scratch_Dir(const std::string& prefix)
{
    std::string name = "/tmp/" + prefix + "-XXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data()))
        throw std::runtime_error("cannot make a scratch folder under /tmp");
    path_ = buffer.data();
}

Scratch_Dir::~Scratch_Dir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace kova::support
