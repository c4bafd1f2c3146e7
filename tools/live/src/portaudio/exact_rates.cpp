#include "exact_rates.h"

#include <portaudio.h>

#include <cstring>

#include "kova/settings.h"

namespace kova::live::portaudio {

bool may_convert_rates(int device)
{
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (!info || Pa_GetHostApiInfo(info->hostApi)->type != paALSA)
        return false;
    // PortAudio names the devices it opens straight on the hardware
    // "<card>: <pcm> (hw:C,D)"; everything else on ALSA is a plugin chain.
    return std::strstr(info->name, "(hw:") == nullptr;
}

bool opens_exactly(int device, Direction direction, int channels, long rate)
{
    return !may_convert_rates(device) && accepts_rate(device, direction, channels, rate);
}

bool accepts_rate(int device, Direction direction, int channels, long rate)
{
    if (channels < 1)
        return false;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    const bool out = direction == Direction::output;
    const PaStreamParameters params{device, channels, paFloat32,
                                    out ? info->defaultLowOutputLatency : info->defaultLowInputLatency,
                                    nullptr};
    return Pa_IsFormatSupported(out ? nullptr : &params, out ? &params : nullptr,
                                static_cast<double>(rate)) == paFormatIsSupported;
}

std::vector<long> exact_rates(int device, Direction direction)
{
    std::vector<long> rates;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (!info)
        return rates;
    const int channels = direction == Direction::output ? info->maxOutputChannels : info->maxInputChannels;
    for (const auto& choice : kRates)
        if (opens_exactly(device, direction, channels, choice.rate))
            rates.push_back(choice.rate);
    return rates;
}

}  // namespace kova::live::portaudio
