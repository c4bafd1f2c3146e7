#include "kova/cli/status_line.h"

#ifdef _WIN32
#include "kova/cli/windows.h"
#else
#include <unistd.h>
#endif

#include <cstdio>

#include "kova/cli/standard_fds.h"

namespace kova::cli {

namespace {

// Where the line can be drawn over: a terminal, or a Windows console that
// draws escapes (Windows 10 and later); NUL is a character device too.
bool error_is_terminal()
{
#ifdef _WIN32
    return windows::is_console(stderr) && windows::draws_escapes(stderr);
#else
    return isatty(STDERR_FILENO) == 1;
#endif
}

}  // namespace

Status_Line::Status_Line(bool wanted) : active_(wanted && error_is_terminal()) {}

void Status_Line::show(const std::string& text)
{
    if (!active_ || text == shown_)
        return;
    shown_ = text;
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    std::fflush(stderr);
}

void Status_Line::print_above(const std::string& line)
{
    if (active_ && !shown_.empty())
        std::fputs("\r\033[K", stderr);
    write_text(stderr, line + "\n");
    if (active_ && !shown_.empty())
        std::fprintf(stderr, "%s\033[K", shown_.c_str());
    std::fflush(stderr);
}

void Status_Line::clear()
{
    if (active_ && !shown_.empty()) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    shown_.clear();
}

std::string clock_text(std::uint64_t seconds)
{
    char text[48];
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60),
                  static_cast<unsigned long long>(seconds % 60));
    return text;
}

std::string bytes_progress(std::uint64_t done, std::uint64_t total)
{
    char text[64];
    std::snprintf(text, sizeof text, "%3d%%  %.1f MB", total ? static_cast<int>(done * 100 / total) : 0,
                  static_cast<double>(done) / 1e6);
    return text;
}

std::string time_progress(std::uint64_t frames, std::uint64_t total, long rate)
{
    const auto r = static_cast<std::uint64_t>(rate);
    char text[16];
    std::snprintf(text, sizeof text, "%3d%%  ", total ? static_cast<int>(frames * 100 / total) : 0);
    return text + clock_text(frames / r) + " of " + clock_text(total / r);
}

}  // namespace kova::cli
