#include "kova/live/listen.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "check_output.h"
#include "kova/live/capture.h"
#include "kova/live/device_table.h"
#include "kova/live/devices.h"
#include "kova/live/drain_thread.h"
#include "kova/live/listen_judge.h"
#include "kova/live/live_text.h"
#include "kova/live/session.h"
#include "kova/live/status_line.h"
#include "kova/live/stop_signals.h"
#include "kova/live/stream.h"
#include "live_run.h"
#include "printable.h"

namespace kova::live {

namespace {

const char* const kClient = "kova-check";

// Prints what the analysis has found since last asked, and the status line.
void show_news(Listen_Judge& judge, Status_Line& status, const std::string& device, long rate)
{
    auto news = judge.news();
    for (const auto& e : news.events) status.print_above(event_line(e, rate));
    if (news.so_far)
        status.show(status_line(device, rate, news.frames, *news.so_far));
}

}  // namespace

bool print_devices(const char* client_name, const Complain& complain)
{
    Session session(client_name);
    if (!session.error().empty()) {
        complain(session.error());
        return false;
    }
    const auto devices = list_devices();
    if (devices.empty()) {
        complain(no_devices_reason());
        return false;
    }
    if (!write_report(device_table(devices))) {
        complain(std::string("cannot write to standard output: ") + std::strerror(errno));
        return false;
    }
    return true;
}

int listen(const Listen_Options& o, const Complain& complain)
{
    // Before PortAudio starts any thread, so that every thread inherits the block.
    Stop_Signals signals;
    Session session(kClient);
    if (!session.error().empty()) {
        complain(session.error());
        return kCannot;
    }
    Stream_Request request;
    request.input = Endpoint{o.device, o.channels, o.trust_plugin};
    request.rate = o.rate;
    request.frames_per_buffer = o.frames_per_buffer;
    auto stream = Stream::open(request);
    if (!stream) {
        complain(stream.error().message);
        return kCannot;
    }
    const int channels = stream->input_channels();
    const std::string device =
        cli::printable(stream->input_name());  // as the lines on standard error show it

    std::unique_ptr<Wav_Writer> save;
    if (!o.save_path.empty()) {
        auto created = Wav_Writer::create(o.save_path, o.rate, channels);
        if (!created) {
            complain(cli::printable(created.error().message));
            return kCannot;
        }
        save = std::make_unique<Wav_Writer>(std::move(*created));
    }

    // Left to the process's exit if the stream has to be abandoned: the
    // callback of a stalled host might still write to it.
    auto capture_owner = std::make_unique<Capture>(channels, static_cast<std::size_t>(o.rate * kRingSeconds),
                                                   stream->input_buffer_frames());
    Capture& capture = *capture_owner;
    Listen_Judge judge(o.rate, channels, o.expect.seconds, save.get());
    const std::uint64_t limit =
        o.seconds ? static_cast<std::uint64_t>(o.rate) * static_cast<std::uint64_t>(*o.seconds)
                  : ~std::uint64_t{0};
    Drain_Thread drain(capture, judge, limit);
    drain.start();
    if (const auto failed = stream->start(capture)) {
        complain(failed->message);
        return kCannot;
    }

    Status_Line status;
    status.print_above("listening to " + device + ": " + std::to_string(o.rate) + " Hz, " +
                       std::to_string(channels) + (channels == 1 ? " channel" : " channels") +
                       (o.seconds ? ", " + std::to_string(*o.seconds) + " s" : "") +
                       " (Ctrl-C ends it with the report so far)");
    status.show(status_line(device, o.rate, 0, {}));
    std::string problem;
    bool gone = false;
    std::uint64_t last_arrived = 0;
    int still_ms = 0;
    for (;;) {
        const int caught = signals.wait(kPollMs);
        show_news(judge, status, device, o.rate);
        if (caught || drain.reached_limit() || judge.pattern_ended())
            break;
        if (drain.drained_to_loss()) {
            problem = loss_line(*capture.loss(), drain.taken(), o.rate, kClient);
            break;
        }
        if (const auto failed = judge.save_error()) {
            problem = cli::printable(failed->message) + "; the report covers the whole capture";
            break;
        }
        const std::uint64_t arrived = capture.frames_arrived();
        still_ms = arrived == last_arrived ? still_ms + kPollMs : 0;
        last_arrived = arrived;
        if (!stream->active() || still_ms >= kStallMs) {
            gone = true;
            problem = "the device or sound server went away after " + seconds_at(arrived, o.rate) +
                      "; the report covers the capture up to there";
            break;
        }
    }
    if (gone) {
        // PortAudio's JACK host waits minutes on a server that has gone.
        stream->abandon();
    } else if (const auto failed = stream->abort(); failed && host_let_go() && problem.empty()) {
        problem = failed->message + "; the report covers the capture up to there";
    }
    if (host_let_go())
        static_cast<void>(capture_owner.release());
    drain.stop();
    show_news(judge, status, device, o.rate);
    status.clear();

    cli::Capture result;
    result.format = {"live", "32-bit float", o.rate, channels, drain.taken()};
    result.channels = judge.finish();
    if (save) {
        if (const auto failed = save->close(); failed && problem.empty())
            problem = cli::printable(failed->message);
    }
    cli::apply_expectations(result, o.expect);
    const std::string& name = stream->input_name();
    const std::string report =
        o.json ? cli::json_report(name, result, o.expect) : cli::text_report(name, result, o.expect);
    if (!write_report(report)) {
        complain(std::string("cannot write to standard output: ") + std::strerror(errno));
        return leave_with(kCannot);
    }
    if (!problem.empty()) {
        complain(problem);
        return leave_with(kCannot);
    }
    return leave_with(cli::passes(result, o.expect) ? kPass : kFail);
}

}  // namespace kova::live
