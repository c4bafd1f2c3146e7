#pragma once

// The audio endpoints Windows offers: each plays (render) or captures, has
// a stable endpoint ID and a friendly name, and in shared mode runs at its
// mix format's rate only.

#include <array>
#include <string>
#include <vector>

#include "kova/live/direction.h"
#include "kova/live/error.h"
#include "kova/live/sample_encoding.h"

namespace kova::live::wasapi {

struct Device {
    // Its place in this listing only: Windows keeps no order between two.
    int index;
    std::string id;    // the endpoint ID, stable while the device exists
    std::string name;  // the friendly name
    Direction direction;
    bool is_default;  // the default endpoint of its direction
    int channels;     // the mix format's
    long mix_rate;    // the one rate shared mode opens
    std::string mix_format;
    double period_ms;  // the engine's default and minimum periods
    double min_period_ms;
    // Among the six pattern rates, those exclusive mode opens with all the
    // channels, per encoding (float32, int32, int24).
    std::array<std::vector<long>, 3> exclusive_rates;
    // Why exclusive mode opens none at all, when the host says why.
    std::string exclusive_refusal;
};

// Every active endpoint, both directions. Needs a live Session.
std::vector<Device> list_devices();

// name: a friendly name, an endpoint ID, or an index of list_devices() as
// digits; empty for the default endpoint. An endpoint in the other direction
// is refused, and so is a friendly name that two endpoints share (their IDs
// tell them apart).
Result<Device> find_device(const std::string& name, Direction direction);

// The listing as --list-devices prints it, one line per endpoint.
std::string device_table(const std::vector<Device>& devices);

}  // namespace kova::live::wasapi
