#include "kova/report/run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kova/cli/exit_status.h"
#include "kova/cli/standard_fds.h"

namespace kova::report {

std::string seconds_at(std::uint64_t frames, long rate)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(frames) / static_cast<double>(rate));
    return text;
}

std::string loss_line(const live::Capture_Loss& loss, std::uint64_t kept, long rate,
                      const std::string& program)
{
    const std::string what =
        loss.cause == live::Capture_Loss::Cause::ring_full
            ? "the analysis fell behind on this machine and " + program + " itself lost samples"
            : std::string("the host reported input it had dropped on this machine");
    return what + " at " + seconds_at(loss.at, rate) +
           " (not the chain's doing); the report covers the capture up to " + seconds_at(kept, rate) +
           ", before the buffers the gap may lie in";
}

Run_End watch_run(const Run_Watch& w, cli::Stop_Signals& signals)
{
    Run_End end;
    std::uint64_t last_arrived = 0;
    int still_ms = 0;
    for (;;) {
        const int caught = signals.wait(live::kPollMs);
        if (w.each_poll)
            w.each_poll();
        if (caught || w.done())
            return end;
        if (w.drain.drained_to_loss()) {
            end.problem = loss_line(*w.capture.loss(), w.drain.taken(), w.rate, w.program);
            return end;
        }
        if (w.failure)
            if (std::string failed = w.failure(); !failed.empty()) {
                end.problem = failed;
                return end;
            }
        const std::uint64_t arrived = w.capture.frames_arrived();
        still_ms = arrived == last_arrived ? still_ms + live::kPollMs : 0;
        last_arrived = arrived;
        bool active = true;
        for (const auto* s : w.streams) active = active && s->active();
        if (!active || still_ms >= live::kStallMs) {
            // In the host's words where it ended a stream and said why.
            std::string why = w.source + " went away";
            for (const auto* s : w.streams)
                if (const auto failed = s->failure())
                    why = failed->message;
            end.gone = true;
            end.problem =
                why + " after " + seconds_at(arrived, w.rate) + "; the report covers the capture up to there";
            return end;
        }
    }
}

void stop_run(const Run_Watch& w, Run_End& end, std::unique_ptr<live::Capture>& capture,
              live::Drain_Thread& drain)
{
    if (end.gone) {
        // A host may wait minutes on a server that has gone.
        for (auto* s : w.streams) s->abandon();
    } else {
        cli::Result<void> stopped;
        for (auto* s : w.streams)
            if (auto aborted = s->abort(); !aborted && stopped)
                stopped = aborted;
        if (!stopped && live::host_let_go() && end.problem.empty())
            end.problem = stopped.error().message + "; the report covers the capture up to there";
    }
    if (live::host_let_go())
        static_cast<void>(capture.release());
    drain.stop();
}

int give_report(const std::string& report, const std::string& problem, bool passes, const Complain& complain)
{
    if (!cli::write_standard_output(report)) {
        complain(std::string("cannot write to standard output: ") + std::strerror(errno));
        return live::leave_with(cli::kUsageError);
    }
    if (!problem.empty()) {
        complain(problem);
        return live::leave_with(cli::kUsageError);
    }
    return live::leave_with(passes ? cli::kSuccess : cli::kFailure);
}

}  // namespace kova::report
