#include "fd.h"

#include <cerrno>
#include <unistd.h>

namespace kova::cli {

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

int Fd::release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

int Fd::close()
{
    const int fd = release();
    if (fd < 0 || fd == STDOUT_FILENO)
        return 0;
    return ::close(fd) == 0 ? 0 : errno;
}

}  // namespace kova::cli
