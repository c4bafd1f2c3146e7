#include "listen_command.h"

#include "kova/cli/args.h"
#include "kova/cli/exit_status.h"
#include "kova/live/host.h"
#include "kova/live/host_flags.h"

namespace kova::check {

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
    live::add_host_flags(app, options_.trust_plugin, options_.exclusive, listen_);
    list_ = app.add_flag("--list-devices", list_devices_,
                         "List the sound devices and the rates each opens exactly");
}

bool Listen_Command::wanted() const
{
    return listen_->count() > 0 || list_->count() > 0;
}

int Listen_Command::run(const report::Expectations& expect, bool json, const report::Complain& complain)
{
    if (list_devices_)
        return live::print_devices("kova-check", complain);
    const auto rate = cli::parse_rate(rate_text_);
    if (!rate) {
        complain(rate_text_.empty()
                     ? "--listen needs the rate to open the device at: -r " + cli::rate_label_range()
                     : cli::unknown_rate(rate_text_));
        return cli::kUsageError;
    }
    options_.rate = *rate;
    if (!seconds_text_.empty()) {
        options_.seconds = cli::parse_duration(seconds_text_, *rate);
        if (!options_.seconds) {
            complain(cli::bad_duration(seconds_text_, *rate));
            return cli::kUsageError;
        }
    }
    options_.json = json;
    options_.expect = expect;
    return listen(options_, complain);
}

}  // namespace kova::check
