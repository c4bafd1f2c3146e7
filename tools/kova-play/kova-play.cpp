// kova-play: plays the KOVA test pattern to a sound device, live, without a
// file: the same words kova-gen writes, on every output channel.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>

#include "args.h"
#include "kova/live/device_table.h"
#include "kova/live/devices.h"
#include "kova/live/pattern_player.h"
#include "kova/live/session.h"
#include "kova/live/stop_signals.h"
#include "kova/live/stream.h"
#include "kova/settings.h"
#include "kova/version.h"
#include "play_progress.h"
#include "printable.h"
#include "standard_fds.h"

namespace {

constexpr int kUsageError = 2;
constexpr int kRunError = 1;
// How often the main thread looks up from waiting for a signal to update
// the progress line and see whether the stream has finished.
constexpr int kPollMs = 100;
// Longer than any buffer the host can ask for (65536 frames at 44.1 kHz is
// 1.5 s): a stream that has taken nothing for this long has lost its device
// or server, and PortAudio does not always say so.
constexpr int kStallMs = 5000;

int fail(int code, const std::string& message)
{
    std::cerr << "kova-play: " << kova::cli::printable(message) << '\n';
    return code;
}

// A device that is not there, or will not run at the rate asked, is fixed on
// the command line like an unknown rate: a usage error. What fails once the
// device has accepted is a run-time failure.
int fail(const kova::live::Error& error)
{
    using Kind = kova::live::Error::Kind;
    return fail(error.kind == Kind::host ? kRunError : kUsageError, error.message);
}

}  // namespace

int main(int argc, char** argv)
{
    if (!kova::cli::open_standard_descriptors())
        return kRunError;  // nowhere to say so

    std::string rate_text = "44100";
    std::string duration_text = "1";
    std::string device;
    unsigned long buffer = 0;
    bool list = false;
    bool quiet = false;
    bool trust_plugin = false;

    CLI::App app{"Plays the KOVA test pattern to a sound device (float32, every output channel).",
                 "kova-play"};
    app.set_version_flag("--version", kova::version_line("kova-play"));
    app.add_option("-r,--rate", rate_text,
                   "Sample rate: " + kova::cli::rate_choices() + " or " + kova::cli::rate_label_range())
        ->capture_default_str();
    app.add_option("-d,--duration", duration_text, "Whole seconds, or a number with s, m or h (10s, 1m, 1h)")
        ->capture_default_str();
    app.add_option("--device", device,
                   "Output device: its name or index from --list-devices [default: the system's]");
    app.add_option("--buffer", buffer, "Frames per buffer [default: the host's choice]")
        ->check(CLI::Range(16ul, 65536ul));
    app.add_flag("--allow-plugin", trust_plugin,
                 "Accept an ALSA plugin device (pulse) at the rate asked, for a sound server running at "
                 "exactly that rate");
    app.add_flag("--list-devices", list, "List the devices and the rates each opens exactly, and exit");
    app.add_flag("-q,--quiet", quiet, "Print nothing on success");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);  // --help, --version
        return fail(kUsageError, e.what());
    }

    if (list) {
        kova::live::Session session("kova-play");
        if (!session.error().empty())
            return fail(kRunError, session.error());
        const auto devices = kova::live::list_devices();
        if (devices.empty())
            return fail(kRunError, kova::live::no_devices_reason());
        std::fputs(kova::live::device_table(devices).c_str(), stdout);
        return 0;
    }

    const auto rate = kova::cli::parse_rate(rate_text);
    if (!rate)
        return fail(kUsageError, "unknown rate '" + rate_text + "' (one of " + kova::cli::rate_choices() +
                                     ", or " + kova::cli::rate_label_range() + ")");
    const auto seconds = kova::cli::parse_duration(duration_text, *rate);
    if (!seconds)
        return fail(kUsageError, "bad duration '" + duration_text + "' (whole seconds from 1 to " +
                                     std::to_string(kova::cli::max_duration(*rate)) + " at " +
                                     std::to_string(*rate) + " Hz, or a number with s, m or h)");

    // Before PortAudio starts any thread.
    kova::live::Stop_Signals signals;
    kova::live::Session session("kova-play");
    if (!session.error().empty())
        return fail(kRunError, session.error());

    kova::live::Stream_Request request;
    request.output = kova::live::Endpoint{device, 0, trust_plugin};
    request.rate = *rate;
    request.frames_per_buffer = buffer;
    auto stream = kova::live::Stream::open(request);
    if (!stream)
        return fail(stream.error());

    const std::uint64_t frames = static_cast<std::uint64_t>(*rate) * static_cast<std::uint64_t>(*seconds);
    // Silence after the pattern, twice what the host buffers and at least a
    // tenth of a second, before the stream ends: its last words then reach
    // the device even through a host that drops its buffers on closing.
    const std::uint64_t tail = std::max<std::uint64_t>(*rate / 10, 2 * stream->output_buffer_frames());
    kova::live::Pattern_Player player(*rate, frames, tail);
    if (const auto failed = stream->start(player))
        return fail(*failed);

    kova::play::Play_Progress progress(*rate, frames);
    int caught = 0;
    std::uint64_t last_sent = 0;
    int still_ms = 0;
    while (stream->active() && still_ms < kStallMs) {
        const std::uint64_t sent = player.frames_sent();
        progress.update(sent);
        still_ms = sent == last_sent ? still_ms + kPollMs : 0;
        last_sent = sent;
        if ((caught = signals.wait(kPollMs)) != 0)
            break;
    }
    progress.clear();
    using kova::live::leave_with;
    if (caught) {
        // Stopped on request: at once, dropping what is queued. The usual
        // status of a program ended by that signal, 128 + its number.
        if (const auto failed = stream->abort())
            fail(kRunError, failed->message);
        return leave_with(128 + caught);
    }
    if (const std::uint64_t sent = player.frames_sent(); sent < frames || still_ms >= kStallMs) {
        // PortAudio's JACK host waits ten minutes for a server that has gone
        // before it stops a stream or itself: both are left to the exit.
        stream->abandon();
        return leave_with(fail(kRunError, "the device or sound server went away after " +
                                              std::to_string(sent) + " of " + std::to_string(frames) +
                                              " frames"));
    }
    if (const auto failed = stream->stop())
        return leave_with(fail(*failed));
    if (player.underflows() > 0)
        return fail(kRunError, "the host reported " + std::to_string(player.underflows()) +
                                   " gaps in what was played: a capture of this run cannot be bit-perfect");
    if (!quiet)
        std::printf("%s: %ld Hz, %d s, %d channels\n", kova::cli::printable(stream->output_name()).c_str(),
                    *rate, *seconds, stream->output_channels());
    return 0;
}
