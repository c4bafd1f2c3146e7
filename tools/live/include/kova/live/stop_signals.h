#pragma once

// Ctrl-C and its kin, taken in turn rather than in a handler: blocked from
// the start, so that every thread PortAudio and the sound server's client
// library make inherits the block, and then waited for by the main thread
// between progress updates. An interrupted run stops and closes its stream
// like any other.

#include <csignal>

namespace kova::live {

class Stop_Signals {
public:
    // Blocks SIGINT, SIGTERM and SIGHUP, less any ignored on arrival (nohup).
    Stop_Signals();
    // Waits up to milliseconds for one of them; returns its number, or 0.
    int wait(int milliseconds);

private:
    sigset_t set_;
};

}  // namespace kova::live
