#pragma once

// The samples PortAudio hands over: 32-bit floats in the host's own byte
// order, which the live commands take to be little-endian, as on every
// machine they are built for. A capture is judged and saved as it lies.

#include "kova/analysis/sample_format.h"

namespace kova::live {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the live commands expect a little-endian host");

inline constexpr analysis::Sample_Format kHostFloat{analysis::Encoding::ieee_float, 4, 32, false};

}  // namespace kova::live
