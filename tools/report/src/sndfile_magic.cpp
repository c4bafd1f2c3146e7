#include <cstring>

#include "sndfile_source.h"

namespace kova::report {
namespace {

bool is(const unsigned char* p, const char* id)
{
    return std::memcmp(p, id, 4) == 0;
}

}  // namespace

bool looks_like_sndfile(const unsigned char* bytes, std::size_t count)
{
    if (count >= 12 && is(bytes, "FORM") && (is(bytes + 8, "AIFF") || is(bytes + 8, "AIFC")))
        return true;
    return count >= 4 && (is(bytes, "fLaC") || is(bytes, "caff"));
}

}  // namespace kova::report
