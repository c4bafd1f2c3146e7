#pragma once

// Where kova-gen puts its bytes. A regular file is written under a temporary
// name beside it and renamed over it only after a complete write, so a failed
// run never costs the user an existing file. Anything else that exists (a
// pipe, /dev/null) is written in place; "-" is standard output.

#include <sys/types.h>

#include <string>

namespace kova::cli {

class Target {
public:
    Target() = default;
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
    std::string open_temp(const std::string& folder, const std::string& name, mode_t mode);

    std::string path_;      // what the user named
    std::string final_;     // where the file ends up (symbolic links resolved)
    std::string temp_;      // empty unless writing under a temporary name
    bool force_ = false;
    int fd_ = -1;
};

}  // namespace kova::cli
