#include "live_run.h"

#include <cerrno>
#include <cstdio>

namespace kova::live {

std::string seconds_at(std::uint64_t frames, long rate)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(frames) / static_cast<double>(rate));
    return text;
}

std::string loss_line(const Capture_Loss& loss, std::uint64_t kept, long rate, const std::string& program)
{
    const std::string what = loss.cause == Capture_Loss::Cause::ring_full
                                 ? "the analysis fell behind and " + program + " itself lost samples"
                                 : std::string("the host reported input it had dropped on this machine");
    return what + " at " + seconds_at(loss.at, rate) +
           " (not the chain's doing); the report covers the capture up to " + seconds_at(kept, rate) +
           ", before the buffers the gap may lie in";
}

bool write_report(const std::string& text)
{
    errno = 0;
    std::fputs(text.c_str(), stdout);
    const bool ok = std::fflush(stdout) == 0 && !std::ferror(stdout);
    // A stream error need not leave errno set; the message still needs a cause.
    if (!ok && errno == 0)
        errno = EIO;
    return ok;
}

}  // namespace kova::live
