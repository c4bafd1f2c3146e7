#pragma once

// The device list as the commands print it, one line per device.

#include <string>
#include <vector>

#include "devices.h"

namespace kova::live::portaudio {

std::string device_table(const std::vector<Device>& devices);

// Why the list may be empty, in one line for an error; needs PortAudio started.
std::string no_devices_reason();

}  // namespace kova::live::portaudio
