// kova-check: tells whether a recording of the test file came through
// bit-perfect, and if not, what happened to it.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "args.h"
#include "check_outcome.h"
#include "check_output.h"
#include "check_reader.h"
#ifdef KOVA_LIVE
#include "kova/live/listen_command.h"
#endif
#include "kova/version.h"
#include "printable.h"
#include "progress.h"

namespace {

constexpr int kPass = 0;
constexpr int kFail = 1;
constexpr int kUsageError = 2;

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
    std::cerr << "kova-check: " << kova::cli::printable(message) << '\n';
}

// A capture opened while descriptor 1 or 2 is closed would take its number,
// and the report would go into it. /dev/null read-only holds the number and
// fails every write as the closed descriptor would, so the loss is noticed.
void hold_closed_outputs()
{
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO})
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            const int held = open("/dev/null", O_RDONLY);
            if (held >= 0 && held != fd) {
                dup2(held, fd);
                close(held);
            }
        }
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
    complain(std::string("cannot write to standard output: ") + std::strerror(errno));
    return kUsageError;
}

std::uint64_t size_of(const std::string& path)
{
    struct stat st {};
    return path != "-" && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)
               ? static_cast<std::uint64_t>(st.st_size)
               : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    hold_closed_outputs();
    std::vector<std::string> files;
    std::string rate_text;
    std::string duration_text;
    bool json = false;
    bool partial_ok = false;

    CLI::App app{
        "Checks recordings of the KOVA test pattern: bit-perfect, or what happened to it.\n"
        "Its words have their low 9 bits zero: a chain that keeps at least 15 bits of\n"
        "each word passes, so truncation to 16 bits goes unseen.",
        "kova-check"};
    app.set_version_flag("--version", kova::version_line("kova-check"));
    app.add_option(
           "FILE", files,
           "Captures to check (WAV, RF64, W64, AIFF, FLAC, CAF); - reads a WAV stream from standard input")
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
    kova::live::Listen_Command listen(app);
#endif

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {  // --help, --version
            errno = 0;
            app.exit(e);
            return flushed() ? kPass : cannot_write();
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
    kova::cli::Expectations expect;
    expect.partial_ok = partial_ok;
    if (rate_option->count() > 0) {
        expect.rate = kova::cli::parse_rate(rate_text);
        if (!expect.rate) {
            complain("unknown rate '" + rate_text + "' (" + kova::cli::rate_choices() + " or " +
                     kova::cli::rate_label_range() + ")");
            return kUsageError;
        }
    }
    if (duration_option->count() > 0) {
        const long rate = expect.rate.value_or(kMostLenientRate);
        expect.seconds = kova::cli::parse_duration(duration_text, rate);
        if (!expect.seconds) {
            complain("bad duration '" + duration_text + "' (whole seconds from 1 to " +
                     std::to_string(kova::cli::max_duration(rate)) + " at " + std::to_string(rate) +
                     " Hz, or a number with s, m or h)");
            return kUsageError;
        }
    }

#ifdef KOVA_LIVE
    if (listen.wanted())
        return listen.run(expect, json, complain);
#endif
    int status = kPass;
    for (const auto& path : files) {
        const auto total = size_of(path);
        // Nothing is written but the report, so standard error is free.
        kova::cli::Progress progress(total, true);
        auto read = kova::cli::read_capture(path, [&](double done) {
            progress.update(static_cast<std::uint64_t>(done * static_cast<double>(total)));
        });
        progress.clear();
        if (!read) {
            complain(path + ": " + read.error().message);
            status = kUsageError;
            continue;
        }
        auto& capture = *read;
        kova::cli::apply_expectations(capture, expect);
        errno = 0;
        std::fputs((json ? kova::cli::json_report(path, capture, expect)
                         : kova::cli::text_report(path, capture, expect))
                       .c_str(),
                   stdout);
        if (!flushed())
            return cannot_write();
        if (!kova::cli::passes(capture, expect) && status == kPass)
            status = kFail;
    }
    return status;
}
