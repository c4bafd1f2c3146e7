#include "device_table.h"

#include <portaudio.h>

#include <algorithm>
#include <cstdio>

namespace kova::live::portaudio {

namespace {

std::string rate_list(const std::vector<long>& rates)
{
    std::string text;
    for (const long r : rates) text += (text.empty() ? "" : " ") + std::to_string(r);
    return text;
}

// One list when both directions agree, as they nearly always do.
std::string exact_column(const Device& d)
{
    if (d.may_convert)
        return "none (ALSA plugin, may convert)";
    const bool both = d.inputs > 0 && d.outputs > 0;
    if (both && d.exact_output_rates != d.exact_input_rates)
        return "out " + (d.exact_output_rates.empty() ? "none" : rate_list(d.exact_output_rates)) + ", in " +
               (d.exact_input_rates.empty() ? "none" : rate_list(d.exact_input_rates));
    const auto& rates = d.outputs > 0 ? d.exact_output_rates : d.exact_input_rates;
    return rates.empty() ? "none" : rate_list(rates);
}

}  // namespace

std::string device_table(const std::vector<Device>& devices)
{
    std::size_t name_width = 6, host_width = 8;
    for (const auto& d : devices) {
        name_width = std::max(name_width, d.name.size());
        host_width = std::max(host_width, d.host_api.size());
    }
    const int nw = static_cast<int>(name_width), hw = static_cast<int>(host_width);
    std::string text;
    char line[1024];
    std::snprintf(line, sizeof line, "%5s  %-*s  %-*s  %3s  %3s  %7s  %s\n", "Index", nw, "Device", hw,
                  "Host API", "In", "Out", "Default", "Exact rates");
    text += line;
    for (const auto& d : devices) {
        std::snprintf(line, sizeof line, "%5d  %-*s  %-*s  %3d  %3d  %7.0f  %s\n", d.index, nw,
                      d.name.c_str(), hw, d.host_api.c_str(), d.inputs, d.outputs, d.default_rate,
                      exact_column(d).c_str());
        text += line;
    }
    return text;
}

std::string no_devices_reason()
{
    std::string hosts;
    for (int h = 0; h < Pa_GetHostApiCount(); ++h)
        if (const PaHostApiInfo* info = Pa_GetHostApiInfo(h))
            hosts += (hosts.empty() ? "" : ", ") + std::string(info->name);
    return "no sound device found through " + (hosts.empty() ? std::string("PortAudio") : hosts) +
           ": no sound card, no sound server running (a JACK server, or PulseAudio for ALSA's pulse "
           "plugin), or no permission to use them";
}

}  // namespace kova::live::portaudio
