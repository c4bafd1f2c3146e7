#pragma once

// The core's output over a POSIX descriptor.

#include <cstdint>
#include <functional>
#include <optional>

#include "kova/cli/error.h"
#include "kova/cli/fd.h"
#include "kova/output.h"

namespace kova::cli {

class Fd_Output : public Output {
public:
    // Closes fd once, through the core's close() or, failing that, when
    // destroyed; a borrowed fd stays open. on_progress, if given, hears the
    // running byte count after each write.
    explicit Fd_Output(Fd fd, std::function<void(std::uint64_t)> on_progress = {});
    Fd_Output(const Fd_Output&) = delete;
    Fd_Output& operator=(const Fd_Output&) = delete;

    std::size_t write(const unsigned char* data, std::size_t size) override;
    int close() override;

    // The first failed write or close ("write failed: ..."), or success.
    Result<void> result() const;
    std::uint64_t written() const { return written_; }

private:
    void fail(int err);

    Fd fd_;
    std::function<void(std::uint64_t)> on_progress_;
    std::uint64_t written_ = 0;
    std::optional<Error> failure_;
};

}  // namespace kova::cli
