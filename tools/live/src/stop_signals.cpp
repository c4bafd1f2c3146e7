#include "kova/live/stop_signals.h"

#include <ctime>
#include <initializer_list>

namespace kova::live {

Stop_Signals::Stop_Signals()
{
    sigemptyset(&set_);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        // A blocked signal is queued even when ignored, so one ignored on
        // arrival is left out rather than waited for.
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            sigaddset(&set_, sig);
    }
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
}

int Stop_Signals::wait(int milliseconds)
{
    const timespec timeout{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    const int sig = sigtimedwait(&set_, nullptr, &timeout);
    return sig > 0 ? sig : 0;
}

}  // namespace kova::live
