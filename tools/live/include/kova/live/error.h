#pragma once

// The live layer passes failures up as the commands do: one Error, one
// Result (kova/cli/error.h).

#include "kova/cli/error.h"

namespace kova::live {

using cli::Error;
using cli::Result;

}  // namespace kova::live
