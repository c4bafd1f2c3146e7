#pragma once

// The core's output over a POSIX descriptor.

#include <cstdint>
#include <functional>

#include "kova/output.h"

namespace kova::cli {

class Fd_Output : public Output {
public:
    // Owns fd from here on and closes it, once, unless it is standard
    // output, which stays open for the process. on_progress, if given,
    // hears the running byte count after each write.
    explicit Fd_Output(int fd, std::function<void(std::uint64_t)> on_progress = {});
    ~Fd_Output() override;
    Fd_Output(const Fd_Output&) = delete;
    Fd_Output& operator=(const Fd_Output&) = delete;

    std::size_t write(const unsigned char* data, std::size_t size) override;
    bool close() override;

    // errno of the first failed write or close; 0 when all went well
    // (a short write without errno reports ENOSPC, its usual cause).
    int error() const { return error_; }
    std::uint64_t written() const { return written_; }

private:
    int fd_;
    std::function<void(std::uint64_t)> on_progress_;
    std::uint64_t written_ = 0;
    int error_ = 0;
};

}  // namespace kova::cli
