#pragma once

// What kova-check --listen and kova-loop share while a live capture runs:
// the samples as the analysis reads them, the watch the main thread keeps
// until the run ends, how the streams are then stopped, the wording of a
// loss on this machine, and how the report and its exit status are given.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kova/analysis/sample_format.h"
#include "kova/cli/stop_signals.h"
#include "kova/live/capture.h"
#include "kova/live/drain_thread.h"
#include "kova/live/host.h"

namespace kova::report {

// The samples a stream hands over: 32-bit floats in the host's own byte
// order, which the live commands take to be little-endian, as on every
// machine they are built for. A capture is judged and saved as it lies.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the live commands expect a little-endian host");
inline constexpr analysis::Sample_Format kHostFloat{analysis::Encoding::ieee_float, 4, 32, false};

// Seconds of audio the ring holds between the callback and the analysis:
// far more than the analysis ever lags, even while it makes a report.
constexpr long kRingSeconds = 2;

// Every error, one line without the program's name.
using Complain = std::function<void(const std::string&)>;

// "1.234 s"
std::string seconds_at(std::uint64_t frames, long rate);

// The line a run ends with when this machine lost samples: where and why,
// and up to where the report goes (`kept` frames, short of the buffers that
// may hold the gap). Either cause says "on this machine", the words the
// live suites make a test again for (scripts/ctest-live.sh).
std::string loss_line(const live::Capture_Loss& loss, std::uint64_t kept, long rate,
                      const std::string& program);

// What the main thread watches while the capture drains into its judge.
struct Run_Watch {
    const live::Capture& capture;
    const live::Drain_Thread& drain;
    std::vector<live::Stream*> streams;
    long rate;
    std::string program;  // as the loss line names it
    std::string source;   // what may go away: "the device or sound server"
    // After every wait: news for the user.
    std::function<void()> each_poll;
    // The run's own end.
    std::function<bool()> done;
    // A fault of the run's own that ends it, as one line; empty while none.
    std::function<std::string()> failure;
};

// How the run ended: `problem` is empty for its own end or a stop asked for
// (SIGINT, SIGTERM, SIGHUP); else it says what went wrong on this machine.
struct Run_End {
    std::string problem;
    bool gone = false;  // the device or server went away
};

// Waits, kPollMs at a time, until a stop signal, done(), samples lost on
// this machine, failure(), or a stream that ended or has brought nothing
// for kStallMs (gone).
Run_End watch_run(const Run_Watch& watch, cli::Stop_Signals& signals);

// Stops the streams as the run ended: let go of where their device went
// away, else aborted, the problem then saying so if the host did not stop
// in time. The capture is left to the process's exit once the host has been
// let go of, since its callback might still write to it; then the drain
// takes what is left.
void stop_run(const Run_Watch& watch, Run_End& end, std::unique_ptr<live::Capture>& capture,
              live::Drain_Thread& drain);

// Prints the report on standard output, then the problem if any, and
// returns the exit status: kUsageError for a report that could not be
// written or a problem, else whether the capture passes.
int give_report(const std::string& report, const std::string& problem, bool passes, const Complain& complain);

}  // namespace kova::report
