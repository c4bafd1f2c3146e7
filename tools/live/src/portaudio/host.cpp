// The host API of every build but Windows: PortAudio, with the devices and
// hosts it offers (ALSA, JACK).

#include <portaudio.h>

#if __has_include(<pa_jack.h>)
#include <pa_jack.h>
#define KOVA_LIVE_HAS_PA_JACK 1
#endif

#include "device_lookup.h"
#include "device_table.h"
#include "devices.h"
#include "kova/live/host.h"
#include "quiet_hosts.h"
#include "stream.h"

namespace kova::live {
namespace portaudio {
namespace {

class Portaudio_Host final : public Host {
public:
    explicit Portaudio_Host(const char* client_name) : client_name_(client_name)
    {
        quiet_host_libraries();
#ifdef KOVA_LIVE_HAS_PA_JACK
        PaJack_SetClientName(client_name_.c_str());
#endif
        if (const PaError err = Pa_Initialize(); err != paNoError)
            error_ = std::string("PortAudio did not start: ") + Pa_GetErrorText(err);
    }

    // PortAudio is not shut down once a stream has been let go of: that
    // would wait on the same host.
    ~Portaudio_Host() override
    {
        if (error_.empty() && !host_let_go())
            Pa_Terminate();
    }

    const std::string& error() const override
    {
        return error_;
    }

    Result<std::string> device_table() override
    {
        const auto devices = list_devices();
        if (devices.empty())
            return Error{no_devices_reason()};
        return portaudio::device_table(devices);
    }

    Result<std::string> device_id(const std::string& name, Direction direction) override
    {
        const auto found = find_device(name, direction);
        if (!found)
            return found.error();
        return std::to_string(*found);
    }

    Result<std::unique_ptr<Stream>> open(const Stream_Request& request) override
    {
        return Portaudio_Stream::open(request);
    }

private:
    std::string client_name_;  // PortAudio keeps the pointer, not a copy
    std::string error_;
};

}  // namespace
}  // namespace portaudio

std::unique_ptr<Host> open_host(const char* client_name)
{
    return std::make_unique<portaudio::Portaudio_Host>(client_name);
}

}  // namespace kova::live
