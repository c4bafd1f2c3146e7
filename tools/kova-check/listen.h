#pragma once

// kova-check --listen: judges the pattern live as it comes in on an input
// device while another player plays the file, with the same analysis and the
// same report as for a recording of it.

#include <optional>
#include <string>

#include "kova/report/outcome.h"
#include "kova/report/run.h"

namespace kova::check {

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
    bool exclusive = false;  // WASAPI's exclusive mode
    bool json = false;
    report::Expectations expect;
};

// Listens until the pattern has come and gone, the seconds asked have passed,
// or SIGINT, SIGTERM or SIGHUP; prints the report on standard output and the
// findings as they come on standard error. Returns the exit status: 0 when
// the report passes, 1 when not, 2 when nothing could be captured, or when
// the capture or its saving stopped for a fault of this machine's (after
// the report of what was captured up to there).
int listen(const Listen_Options& options, const report::Complain& complain);

}  // namespace kova::check
