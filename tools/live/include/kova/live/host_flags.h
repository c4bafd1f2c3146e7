#pragma once

// The flags of a host API's own that every command opening a stream offers:
// ALSA's plugin devices where the host is PortAudio, exclusive mode where it
// is WASAPI. Each command keeps the values with its other options.

#include <CLI/CLI.hpp>

namespace kova::live {

// Adds them to app (or an option group of it); each needs `needs` where
// one is given (--listen).
inline void add_host_flags(CLI::App& app, bool& trust_plugin, bool& exclusive, CLI::Option* needs = nullptr)
{
#ifdef _WIN32
    (void)trust_plugin;
    CLI::Option* flag = app.add_flag("--exclusive", exclusive,
                                     "Open the device in exclusive mode, at the rate asked, with nothing "
                                     "mixed in (shared mode opens at the "
                                     "mix rate only)");
#else
    (void)exclusive;
    CLI::Option* flag =
        app.add_flag("--allow-plugin", trust_plugin,
                     "Accept an ALSA plugin device (pulse) at the rate asked, for a sound server "
                     "running at exactly that rate");
#endif
    if (needs)
        flag->needs(needs);
}

}  // namespace kova::live
