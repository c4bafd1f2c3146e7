#include "fd_output.h"

#include <cerrno>
#include <unistd.h>

namespace kova::cli {

Fd_Output::Fd_Output(int fd, std::function<void(std::uint64_t)> on_progress)
    : fd_(fd), on_progress_(std::move(on_progress))
{
}

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

void Fd_Output::close()
{
    if (fd_ < 0)
        return;
    // Standard output stays open for the process; a file is closed here, and
    // a failing close (late write-back error) is a failed write.
    if (fd_ != STDOUT_FILENO && ::close(fd_) != 0 && !error_)
        error_ = errno;
    fd_ = -1;
}

}  // namespace kova::cli
