#pragma once

// kova-check's options for listening live: added to its command line beside
// those for files, and turned into a listening session.

#include <CLI/CLI.hpp>
#include <string>

#include "kova/report/outcome.h"
#include "listen.h"

namespace kova::check {

class Listen_Command {
public:
    explicit Listen_Command(CLI::App& app);

    // --listen or --list-devices was given: no files are read.
    bool wanted() const;
    // After parsing, with what kova-check has made of the options it shares
    // (--json, --expect-rate, --expect-duration, --partial-ok). Returns the
    // exit status.
    int run(const report::Expectations& expect, bool json, const report::Complain& complain);

private:
    CLI::Option* listen_ = nullptr;
    CLI::Option* list_ = nullptr;
    Listen_Options options_;
    std::string rate_text_;
    std::string seconds_text_;
    bool list_devices_ = false;
};

}  // namespace kova::check
