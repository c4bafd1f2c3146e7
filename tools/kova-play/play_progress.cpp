#include "play_progress.h"

#include <unistd.h>

#include <cstdio>

namespace kova::play {

namespace {
void print_time(std::uint64_t seconds)
{
    std::fprintf(stderr, "%llu:%02llu:%02llu", static_cast<unsigned long long>(seconds / 3600),
                 static_cast<unsigned long long>(seconds / 60 % 60),
                 static_cast<unsigned long long>(seconds % 60));
}
}  // namespace

Play_Progress::Play_Progress(long rate, std::uint64_t total_frames)
    : rate_(rate), total_(total_frames), active_(total_frames > 0 && isatty(STDERR_FILENO))
{
}

void Play_Progress::update(std::uint64_t frames_sent)
{
    const auto second = static_cast<std::int64_t>(frames_sent / static_cast<std::uint64_t>(rate_));
    if (!active_ || second == last_second_)
        return;
    last_second_ = second;
    std::fprintf(stderr, "\r%3d%%  ", static_cast<int>(frames_sent * 100 / total_));
    print_time(static_cast<std::uint64_t>(second));
    std::fputs(" of ", stderr);
    print_time(total_ / static_cast<std::uint64_t>(rate_));
    std::fflush(stderr);
}

void Play_Progress::clear()
{
    if (active_ && last_second_ >= 0)
        std::fputs("\r\033[K", stderr);
    last_second_ = -1;
}

}  // namespace kova::play
