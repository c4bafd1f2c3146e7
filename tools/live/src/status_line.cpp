#include "kova/live/status_line.h"

#include <unistd.h>

#include <cstdio>

namespace kova::live {

Status_Line::Status_Line() : terminal_(isatty(STDERR_FILENO) == 1) {}

void Status_Line::show(const std::string& text)
{
    if (!terminal_)
        return;
    shown_ = text;
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    std::fflush(stderr);
}

void Status_Line::print_above(const std::string& line)
{
    if (terminal_ && !shown_.empty())
        std::fputs("\r\033[K", stderr);
    std::fprintf(stderr, "%s\n", line.c_str());
    if (terminal_ && !shown_.empty())
        std::fprintf(stderr, "%s\033[K", shown_.c_str());
    std::fflush(stderr);
}

void Status_Line::clear()
{
    if (terminal_ && !shown_.empty()) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
    shown_.clear();
}

}  // namespace kova::live
