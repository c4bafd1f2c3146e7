#pragma once

// Endpoints by the names a user gives, with what the listing shows of them.

#include <windows.h>
#include <mmdeviceapi.h>

#include <string>

#include "com.h"
#include "kova/live/error.h"
#include "kova/live/wasapi/devices.h"

namespace kova::live::wasapi::detail {

struct Found_Endpoint {
    Com_Ptr<IMMDevice> device;
    Device info;
};

// As find_device(); the device itself too, to activate.
Result<Found_Endpoint> find_endpoint(const std::string& name, Direction direction);

// The endpoint's name as the errors show it: 'Speakers (USB DAC)'.
std::string endpoint_label(const Device& device);

}  // namespace kova::live::wasapi::detail
