// kova-check: tells whether a recording of the test file came through
// bit-perfect, and if not, what happened to it.

#ifdef _WIN32
#include "kova/cli/windows.h"
#else
#include <sys/stat.h>
#endif

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "kova/cli/args.h"
#include "kova/cli/exit_status.h"
#include "kova/cli/printable.h"
#include "kova/cli/standard_fds.h"
#include "kova/cli/status_line.h"
#include "kova/report/outcome.h"
#include "kova/report/reader.h"
#include "kova/report/writers.h"
#include "kova/version.h"
#ifdef KOVA_LIVE
#include "listen_command.h"
#endif

namespace {

using kova::cli::kFailure;
using kova::cli::kSuccess;
using kova::cli::kUsageError;

// Built with PortAudio: --listen judges a live input instead of files.
#ifdef KOVA_LIVE
constexpr bool kListens = true;
#else
constexpr bool kListens = false;
#endif

// Where the longest duration is accepted; the rate asked for narrows it.
constexpr long kMostLenientRate = 44100;

// A file name with a newline or an escape in it must not break the line.
void complain(const std::string& message)
{
    kova::cli::write_text(stderr, "kova-check: " + kova::cli::printable(message) + "\n");
}

// Whatever was written to standard output since errno was cleared, on its
// way; false with errno set when it could not be.
bool flushed()
{
    std::cout.flush();
    const bool ok = std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout.good();
    if (!ok && errno == 0)
        errno = EIO;
    return ok;
}

int cannot_write()
{
    complain(kova::cli::output_error().message);
    return kUsageError;
}

std::uint64_t size_of(const std::string& path)
{
#ifdef _WIN32
    return path != "-" ? kova::cli::windows::file_size(path) : 0;
#else
    struct stat st {};
    return path != "-" && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)
               ? static_cast<std::uint64_t>(st.st_size)
               : 0;
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    // A capture opened while descriptor 1 or 2 is closed would take its
    // number, and the report would go into it.
    if (!kova::cli::begin_command(argc, argv))
        return kUsageError;  // nowhere to say so
    std::vector<std::string> files;
    std::string rate_text;
    std::string duration_text;
    bool json = false;
    bool partial_ok = false;

    CLI::App app{
        "Checks recordings of the KOVA test pattern: bit-perfect, or what happened to it.\n"
        "Its words have their low 9 bits zero: a chain that keeps at least 15 bits of\n"
        "each word passes, so truncation to 16 bits goes unseen. The full signal\n"
        "(kova-gen -s full) is recognised by itself, and every bit of it counts.",
        "kova-check"};
    app.set_version_flag("--version", kova::version_line("kova-check"));
    // The options are those of every system: on Windows too, /name is a file.
    app.allow_windows_style_options(false);
    app.add_option("FILE", files,
#ifdef _WIN32
                   "Captures to check (WAV, RF64, W64: AIFF, FLAC and CAF need libsndfile, which this "
                   "build is without); - reads a WAV stream from standard input")
#else
                   "Captures to check (WAV, RF64, W64, AIFF, FLAC, CAF); - reads a WAV stream from "
                   "standard input")
#endif
        ->required(!kListens);
    app.add_flag("--json", json, "One JSON object per file, on one line each");
    const auto* rate_option = app.add_option(
        "--expect-rate", rate_text,
        "Fail unless the capture has this rate: 44100 ... 192000 or " + kova::cli::rate_label_range());
    const auto* duration_option =
        app.add_option("--expect-duration", duration_text,
                       "Fail unless the pattern lasts this long, in whole seconds or with s, m or h "
                       "(any length kova-gen writes; without it, one of 1s, 10s, 1m, 10m, 1h)");
    app.add_flag(
        "--partial-ok", partial_ok,
        "Pass a pattern cut short at its start or end if it is otherwise exact (a piece of a long file)");
#ifdef KOVA_LIVE
    kova::check::Listen_Command listen(app);
#endif

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {  // --help, --version
            errno = 0;
            app.exit(e);
            return flushed() ? kSuccess : cannot_write();
        }
        complain(e.what());
        return kUsageError;
    }

#ifdef KOVA_LIVE
    if (listen.wanted() == !files.empty()) {
        complain(files.empty() ? "FILE is required (or --listen DEVICE)"
                               : "give files or --listen, not both");
        return kUsageError;
    }
#endif

    // Given, even empty, an expectation is there to be met.
    kova::report::Expectations expect;
    expect.partial_ok = partial_ok;
    if (rate_option->count() > 0) {
        expect.rate = kova::cli::parse_rate(rate_text);
        if (!expect.rate) {
            complain(kova::cli::unknown_rate(rate_text));
            return kUsageError;
        }
    }
    if (duration_option->count() > 0) {
        const long rate = expect.rate.value_or(kMostLenientRate);
        expect.seconds = kova::cli::parse_duration(duration_text, rate);
        if (!expect.seconds) {
            complain(kova::cli::bad_duration(duration_text, rate));
            return kUsageError;
        }
    }

#ifdef KOVA_LIVE
    if (listen.wanted())
        return listen.run(expect, json, complain);
#endif
    int status = kSuccess;
    for (const auto& path : files) {
        const auto total = size_of(path);
        // Nothing is written but the report, so standard error is free.
        kova::cli::Status_Line progress(total > kova::cli::kProgressFrom);
        auto read = kova::report::read_capture(path, [&](double done) {
            if (progress.active())
                progress.show(kova::cli::bytes_progress(
                    static_cast<std::uint64_t>(done * static_cast<double>(total)), total));
        });
        progress.clear();
        if (!read) {
            complain(path + ": " + read.error().message);
            status = kUsageError;
            continue;
        }
        auto& capture = *read;
        kova::report::apply_expectations(capture, expect);
        if (!kova::cli::write_standard_output(json ? kova::report::json_report(path, capture, expect)
                                                   : kova::report::text_report(path, capture, expect)))
            return cannot_write();
        if (!kova::report::passes(capture, expect) && status == kSuccess)
            status = kFailure;
    }
    return status;
}
