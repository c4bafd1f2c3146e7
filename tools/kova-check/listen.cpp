#include "listen.h"

#include <memory>

#include "kova/cli/exit_status.h"
#include "kova/cli/printable.h"
#include "kova/cli/status_line.h"
#include "kova/cli/stop_signals.h"
#include "kova/live/capture.h"
#include "kova/live/drain_thread.h"
#include "kova/live/host.h"
#include "kova/report/writers.h"
#include "listen_judge.h"
#include "listen_text.h"

namespace kova::check {
namespace {

const char* const kClient = "kova-check";

// Prints what the analysis has found since last asked, and the status line.
void show_news(Listen_Judge& judge, cli::Status_Line& status, const std::string& device, long rate)
{
    auto news = judge.news();
    for (const auto& e : news.events) status.print_above(event_line(e, rate));
    if (news.so_far)
        status.show(status_text(device, rate, news.frames, *news.so_far));
}

live::Stream_Request stream_request(const Listen_Options& o)
{
    live::Stream_Request request;
    request.input = live::Endpoint{o.device, o.channels, o.trust_plugin};
    request.rate = o.rate;
    request.frames_per_buffer = o.frames_per_buffer;
    request.exclusive = o.exclusive;
    return request;
}

// Made before the stream starts, so that a path that cannot be written is
// refused before anything is captured.
bool open_save(const Listen_Options& o, int channels, std::unique_ptr<Wav_Writer>& save,
               const report::Complain& complain)
{
    if (o.save_path.empty())
        return true;
    auto created = Wav_Writer::create(o.save_path, o.rate, channels);
    if (!created) {
        complain(cli::printable(created.error().message));
        return false;
    }
    save = std::make_unique<Wav_Writer>(std::move(*created));
    return true;
}

std::string listening_line(const Listen_Options& o, const std::string& device, int channels)
{
    return "listening to " + device + ": " + std::to_string(o.rate) + " Hz, " + std::to_string(channels) +
           (channels == 1 ? " channel" : " channels") +
           (o.seconds ? ", " + std::to_string(*o.seconds) + " s" : "") +
           " (Ctrl-C ends it with the report so far)";
}

int give_listen_report(const Listen_Options& o, const std::string& name, report::Capture& result,
                       const std::string& problem, const report::Complain& complain)
{
    report::apply_expectations(result, o.expect);
    return report::give_report(
        o.json ? report::json_report(name, result, o.expect) : report::text_report(name, result, o.expect),
        problem, report::passes(result, o.expect), complain);
}

}  // namespace

int listen(const Listen_Options& o, const report::Complain& complain)
{
    // Before the host starts any thread, so that every thread inherits the block.
    cli::Stop_Signals signals;
    const auto host = live::open_host(kClient);
    if (!host->error().empty()) {
        complain(host->error());
        return cli::kUsageError;
    }
    auto opened = host->open(stream_request(o));
    if (!opened) {
        complain(opened.error().message);
        return cli::kUsageError;
    }
    live::Stream& stream = **opened;
    const int channels = stream.input_channels();
    const std::string device = cli::printable(stream.input_name());  // as the lines on standard error show it

    std::unique_ptr<Wav_Writer> save;
    if (!open_save(o, channels, save, complain))
        return cli::kUsageError;

    // Left to the process's exit if the stream has to be abandoned: the
    // callback of a stalled host might still write to it.
    auto capture = std::make_unique<live::Capture>(
        channels, static_cast<std::size_t>(o.rate * report::kRingSeconds), stream.input_buffer_frames());
    Listen_Judge judge(o.rate, channels, o.expect.seconds, save.get());
    const std::uint64_t limit =
        o.seconds ? static_cast<std::uint64_t>(o.rate) * static_cast<std::uint64_t>(*o.seconds)
                  : ~std::uint64_t{0};
    live::Drain_Thread drain(*capture, judge, limit);
    drain.start();
    if (auto started = stream.start(*capture); !started) {
        complain(started.error().message);
        return cli::kUsageError;
    }

    cli::Status_Line status;
    status.print_above(listening_line(o, device, channels));
    status.show(status_text(device, o.rate, 0, {}));
    const report::Run_Watch watch{*capture,
                                  drain,
                                  {&stream},
                                  o.rate,
                                  kClient,
                                  "the device or sound server",
                                  [&] { show_news(judge, status, device, o.rate); },
                                  [&] { return drain.reached_limit() || judge.pattern_ended(); },
                                  [&] {
                                      const auto failed = judge.save_error();
                                      return failed ? cli::printable(failed->message) +
                                                          "; the report covers the whole capture"
                                                    : std::string();
                                  }};
    auto end = report::watch_run(watch, signals);
    report::stop_run(watch, end, capture, drain);
    show_news(judge, status, device, o.rate);
    status.clear();

    report::Capture result;
    result.format = {"live", "32-bit float", o.rate, channels, drain.taken()};
    result.channels = judge.finish();
    if (save) {
        if (auto closed = save->close(); !closed && end.problem.empty())
            end.problem = cli::printable(closed.error().message);
    }
    return give_listen_report(o, stream.input_name(), result, end.problem, complain);
}

}  // namespace kova::check
