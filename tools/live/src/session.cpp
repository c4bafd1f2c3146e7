#include "kova/live/session.h"

#include <portaudio.h>

#if __has_include(<pa_jack.h>)
#include <pa_jack.h>
#define KOVA_LIVE_HAS_PA_JACK 1
#endif

#include "quiet_hosts.h"

namespace kova::live {

Session::Session(const char* client_name) : client_name_(client_name)
{
    quiet_host_libraries();
#ifdef KOVA_LIVE_HAS_PA_JACK
    PaJack_SetClientName(client_name_.c_str());
#endif
    if (const PaError err = Pa_Initialize(); err != paNoError)
        error_ = std::string("PortAudio did not start: ") + Pa_GetErrorText(err);
}

Session::~Session()
{
    if (error_.empty() && !abandoned_)
        Pa_Terminate();
}

}  // namespace kova::live
