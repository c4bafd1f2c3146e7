#pragma once

// One self-overwriting line on standard error while a large file is written.

#include <cstdint>

namespace kova::cli {

class Progress {
public:
    // Active only when allowed (standard error is not the output itself),
    // standard error is a terminal and the file is large enough for the wait
    // to be noticed.
    Progress(std::uint64_t total_bytes, bool allowed);
    void update(std::uint64_t written);
    void clear();

private:
    std::uint64_t total_;
    bool active_;
    int last_percent_ = -1;
};

}  // namespace kova::cli
