#pragma once

// Finding the device a user named.

#include <string>

#include "exact_rates.h"
#include "kova/live/host.h"

namespace kova::live::portaudio {

// name: an exact device name, or an index as digits; empty for PortAudio's
// default device in that direction. Where two host APIs offer the same name,
// the first with channels in that direction wins.
Result<int> find_device(const std::string& name, Direction direction);

// The device's name as the errors show it.
std::string device_label(int device);

}  // namespace kova::live::portaudio
