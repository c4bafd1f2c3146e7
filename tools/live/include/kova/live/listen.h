#pragma once

// kova-check --listen: judges the pattern live as it comes in on an input
// device while another player plays the file, with the same analysis and the
// same report as for a recording of it.

#include <functional>
#include <optional>
#include <string>

#include "check_outcome.h"

namespace kova::live {

struct Listen_Options {
    std::string device;                   // a name or an index from the device list
    long rate = 0;                        // opened exactly, or refused
    int channels = 0;                     // 0: every input the device has
    std::optional<int> seconds;           // stop after this much of the capture
    std::string save_path;                // also write the capture here (32-bit float WAV); empty: not
    unsigned long frames_per_buffer = 0;  // 0: the host's choice
    // Take an ALSA plugin device (pulse, jack) at its word that it runs at
    // the rate asked, as a sound server running at that rate does.
    bool trust_plugin = false;
    bool json = false;
    cli::Expectations expect;
};

// Every error, one line without the program's name.
using Complain = std::function<void(const std::string&)>;

// Listens until the pattern has come and gone, the seconds asked have passed,
// or SIGINT, SIGTERM or SIGHUP; prints the report on standard output and the
// findings as they come on standard error. Returns the exit status: 0 when
// the report passes, 1 when not, 2 when nothing could be captured, or when
// the capture or its saving stopped for a fault of this machine's (after
// the report of what was captured up to there).
int listen(const Listen_Options& options, const Complain& complain);

// The device table of the live commands on standard output; false, having
// complained, when PortAudio did not start or the table could not be written.
bool print_devices(const char* client_name, const Complain& complain);

}  // namespace kova::live
