// kova-check: tells whether a recording of the test file came through
// bit-perfect, and if not, what happened to it.

#include <CLI/CLI.hpp>

#include <sys/stat.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "args.h"
#include "check_outcome.h"
#include "check_output.h"
#include "check_reader.h"
#include "kova/version.h"
#include "printable.h"
#include "progress.h"

namespace {

constexpr int kPass = 0;
constexpr int kFail = 1;
constexpr int kUsageError = 2;

// Where the longest duration is accepted; the rate asked for narrows it.
constexpr long kMostLenientRate = 44100;

// A file name with a newline or an escape in it must not break the line.
void complain(const std::string& message) { std::cerr << "kova-check: " << kova::cli::printable(message) << '\n'; }

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
    std::vector<std::string> files;
    std::string rate_text;
    std::string duration_text;
    bool json = false;

    CLI::App app{"Checks recordings of the KOVA test pattern: bit-perfect, or what happened to it.",
                 "kova-check"};
    app.set_version_flag("--version", kova::version_line("kova-check"));
    app.add_option(
           "FILE", files,
           "Captures to check (WAV, RF64, W64, AIFF, FLAC, CAF); - reads a WAV stream from standard input")
        ->required();
    app.add_flag("--json", json, "One JSON object per file, on one line each");
    app.add_option("--expect-rate", rate_text,
                   "Fail unless the capture has this rate: 44100 ... 192000 or 44.1k ... 192k");
    app.add_option("--expect-duration", duration_text,
                   "Fail unless the pattern lasts this long: 1, 10s, 1m, 10m, 1h");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0)
            return app.exit(e);  // --help, --version
        complain(e.what());
        return kUsageError;
    }

    kova::cli::Expectations expect;
    if (!rate_text.empty()) {
        expect.rate = kova::cli::parse_rate(rate_text);
        if (!expect.rate) {
            complain("unknown rate '" + rate_text +
                     "' (44100, 48000, 88200, 96000, 176400, 192000 or 44.1k ... 192k)");
            return kUsageError;
        }
    }
    if (!duration_text.empty()) {
        expect.seconds = kova::cli::parse_duration(duration_text, expect.rate.value_or(kMostLenientRate));
        if (!expect.seconds) {
            complain("bad duration '" + duration_text + "' (whole seconds, or a number with s, m or h)");
            return kUsageError;
        }
    }

    int status = kPass;
    for (const auto& path : files) {
        const auto total = size_of(path);
        // Nothing is written but the report, so standard error is free.
        kova::cli::Progress progress(total, true);
        const auto capture = kova::cli::read_capture(path, [&](double done) {
            progress.update(static_cast<std::uint64_t>(done * static_cast<double>(total)));
        });
        progress.clear();
        if (!capture.error.empty()) {
            complain(path + ": " + capture.error);
            status = kUsageError;
            continue;
        }
        std::fputs((json ? kova::cli::json_report(path, capture, expect)
                         : kova::cli::text_report(path, capture, expect)).c_str(),
                   stdout);
        std::fflush(stdout);
        if (!kova::cli::passes(capture, expect) && status == kPass)
            status = kFail;
    }
    return status;
}
