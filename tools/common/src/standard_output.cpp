#include <cerrno>
#include <cstdio>

#include "kova/cli/standard_fds.h"

namespace kova::cli {

bool write_standard_output(const std::string& text)
{
    return write_text(stdout, text);
}

Error output_error()
{
    return system_error("cannot write to standard output", errno ? errno : EIO);
}

}  // namespace kova::cli
