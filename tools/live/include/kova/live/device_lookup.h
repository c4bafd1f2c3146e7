#pragma once

// Finding the device a user named.

#include <string>

#include "kova/live/error.h"
#include "kova/live/exact_rates.h"

namespace kova::live {

// name: an exact device name, or an index as digits; empty for PortAudio's
// default device in that direction. Where two host APIs offer the same name,
// the first with channels in that direction wins.
Expected<int> find_device(const std::string& name, Direction direction);

// The device's name as the errors show it.
std::string device_label(int device);

}  // namespace kova::live
