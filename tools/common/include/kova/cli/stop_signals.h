#pragma once

// Ctrl-C and its kin, noted by a handler that only records which came, and
// taken in turn by the main thread between its updates, so that an
// interrupted run stops and closes its stream like any other and prints
// what it has. Whichever thread the system hands a signal to (PortAudio's
// and the sound server's included), the handler does nothing else.
// (sigtimedwait would be neater, but macOS has none.)

namespace kova::cli {

class Stop_Signals {
public:
    // Handles SIGINT, SIGTERM and SIGHUP, less any ignored on arrival (nohup).
    Stop_Signals();
    // Waits up to milliseconds for one of them; returns its number, or 0.
    int wait(int milliseconds);
};

}  // namespace kova::cli
