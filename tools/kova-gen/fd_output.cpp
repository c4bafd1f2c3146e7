#include "fd_output.h"

#include <unistd.h>

#include <cerrno>

#ifdef _WIN32
#include "kova/cli/windows.h"
#endif

#include "kova/status.h"

namespace kova::cli {

Fd_Output::Fd_Output(Fd fd, std::function<void(std::uint64_t)> on_progress)
    : fd_(std::move(fd)), on_progress_(std::move(on_progress))
{
}

std::size_t Fd_Output::write(const unsigned char* data, std::size_t size)
{
    // write() may take less than asked (pipes, signals); keep going until the
    // descriptor refuses, so "short" means the device really is short.
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_.get(), data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A refusal without errno is nearly always a full device.
            int err = n < 0 ? errno : ENOSPC;
#ifdef _WIN32
            // The C library's word for a pipe whose reader has gone.
            if (err == EINVAL && windows::file_kind(fd_.get()) == windows::File_Kind::pipe)
                err = EPIPE;
#endif
            fail(err);
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    written_ += done;
    if (on_progress_)
        on_progress_(written_);
    return done;
}

int Fd_Output::close()
{
    // A late write-back error (a full disk, a network share) may show only
    // here, and makes the file as bad as a failed write.
    if (const int err = fd_.close(); err != 0) {
        fail(err);
        return kWriteFailed;
    }
    return kOk;
}

Result<void> Fd_Output::result() const
{
    if (failure_)
        return *failure_;
    return {};
}

void Fd_Output::fail(int err)
{
    if (!failure_)
        failure_ = system_error("write failed", err);
}

}  // namespace kova::cli
