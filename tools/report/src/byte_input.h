#pragma once

// A descriptor read front to back in large blocks and never seeked, so that
// a file, a pipe, a FIFO and /dev/stdin all take the same path.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "kova/cli/fd.h"

namespace kova::report {

class Byte_Input {
public:
    // size: the bytes a regular file holds from where reading starts; none
    // for a stream.
    Byte_Input(cli::Fd fd, std::optional<std::uint64_t> size);

    // Up to n bytes without taking them; fewer only where the input ends.
    std::size_t peek(const unsigned char*& bytes, std::size_t n);
    // n bytes into out; fewer only where the input ends or fails.
    std::size_t read(unsigned char* out, std::size_t n);
    // Passes over n bytes by reading them; returns how many there were.
    std::uint64_t skip(std::uint64_t n);

    std::uint64_t offset() const { return offset_; }  // bytes taken so far
    // Bytes left in a regular file; none for a stream.
    std::optional<std::uint64_t> remaining() const;
    int error() const { return error_; }  // errno of a failed read, 0 if none
    int fd() const { return fd_.get(); }

private:
    // Reads into the buffer behind what it holds; false at the end or on failure.
    bool fill();
    std::size_t read_direct(unsigned char* out, std::size_t n);

    cli::Fd fd_;
    std::optional<std::uint64_t> size_;
    std::unique_ptr<unsigned char[]> buffer_;  // kBlock bytes, touched only as far as read
    std::size_t begin_ = 0;                    // what the buffer holds, not yet taken
    std::size_t end_ = 0;
    std::uint64_t offset_ = 0;
    bool at_end_ = false;
    int error_ = 0;
};

}  // namespace kova::report
