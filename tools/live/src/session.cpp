#include "kova/live/session.h"

#include <portaudio.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#if __has_include(<pa_jack.h>)
#include <pa_jack.h>
#define KOVA_LIVE_HAS_PA_JACK 1
#endif

#include "quiet_hosts.h"

namespace kova::live {

namespace {
std::atomic<bool> let_go{false};
}

bool host_let_go()
{
    return let_go.load(std::memory_order_acquire);
}

void note_host_let_go()
{
    let_go.store(true, std::memory_order_release);
}

int leave_with(int status)
{
    if (!host_let_go())
        return status;
    std::fflush(nullptr);
    _exit(status);
}

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
    if (error_.empty() && !host_let_go())
        Pa_Terminate();
}

}  // namespace kova::live
