#pragma once

namespace kova::live {

// Which way a device or stream carries samples: to the device (playback,
// render) or from it (capture).
enum class Direction { output, input };

}  // namespace kova::live
