#pragma once

// kova-loop: plays the pattern out of one device and judges it coming back
// in on another (or the same), with the round trip's latency and which
// output reached which input.

#include <string>

#include "kova/report/run.h"

namespace kova::loop {

struct Loop_Options {
    std::string output;  // names or indexes from the device list
    std::string input;
    long rate = 0;
    int seconds = 1;
    unsigned long frames_per_buffer = 0;  // 0: the host's choice
    // Take ALSA plugin devices (pulse) at their word, as kova-check --listen
    // --allow-plugin does.
    bool trust_plugin = false;
    bool exclusive = false;  // WASAPI's exclusive mode
    bool json = false;
    // The full signal instead of the pattern: each output its own channel
    // of it, which names the map and the latency from the run itself.
    bool full = false;
};

// Runs the loop and prints what came back on standard output. Returns the
// exit status: 0 when every input that the run reached has it bit-perfect
// for its whole length, 1 when not (or nothing came back), 2 when a device
// cannot be opened at the rate, or the run stopped for a fault of this
// machine's (after the report of what was captured up to there).
int loop(const Loop_Options& options, const report::Complain& complain);

}  // namespace kova::loop
