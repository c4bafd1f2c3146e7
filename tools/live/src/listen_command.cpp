#include "kova/live/listen_command.h"

#include "args.h"

namespace kova::live {

namespace {
constexpr int kUsageError = 2;
}

Listen_Command::Listen_Command(CLI::App& parent)
{
    CLI::App& app =
        *parent.add_option_group("Listening live", "kova-check --listen DEVICE -r RATE [options]");
    listen_ =
        app.add_option("--listen", options_.device,
                       "Judge the pattern live as it comes in on this input device (a name or an index from "
                       "--list-devices) while another player plays the file");
    app.add_option("-r,--rate", rate_text_,
                   "The rate to open the device at, exactly (" + cli::rate_label_range() + ")")
        ->needs(listen_);
    app.add_option("--channels", options_.channels, "The inputs to capture [default: all the device has]")
        ->check(CLI::Range(1, 1024))
        ->needs(listen_);
    app.add_option("--seconds", seconds_text_,
                   "Stop after this long (10s, 1m...) [default: when the pattern has come and gone]")
        ->needs(listen_);
    app.add_option("--save", options_.save_path, "Also write the capture to this new 32-bit float WAV file")
        ->needs(listen_);
    app.add_option("--buffer", options_.frames_per_buffer, "Frames per buffer [default: the host's choice]")
        ->check(CLI::Range(16ul, 65536ul))
        ->needs(listen_);
    app.add_flag("--allow-plugin", options_.trust_plugin,
                 "Accept an ALSA plugin device (pulse) at the rate asked, for a sound server running "
                 "at exactly that rate")
        ->needs(listen_);
    list_ = app.add_flag("--list-devices", list_devices_,
                         "List the sound devices and the rates each opens exactly");
}

bool Listen_Command::wanted() const
{
    return listen_->count() > 0 || list_->count() > 0;
}

int Listen_Command::run(const cli::Expectations& expect, bool json, const Complain& complain)
{
    if (list_devices_)
        return print_devices("kova-check", complain) ? 0 : kUsageError;
    const auto rate = cli::parse_rate(rate_text_);
    if (!rate) {
        complain(rate_text_.empty()
                     ? "--listen needs the rate to open the device at: -r " + cli::rate_label_range()
                     : "unknown rate '" + rate_text_ + "' (" + cli::rate_choices() + " or " +
                           cli::rate_label_range() + ")");
        return kUsageError;
    }
    options_.rate = *rate;
    if (!seconds_text_.empty()) {
        options_.seconds = cli::parse_duration(seconds_text_, *rate);
        if (!options_.seconds) {
            complain("bad time '" + seconds_text_ + "' (whole seconds from 1 to " +
                     std::to_string(cli::max_duration(*rate)) + " at " + std::to_string(*rate) +
                     " Hz, or a number with s, m or h)");
            return kUsageError;
        }
    }
    options_.json = json;
    options_.expect = expect;
    return listen(options_, complain);
}

}  // namespace kova::live
