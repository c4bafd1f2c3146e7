#include "kova/cli/error.h"

#include <cstring>

namespace kova::cli {

Error system_error(const std::string& what, int err)
{
    return Error{what + ": " + std::strerror(err)};
}

}  // namespace kova::cli
