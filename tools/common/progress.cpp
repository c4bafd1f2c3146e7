#include "progress.h"

#include <unistd.h>

#include <cstdio>

namespace kova::cli {

namespace {
constexpr std::uint64_t kShowFrom = 50u * 1000 * 1000;  // about 50 MB
}

Progress::Progress(std::uint64_t total_bytes, bool allowed)
    : total_(total_bytes), active_(allowed && total_bytes > kShowFrom && isatty(STDERR_FILENO))
{
}

void Progress::update(std::uint64_t written)
{
    if (!active_)
        return;
    const int percent = static_cast<int>(written * 100 / total_);
    if (percent == last_percent_)
        return;
    last_percent_ = percent;
    std::fprintf(stderr, "\r%3d%%  %.1f MB", percent, static_cast<double>(written) / 1e6);
    std::fflush(stderr);
}

void Progress::clear()
{
    if (active_ && last_percent_ >= 0)
        std::fputs("\r\033[K", stderr);
    last_percent_ = -1;
}

}  // namespace kova::cli
