#pragma once

// Where kova-gen puts its bytes on Windows, with target.h's interface. A
// regular file is written under a temporary name beside the target, marked
// for deletion from the moment it exists, so that nothing short of the
// machine stopping (a failure, Ctrl-C, the process killed) leaves it behind;
// only a complete file is kept and renamed into place. A device (NUL, CON,
// \\.\pipe\...) is written in place; "-" is standard output.

#include <string>

#include "kova/cli/error.h"
#include "kova/cli/fd.h"

namespace kova::cli {

class Target {
public:
    Target() = default;
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;
    ~Target();

    // The descriptor to write the file through, for whoever writes and
    // closes it. For "-" it is standard output, borrowed.
    Result<Fd> open(const std::string& path, bool force);

    // After the output has been closed: puts the file in place.
    Result<void> commit();
    // After a failure: removes what this run created, and nothing else.
    void discard();

private:
    Result<Fd> create(bool replacing);

    std::string path_;      // what the user named
    std::wstring target_;   // its long form
    std::wstring temp_;     // the temporary file, while there is one
    void* kept_ = nullptr;  // a handle of our own on it, which holds its fate
    bool force_ = false;
};

}  // namespace kova::cli
