#include "live_run.h"

#include <cerrno>
#include <cstdio>

namespace kova::live {

bool write_report(const std::string& text)
{
    errno = 0;
    std::fputs(text.c_str(), stdout);
    const bool ok = std::fflush(stdout) == 0 && !std::ferror(stdout);
    // A stream error need not leave errno set; the message still needs a cause.
    if (!ok && errno == 0)
        errno = EIO;
    return ok;
}

}  // namespace kova::live
