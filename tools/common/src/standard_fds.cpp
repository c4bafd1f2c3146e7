#include "kova/cli/standard_fds.h"

#include <cerrno>
#include <cstdio>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kova::cli {

// The descriptors' own calls are POSIX's; the writes below are C's, and the
// WASAPI host's device table goes through them too.
#ifndef _WIN32
bool open_standard_descriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number is fd itself. Read-only, so that what is
        // written there still fails as on the closed descriptor (EBADF)
        // rather than vanish: the data, a listing, the summary line.
        if (open("/dev/null", O_RDONLY) != fd)
            return false;
    }
    return true;
}

bool same_file(int a, int b)
{
    struct stat sa {
    }, sb{};
    return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
#endif

bool write_standard_output(const std::string& text)
{
    errno = 0;
    std::fputs(text.c_str(), stdout);
    const bool ok = std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (!ok && errno == 0)
        errno = EIO;
    return ok;
}

Error output_error()
{
    return system_error("cannot write to standard output", errno ? errno : EIO);
}

}  // namespace kova::cli
