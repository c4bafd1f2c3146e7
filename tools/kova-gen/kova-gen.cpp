// kova-gen: writes the KOVA test-pattern WAV file from the command line.

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "fd_output.h"
#include "kova/cli/args.h"
#include "kova/cli/error.h"
#include "kova/cli/exit_status.h"
#include "kova/cli/printable.h"
#include "kova/cli/standard_fds.h"
#include "kova/cli/status_line.h"
#include "kova/full_generate.h"
#include "kova/full_signal.h"
#include "kova/generate.h"
#include "kova/settings.h"
#include "kova/sizes.h"
#include "kova/status.h"
#include "kova/version.h"
#include "target.h"
#ifndef _WIN32
#include "signal_cleanup.h"
#endif

namespace {

using kova::cli::Error;

constexpr int kStandardOutput = 1;
constexpr int kStandardError = 2;

using kova::cli::kUsageError;
// What kept the file from being written.
constexpr int kRunError = kova::cli::kFailure;

// Cleared when standard error is the output itself: nothing but the file's
// bytes may reach it.
bool g_may_report = true;

// The one place an error becomes the line the user reads.
int fail(int code, const Error& error)
{
    if (g_may_report)
        kova::cli::write_text(stderr, "kova-gen: " + kova::cli::printable(error.message) + "\n");
    return code;
}

std::string list_text()
{
    std::string text = "Sample rates:\n";
    char line[64];
    for (const auto& r : kova::kRates) {
        std::snprintf(line, sizeof line, "  %-8ld %s\n", r.rate, r.label);
        text += line;
    }
    text += "Durations:\n";
    for (const auto& d : kova::kDurations) {
        std::snprintf(line, sizeof line, "  %-8d %s\n", d.seconds, d.label);
        text += line;
    }
    return text;
}

// --help, --version and --list. Asked for and not delivered (a full disk,
// standard output closed) is no success, nor is it a failed run of the
// generator: the status of a usage error.
int answer(const std::string& text)
{
    if (kova::cli::write_standard_output(text))
        return kova::cli::kSuccess;
    return fail(kUsageError, kova::cli::output_error());
}

// Why a generation that did not return kOk failed. Every failure but memory
// passes through the output, which keeps the first one's reason.
Error generation_error(int status, const kova::cli::Fd_Output& out)
{
    if (status == kova::kNoMemory)
        return Error{"out of memory"};
    if (const auto written = out.result(); !written)
        return written.error();
    return kova::cli::system_error("write failed", EIO);
}

// kova-full-<channels>ch-<rate>Hz-<seconds>s.wav
std::string full_file_name(long rate, int seconds, int channels)
{
    return "kova-full-" + std::to_string(channels) + "ch-" + std::to_string(rate) + "Hz-" +
           std::to_string(seconds) + "s.wav";
}

}  // namespace

int main(int argc, char** argv)
{
    if (!kova::cli::begin_command(argc, argv))
        return kRunError;  // nowhere to say so
#ifndef _WIN32
    kova::cli::install_signal_cleanup();
#endif

    std::string rate_text = "44100";
    std::string duration_text = "1";
    std::string path;
    bool force = false;
    bool quiet = false;
    bool list = false;
    std::string signal = "pattern";
    int channels = 1;

    CLI::App app{"Writes a KOVA test-pattern WAV file (PCM, mono, 24-bit), or the full signal.", "kova-gen"};
    app.set_version_flag("--version", kova::version_line("kova-gen"));
    // The options are those of every system: on Windows too, /name is a file.
    app.allow_windows_style_options(false);
    app.add_option("-r,--rate", rate_text,
                   "Sample rate: " + kova::cli::rate_choices() + " or " + kova::cli::rate_label_range())
        ->capture_default_str();
    app.add_option("-d,--duration", duration_text, "Whole seconds, or a number with s, m or h (10s, 1m, 1h)")
        ->capture_default_str();
    app.add_option("-o,--output", path,
                   "Output file, - for standard output [default: kova-<rate>Hz-<seconds>s.wav]")
        ->check([](const std::string& name) {
            return name.empty() ? "an empty name is no file" : std::string();
        });
    app.add_option("-s,--signal", signal,
                   "pattern (the KOVA pattern), or full: every bit of 24, each channel its own, "
                   "each sample's place")
        ->check(CLI::IsMember({"pattern", "full"}))
        ->capture_default_str();
    auto* channels_option =
        app.add_option("-c,--channels", channels, "Channels of the full signal, each its own")
            ->check(CLI::Range(1, kova::full::kMaxChannels))
            ->capture_default_str();
    app.add_flag("-f,--force", force, "Replace an existing file");
    app.add_flag("-q,--quiet", quiet, "Print nothing on success");
    app.add_flag("--list", list, "List the sample rates and durations and exit");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() != 0)
            return fail(kUsageError, Error{e.what()});
        std::ostringstream text;
        app.exit(e, text);  // --help, --version
        return answer(text.str());
    }
    if (list)
        return answer(list_text());
    const bool full = signal == "full";
    if (!full && channels_option->count() > 0 && channels != 1)
        return fail(kUsageError, Error{"--channels " + std::to_string(channels) +
                                       ": the pattern is mono (--signal full has channels of its own)"});

    const auto rate = kova::cli::parse_rate(rate_text);
    if (!rate)
        return fail(kUsageError, Error{kova::cli::unknown_rate(rate_text)});
    const auto seconds = kova::cli::parse_duration(duration_text, *rate);
    if (!seconds)
        return fail(kUsageError, Error{kova::cli::bad_duration(duration_text, *rate)});
    if (path.empty())
        path =
            full ? full_file_name(*rate, *seconds, channels) : kova::cli::default_file_name(*rate, *seconds);
    const kova::full::Settings full_settings{*rate, *seconds, channels};

    kova::Wav_Data wav{};
    wav.Format.dwSamplesPerSec = *rate;
    wav.iDuration = *seconds;

    kova::cli::Target target;
    auto opened = target.open(path, force);
    if (!opened)
        return fail(kRunError, opened.error());
    // Decided by what the output is, not by how it was named.
    const bool output_is_stdout = kova::cli::same_file(opened->get(), kStandardOutput);
    const bool output_is_stderr = kova::cli::same_file(opened->get(), kStandardError);
    g_may_report = !output_is_stderr;

    const std::uint64_t total =
        full ? kova::full::file_size(full_settings) : kova::file_size(*rate, *seconds);
    kova::cli::Status_Line progress(!output_is_stderr && total > kova::cli::kProgressFrom);
    kova::cli::Fd_Output out(std::move(*opened), [&](std::uint64_t n) {
        if (progress.active())
            progress.show(kova::cli::bytes_progress(n, total));
    });
    kova::Block_Buffer buffer;
    const int status =
        full ? kova::full::generate(full_settings, buffer, out) : kova::generate(wav, buffer, out);
    progress.clear();

    if (status != kova::kOk) {
        target.discard();
        return fail(kRunError, generation_error(status, out));
    }
    if (const auto placed = target.commit(); !placed)
        return fail(kRunError, placed.error());

    // The summary never joins the data: standard error when the data went
    // to standard output, nowhere when both are the output.
    std::FILE* const to = !output_is_stdout ? stdout : !output_is_stderr ? stderr : nullptr;
    if (quiet || !to)
        return 0;
    char summary[160];
    if (full)
        std::snprintf(summary, sizeof summary, ": full signal, %ld Hz, %d s, %d ch, %llu bytes%s\n", *rate,
                      *seconds, channels, static_cast<unsigned long long>(out.written()),
                      kova::full::needs_rf64(full_settings) ? " (RF64)" : "");
    else
        std::snprintf(summary, sizeof summary, ": %ld Hz, %d s, %llu bytes\n", *rate, *seconds,
                      static_cast<unsigned long long>(out.written()));
    errno = 0;
    const bool told = kova::cli::write_text(to, kova::cli::printable(path) + summary);
    // The file is complete and stays; but whoever reads the summary learns
    // nothing, and a status of 0 would say all went as asked.
    if (!told)
        return fail(kRunError,
                    Error{"cannot write the summary: " + std::string(std::strerror(errno ? errno : EIO)) +
                          " (" + path + " was written)"});
    return 0;
}
