#include "kova/cli/standard_fds.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kova::cli {

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

bool begin_command(int&, char**&)
{
    return open_standard_descriptors();
}

bool same_file(int a, int b)
{
    struct stat sa {
    }, sb{};
    return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool write_text(std::FILE* stream, const std::string& text)
{
    errno = 0;
    std::fputs(text.c_str(), stream);
    const bool ok = std::fflush(stream) == 0 && !std::ferror(stream);
    if (!ok && errno == 0)
        errno = EIO;
    return ok;
}

}  // namespace kova::cli
