#include "byte_input.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace kova::report {
namespace {

// A pipe hands over 64 KiB at a time, and blocks of samples skip the buffer:
// it serves headers and small reads, so no more of it is touched (a page
// fault each 4 KiB costs a short file more than its analysis).
constexpr std::size_t kBlock = 64 * 1024;
// Requests from this size on (blocks of samples) go straight to the caller.
constexpr std::size_t kDirect = 16 * 1024;

}  // namespace

Byte_Input::Byte_Input(cli::Fd fd, std::optional<std::uint64_t> size)
    : fd_(std::move(fd)), size_(size), buffer_(new unsigned char[kBlock])
{
}

std::optional<std::uint64_t> Byte_Input::remaining() const
{
    if (!size_)
        return std::nullopt;
    return *size_ > offset_ ? *size_ - offset_ : 0;
}

bool Byte_Input::fill()
{
    if (at_end_)
        return false;
    if (begin_ == end_)
        begin_ = end_ = 0;
    else if (end_ == kBlock) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == kBlock)
        return true;
    for (;;) {
        const ssize_t n = ::read(fd_.get(), buffer_.get() + end_, kBlock - end_);
        if (n > 0) {
            end_ += static_cast<std::size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error_ = errno;
        at_end_ = true;
        return false;
    }
}

std::size_t Byte_Input::peek(const unsigned char*& bytes, std::size_t n)
{
    n = std::min(n, kBlock);
    while (end_ - begin_ < n && fill()) {
    }
    bytes = buffer_.get() + begin_;
    return std::min(n, end_ - begin_);
}

std::size_t Byte_Input::read_direct(unsigned char* out, std::size_t n)
{
    std::size_t got = 0;
    while (got < n && !at_end_) {
        const ssize_t r = ::read(fd_.get(), out + got, n - got);
        if (r > 0)
            got += static_cast<std::size_t>(r);
        else if (r < 0 && errno == EINTR)
            continue;
        else {
            if (r < 0)
                error_ = errno;
            at_end_ = true;
        }
    }
    return got;
}

std::size_t Byte_Input::read(unsigned char* out, std::size_t n)
{
    std::size_t got = 0;
    while (got < n) {
        if (begin_ == end_) {
            // Blocks of samples skip the buffer, once it has run dry: no copy
            // on the way to the caller.
            if (n >= kDirect) {
                got += read_direct(out + got, n - got);
                break;
            }
            if (!fill())
                break;
        }
        const std::size_t take = std::min(n - got, end_ - begin_);
        std::memcpy(out + got, buffer_.get() + begin_, take);
        begin_ += take;
        got += take;
    }
    offset_ += got;
    return got;
}

std::uint64_t Byte_Input::skip(std::uint64_t n)
{
    std::uint64_t done = 0;
    while (done < n) {
        if (begin_ == end_ && !fill())
            break;
        const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(n - done, end_ - begin_));
        begin_ += take;
        done += take;
    }
    offset_ += done;
    return done;
}

}  // namespace kova::report
