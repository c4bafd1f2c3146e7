#pragma once

// Where kova-gen puts its bytes. A regular file is written unnamed where the
// system allows it (else under a temporary name beside it) and put in place
// only after a complete write, so a failed or killed run never leaves a
// partial file nor costs the user an existing one. Anything else that
// exists (a pipe, /dev/null) is written in place; "-" is standard output.
//
// On Windows (target_windows.cpp) the temporary file is marked for deletion
// from the moment it exists, so that it goes with its last handle however
// the process ends, until commit() keeps it and renames it into place;
// devices (NUL, CON, \\.\pipe\...) are written in place.

#ifndef _WIN32
#include <sys/types.h>
#endif

#include <string>

#include "kova/cli/error.h"
#include "kova/cli/fd.h"

namespace kova::cli {

class Target {
public:
    // unnamed_temp false: always a named temporary file, as on a file system
    // without unnamed ones. For the tests.
    explicit Target(bool unnamed_temp = true) : try_unnamed_(unnamed_temp) {}
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;
    ~Target() { discard(); }

    // The descriptor to write the file through, for whoever writes and
    // closes it: this object never touches it again. For "-" it is
    // standard output, borrowed: the process keeps it open.
    Result<Fd> open(const std::string& path, bool force);

    // After the output has been closed: puts the file in place.
    Result<void> commit();
    // After a failure: removes what this run created, and nothing else.
    void discard();

private:
    std::string path_;  // what the user named
    bool force_ = false;
    bool try_unnamed_;  // POSIX's unnamed files; Windows has none
#ifdef _WIN32
    Result<Fd> create(bool replacing);

    std::wstring target_;   // its long form
    std::wstring temp_;     // the temporary file, while there is one
    void* kept_ = nullptr;  // a handle of our own on it, which holds its fate
#else
    Result<Fd> open_in_place(int flags);
    Result<Fd> create(mode_t mode, bool replacing);
    // These answer 0 or the errno, and give the writer's descriptor in out.
    int create_unnamed(mode_t mode, Fd& out);
    int create_named(mode_t mode, Fd& out);
    int link_unnamed(const std::string& name);
    int link_unnamed_over_target();

    Fd folder_;         // the folder the file ends up in (links resolved)
    std::string name_;  // its name there
    Fd unnamed_;        // an unnamed file, kept open to be linked in at commit
    std::string temp_;  // a named temporary file in folder_, else empty
#endif
};

}  // namespace kova::cli
