#include "fd_output.h"

#include <cerrno>
#include <unistd.h>

namespace kova::cli {

Fd_Output::Fd_Output(int fd, std::function<void(std::uint64_t)> on_progress)
    : fd_(fd), on_progress_(std::move(on_progress))
{
}

Fd_Output::~Fd_Output() { close(); }

std::size_t Fd_Output::write(const unsigned char* data, std::size_t size)
{
    // write() may take less than asked (pipes, signals); keep going until the
    // descriptor refuses, so "short" means the device really is short.
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (!error_)
                error_ = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    written_ += done;
    if (on_progress_)
        on_progress_(written_);
    return done;
}

bool Fd_Output::close()
{
    const int fd = fd_;
    fd_ = -1;
    if (fd < 0 || fd == STDOUT_FILENO)
        return true;
    // A late write-back error (a full disk, a network share) may show only
    // here. The descriptor is gone either way: never closed twice.
    if (::close(fd) == 0)
        return true;
    if (!error_)
        error_ = errno;
    return false;
}

}  // namespace kova::cli
