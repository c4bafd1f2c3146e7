#include "kova/cli/stop_signals.h"

#include <csignal>
#include <ctime>
#include <initializer_list>

namespace kova::cli {

namespace {

volatile std::sig_atomic_t caught = 0;

extern "C" void note(int sig)
{
    caught = sig;
}

// The step the main thread sleeps in while it waits: short against any
// update it makes.
constexpr long kStepNs = 10'000'000;

}  // namespace

Stop_Signals::Stop_Signals()
{
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        // One ignored on arrival stays ignored.
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
            continue;
        struct sigaction act {};
        act.sa_handler = note;
        act.sa_flags = SA_RESTART;  // a write it lands in goes on
        sigemptyset(&act.sa_mask);
        sigaction(sig, &act, nullptr);
    }
}

int Stop_Signals::wait(int milliseconds)
{
    for (long left = milliseconds * 1'000'000L; caught == 0 && left > 0; left -= kStepNs) {
        const timespec step{0, left < kStepNs ? left : kStepNs};
        nanosleep(&step, nullptr);  // a signal here only ends the step early
    }
    return caught;
}

}  // namespace kova::cli
