// kova-play: plays the KOVA test pattern to a sound device, live, without a
// file: the same words kova-gen writes, on every output channel; or the full
// signal, each output its own channel of it.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "kova/cli/args.h"
#include "kova/cli/exit_status.h"
#include "kova/cli/printable.h"
#include "kova/cli/standard_fds.h"
#include "kova/cli/status_line.h"
#include "kova/cli/stop_signals.h"
#include "kova/full_signal.h"
#include "kova/live/host.h"
#include "kova/live/host_flags.h"
#include "kova/live/samples.h"
#include "kova/version.h"
#include "pattern_player.h"

namespace {

using kova::cli::kSuccess;
using kova::cli::kUsageError;

void complain(const std::string& message)
{
    kova::cli::write_text(stderr, "kova-play: " + kova::cli::printable(message) + "\n");
}

// Whatever kept the pattern from being played on this machine, as in the
// live listens: a usage error, a device missing or refusing the rate, a
// host that fails.
int fail(const std::string& message)
{
    complain(message);
    return kUsageError;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!kova::cli::begin_command(argc, argv))
        return kUsageError;  // nowhere to say so

    std::string rate_text = "44100";
    std::string duration_text = "1";
    std::string device;
    unsigned long buffer = 0;
    bool list = false;
    bool quiet = false;
    bool trust_plugin = false;
    std::string signal = "pattern";

    CLI::App app{
        "Plays the KOVA test pattern to a sound device (float32, every output channel), or the full "
        "signal.",
        "kova-play"};
    app.set_version_flag("--version", kova::version_line("kova-play"));
    // The options are those of every system: on Windows too, /name is a file.
    app.allow_windows_style_options(false);
    app.add_option("-r,--rate", rate_text,
                   "Sample rate: " + kova::cli::rate_choices() + " or " + kova::cli::rate_label_range())
        ->capture_default_str();
    app.add_option("-d,--duration", duration_text, "Whole seconds, or a number with s, m or h (10s, 1m, 1h)")
        ->capture_default_str();
    app.add_option("-s,--signal", signal,
                   "pattern (the KOVA pattern on every output), or full: each output its own channel of "
                   "the full signal (up to 8; any more silent)")
        ->check(CLI::IsMember({"pattern", "full"}))
        ->capture_default_str();
    app.add_option("--device", device,
                   "Output device: its name or index from --list-devices [default: the system's]");
    app.add_option("--buffer", buffer, "Frames per buffer [default: the host's choice]")
        ->check(CLI::Range(16ul, 65536ul));
    bool exclusive = false;
    kova::live::add_host_flags(app, trust_plugin, exclusive);
    app.add_flag("--list-devices", list, "List the devices and the rates each opens exactly, and exit");
    app.add_flag("-q,--quiet", quiet, "Print nothing on success");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);  // --help, --version
        return fail(e.what());
    }

    if (list)
        return kova::live::print_devices("kova-play", complain);

    const auto rate = kova::cli::parse_rate(rate_text);
    if (!rate)
        return fail(kova::cli::unknown_rate(rate_text));
    const auto seconds = kova::cli::parse_duration(duration_text, *rate);
    if (!seconds)
        return fail(kova::cli::bad_duration(duration_text, *rate));

    // Before the host starts any thread.
    kova::cli::Stop_Signals signals;
    const auto host = kova::live::open_host("kova-play");
    if (!host->error().empty())
        return fail(host->error());

    kova::live::Stream_Request request;
    request.output = kova::live::Endpoint{device, 0, trust_plugin};
    request.rate = *rate;
    request.frames_per_buffer = buffer;
    request.exclusive = exclusive;
    auto opened = host->open(request);
    if (!opened)
        return fail(opened.error().message);
    kova::live::Stream& stream = **opened;

    const std::uint64_t frames = static_cast<std::uint64_t>(*rate) * static_cast<std::uint64_t>(*seconds);
    // Silence after the pattern, twice what the host buffers and at least a
    // tenth of a second, before the stream ends: its last words then reach
    // the device even through a host that drops its buffers on closing.
    const std::uint64_t tail = std::max<std::uint64_t>(*rate / 10, 2 * stream.output_buffer_frames());
    std::optional<kova::live::Full_Samples> full;
    if (signal == "full")
        full.emplace(*rate, *seconds, std::min(stream.output_channels(), kova::full::kMaxChannels));
    kova::play::Pattern_Player player(*rate, frames, tail, full ? &*full : nullptr);
    if (auto started = stream.start(player); !started)
        return fail(started.error().message);

    // A run can last an hour with nothing else to show.
    kova::cli::Status_Line progress;
    int caught = 0;
    std::uint64_t last_sent = 0;
    int still_ms = 0;
    while (stream.active() && still_ms < kova::live::kStallMs) {
        const std::uint64_t sent = player.frames_sent();
        if (progress.active())
            progress.show(kova::cli::time_progress(sent, frames, *rate));
        still_ms = sent == last_sent ? still_ms + kova::live::kPollMs : 0;
        last_sent = sent;
        if ((caught = signals.wait(kova::live::kPollMs)) != 0)
            break;
    }
    progress.clear();
    using kova::live::leave_with;
    if (caught) {
        // Stopped on request: at once, dropping what is queued. The usual
        // status of a program ended by that signal, 128 + its number.
        if (auto aborted = stream.abort(); !aborted)
            complain(aborted.error().message);
        return leave_with(128 + caught);
    }
    if (const std::uint64_t sent = player.frames_sent(); sent < frames || still_ms >= kova::live::kStallMs) {
        // A host may wait minutes for a server that has gone before it stops
        // a stream or itself: both are left to the exit.
        const auto failed = stream.failure();
        stream.abandon();
        return leave_with(fail((failed ? failed->message : "the device or sound server went away") +
                               " after " + std::to_string(sent) + " of " + std::to_string(frames) +
                               " frames"));
    }
    if (auto stopped = stream.stop(); !stopped)
        return leave_with(fail(stopped.error().message));
    if (player.underflows() > 0)
        return fail("the host reported " + std::to_string(player.underflows()) +
                    " gaps in what was played: a capture of this run cannot be bit-perfect");
    if (!quiet)
        kova::cli::write_text(stdout,
                              kova::cli::printable(stream.output_name()) + ": " +
                                  (full ? "full signal of " + std::to_string(full->channels()) + ", " : "") +
                                  std::to_string(*rate) + " Hz, " + std::to_string(*seconds) + " s, " +
                                  std::to_string(stream.output_channels()) + " channels\n");
    return kSuccess;
}
