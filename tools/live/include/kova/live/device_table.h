#pragma once

// The device list as the commands print it, one line per device.

#include <string>
#include <vector>

#include "kova/live/devices.h"

namespace kova::live {

std::string device_table(const std::vector<Device>& devices);

}  // namespace kova::live
