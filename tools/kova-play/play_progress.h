#pragma once

// One self-overwriting line on standard error while the pattern plays, on a
// terminal only: a run can last an hour with nothing else to show.

#include <cstdint>

namespace kova::play {

class Play_Progress {
public:
    Play_Progress(long rate, std::uint64_t total_frames);
    void update(std::uint64_t frames_sent);
    void clear();

private:
    long rate_;
    std::uint64_t total_;
    bool active_;
    std::int64_t last_second_ = -1;
};

}  // namespace kova::play
