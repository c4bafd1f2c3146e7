#pragma once

// The device list as the commands print it, one line per device.

#include <string>
#include <vector>

#include "kova/live/devices.h"

namespace kova::live {

std::string device_table(const std::vector<Device>& devices);

// Why the list may be empty, in one line for an error; needs a live Session.
std::string no_devices_reason();

}  // namespace kova::live
