#pragma once

// Where a generation writes. Each front-end adapts its own file to this in a
// few lines: a Win32 handle, a POSIX descriptor, the macOS file handler.

#include <cstddef>

#include "kova/status.h"

namespace kova {

class Output {
public:
    virtual ~Output() = default;
    // Returns the number of bytes written: a device that is full says so by
    // writing less than size, and the generation judges that a failure.
    virtual std::size_t write(const unsigned char* data, std::size_t size) = 0;
    // Called exactly once by the generation, on every path. kOk, or
    // kWriteFailed when the close failed: a late write error (a full disk, a
    // network share) often appears only here, so the file is as bad as
    // after a failed write.
    virtual int close() = 0;
};

}  // namespace kova
