#include "signal_cleanup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace kova::cli {
namespace {

// Relative to an open folder, so that a path of any length can be removed
// with one async-signal-safe call.
volatile int g_folder = -1;
char* volatile g_name = nullptr;

extern "C" void remove_and_die(int sig)
{
    if (char* name = g_name) {
        g_name = nullptr;
        unlinkat(g_folder, name, 0);
    }
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(sig, &default_action, nullptr);
    // Blocked while the handler runs: it arrives, with its default action,
    // as the handler returns.
    raise(sig);
}

// Every signal whose default action ends the process and that can be
// caught. SIGXFSZ is left out: it is ignored instead.
constexpr int kFatalSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1,
    SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGEMT
    SIGEMT,
#endif
#ifdef SIGLOST
    SIGLOST,
#endif
};

void catch_signal(int sig)
{
    struct sigaction current {};
    // Only a default disposition is replaced: an ignored signal was ignored
    // on purpose by whoever started us, and a handler already here belongs
    // to the runtime (a sanitizer reporting a crash).
    if (sigaction(sig, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) ||
        current.sa_handler != SIG_DFL)
        return;
    struct sigaction action {};
    action.sa_handler = remove_and_die;
    sigfillset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
}

}  // namespace

void install_signal_cleanup()
{
    for (const int sig : kFatalSignals) catch_signal(sig);
#if defined(SIGRTMIN) && defined(SIGRTMAX)
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) catch_signal(sig);
#endif
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, nullptr);
}

void remove_on_signal(int folder, const char* name)
{
    char* const old = g_name;
    g_folder = folder;
    g_name = name ? strdup(name) : nullptr;
    std::free(old);
}

Signals_Held::Signals_Held()
{
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &saved_);
}

Signals_Held::~Signals_Held()
{
    sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

}  // namespace kova::cli
