#pragma once

// The devices PortAudio offers, with the sample rates each opens exactly.

#include <string>
#include <vector>

namespace kova::live::portaudio {

struct Device {
    int index;
    std::string name;
    std::string host_api;
    int inputs;
    int outputs;
    double default_rate;
    // Among the six pattern rates, those the device runs at without anything
    // converting the rate, in each direction it has.
    std::vector<long> exact_output_rates;
    std::vector<long> exact_input_rates;
    // An ALSA plugin device, which takes any rate and may convert it: none
    // of its rates count as exact.
    bool may_convert;
};

// Every device, in PortAudio's order. Needs PortAudio started.
std::vector<Device> list_devices();

}  // namespace kova::live::portaudio
