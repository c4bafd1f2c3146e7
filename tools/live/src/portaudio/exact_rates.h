#pragma once

// Whether a device runs at a rate exactly. PortAudio's own answer is not
// enough: an ALSA plugin device (default, pulse, plug...) accepts any rate
// and converts it out of sight, so only ALSA hardware devices and hosts that
// refuse other rates themselves (JACK) are asked.

#include <vector>

#include "kova/live/direction.h"

namespace kova::live::portaudio {

// True for an ALSA plugin device: it takes any rate it is given.
bool may_convert_rates(int device);

// False for such a device whatever the rate.
bool opens_exactly(int device, Direction direction, int channels, long rate);

// Whether the host accepts the rate at all, converting or not.
bool accepts_rate(int device, Direction direction, int channels, long rate);

// The six pattern rates that opens_exactly() accepts with all the device's
// channels in that direction; empty when it has none.
std::vector<long> exact_rates(int device, Direction direction);

}  // namespace kova::live::portaudio
