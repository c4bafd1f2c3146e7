// kova-loop: plays the KOVA test pattern out of a sound device and judges it
// coming back in, with the round trip's latency and which output reached
// which input.

#include <CLI/CLI.hpp>
#include <string>

#include "kova/cli/args.h"
#include "kova/cli/exit_status.h"
#include "kova/cli/printable.h"
#include "kova/cli/standard_fds.h"
#include "kova/live/host.h"
#include "kova/live/host_flags.h"
#include "kova/version.h"
#include "loop.h"

namespace {

using kova::cli::kUsageError;

void complain(const std::string& message)
{
    kova::cli::write_text(stderr, "kova-loop: " + kova::cli::printable(message) + "\n");
}

}  // namespace

int main(int argc, char** argv)
{
    if (!kova::cli::begin_command(argc, argv))
        return kUsageError;  // nowhere to say so

    kova::loop::Loop_Options options;
    std::string rate_text = "48000";
    std::string duration_text = "10s";
    bool list = false;

    CLI::App app{
        "Plays the KOVA test pattern out of a sound device and judges it coming back in: bit-perfect or\n"
        "what the loop did to it, the round trip's latency, and which output reached which input.",
        "kova-loop"};
    app.set_version_flag("--version", kova::version_line("kova-loop"));
    // The options are those of every system: on Windows too, /name is a file.
    app.allow_windows_style_options(false);
    app.add_option("--out", options.output, "Output device: its name or index from --list-devices");
    app.add_option("--in", options.input,
                   "Input device: its name or index; the same as --out makes one duplex stream");
    app.add_option(
           "-r,--rate", rate_text,
           "Sample rate, opened exactly on both: 44100 ... 192000 or " + kova::cli::rate_label_range())
        ->capture_default_str();
    app.add_option("-d,--duration", duration_text,
                   "How long the pattern plays: whole seconds, or with s, m or h")
        ->capture_default_str();
    std::string signal = "pattern";
    app.add_option("-s,--signal", signal,
                   "pattern, or full: each output its own channel of the full signal (up to 8), which tells "
                   "the map and the latency from the run itself")
        ->check(CLI::IsMember({"pattern", "full"}))
        ->capture_default_str();
    app.add_option("--buffer", options.frames_per_buffer, "Frames per buffer [default: the host's choice]")
        ->check(CLI::Range(16ul, 65536ul));
    kova::live::add_host_flags(app, options.trust_plugin, options.exclusive);
    app.add_flag("--json", options.json, "One JSON object on one line");
    app.add_flag("--list-devices", list, "List the devices and the rates each opens exactly, and exit");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);  // --help, --version
        complain(e.what());
        return kUsageError;
    }
    if (list)
        return kova::live::print_devices("kova-loop", complain);
    if (options.output.empty() || options.input.empty()) {
        complain("--out and --in are required (the devices from --list-devices)");
        return kUsageError;
    }
    const auto rate = kova::cli::parse_rate(rate_text);
    if (!rate) {
        complain(kova::cli::unknown_rate(rate_text));
        return kUsageError;
    }
    const auto seconds = kova::cli::parse_duration(duration_text, *rate);
    if (!seconds) {
        complain(kova::cli::bad_duration(duration_text, *rate));
        return kUsageError;
    }
    options.rate = *rate;
    options.seconds = *seconds;
    options.full = signal == "full";
    return kova::loop::loop(options, complain);
}
