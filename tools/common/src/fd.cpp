#include "kova/cli/fd.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kova::cli {

Fd Fd::borrowed(int fd)
{
    Fd lent;
    lent.fd_ = fd;
    return lent;
}

Fd::Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)), owned_(std::exchange(other.owned_, false)) {}

Fd& Fd::operator=(Fd&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        owned_ = std::exchange(other.owned_, false);
    }
    return *this;
}

int Fd::close()
{
    const int fd = std::exchange(fd_, -1);
    if (!std::exchange(owned_, false))
        return 0;
    return ::close(fd) == 0 ? 0 : errno;
}

}  // namespace kova::cli
