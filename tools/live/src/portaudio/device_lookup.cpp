#include "device_lookup.h"

#include <portaudio.h>

#include <algorithm>
#include <cctype>

namespace kova::live::portaudio {

namespace {

int channels_in(const PaDeviceInfo* info, Direction direction)
{
    return direction == Direction::output ? info->maxOutputChannels : info->maxInputChannels;
}

bool all_digits(const std::string& text)
{
    return !text.empty() && text.size() < 7 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

}  // namespace

std::string device_label(int device)
{
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    return info ? std::string("'") + info->name + "'" : "#" + std::to_string(device);
}

Result<int> find_device(const std::string& name, Direction direction)
{
    const char* const way = direction == Direction::output ? "outputs" : "inputs";
    int found = paNoDevice;
    if (name.empty()) {
        found = direction == Direction::output ? Pa_GetDefaultOutputDevice() : Pa_GetDefaultInputDevice();
        if (found == paNoDevice)
            return Error{std::string("no default device with ") + way};
    } else if (all_digits(name)) {
        found = std::stoi(name);
        if (found >= Pa_GetDeviceCount())
            return Error{"no such device: " + name};
    } else {
        for (int d = 0; d < Pa_GetDeviceCount(); ++d) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(d);
            if (name != info->name)
                continue;
            if (found == paNoDevice ||
                (channels_in(Pa_GetDeviceInfo(found), direction) == 0 && channels_in(info, direction) > 0))
                found = d;
        }
        if (found == paNoDevice)
            return Error{"no such device: '" + name + "'"};
    }
    if (channels_in(Pa_GetDeviceInfo(found), direction) == 0)
        return Error{"device " + device_label(found) + " has no " + way};
    return found;
}

}  // namespace kova::live::portaudio
