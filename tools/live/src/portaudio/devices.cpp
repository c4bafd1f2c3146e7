#include "devices.h"

#include <portaudio.h>

#include "exact_rates.h"

namespace kova::live::portaudio {

std::vector<Device> list_devices()
{
    std::vector<Device> devices;
    const int count = Pa_GetDeviceCount();
    for (int d = 0; d < count; ++d) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(d);
        devices.push_back({d, info->name, Pa_GetHostApiInfo(info->hostApi)->name, info->maxInputChannels,
                           info->maxOutputChannels, info->defaultSampleRate,
                           exact_rates(d, Direction::output), exact_rates(d, Direction::input),
                           may_convert_rates(d)});
    }
    return devices;
}

}  // namespace kova::live::portaudio
