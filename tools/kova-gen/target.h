#pragma once

// Where kova-gen puts its bytes. A regular file is written unnamed where the
// system allows it (else under a temporary name beside it) and put in place
// only after a complete write, so a failed or killed run never leaves a
// partial file nor costs the user an existing one. Anything else that
// exists (a pipe, /dev/null) is written in place; "-" is standard output.

#include <sys/types.h>

#include <string>

#include "fd.h"

namespace kova::cli {

class Target {
public:
    // unnamed_temp false: always a named temporary file, as on a file system
    // without unnamed ones. For the tests.
    explicit Target(bool unnamed_temp = true) : try_unnamed_(unnamed_temp) {}
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;
    ~Target();

    // Returns an empty string on success, else the one-line reason.
    std::string open(const std::string& path, bool force);

    // Hands the open descriptor over to whoever writes and closes it; from
    // then on this object never touches it. Standard output stays open.
    int take_fd();

    // After the output has been closed: puts the file in place.
    std::string commit();
    // After a failure: removes what this run created, and nothing else.
    void discard();

private:
    std::string open_in_place(int flags);
    std::string create(mode_t mode, bool replacing);
    int create_unnamed(mode_t mode);
    int create_named(mode_t mode);
    int link_unnamed(const std::string& name);
    int link_unnamed_over_target();

    std::string path_;     // what the user named
    Fd folder_;            // the folder the file ends up in (links resolved)
    std::string name_;     // its name there
    Fd out_;               // what take_fd hands over
    Fd unnamed_;           // an unnamed file, kept open to be linked in at commit
    std::string temp_;     // a named temporary file in folder_, else empty
    bool force_ = false;
    bool try_unnamed_;
};

}  // namespace kova::cli
