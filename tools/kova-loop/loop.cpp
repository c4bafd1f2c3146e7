#include "loop.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "kova/cli/exit_status.h"
#include "kova/cli/stop_signals.h"
#include "kova/live/capture.h"
#include "kova/live/drain_thread.h"
#include "kova/live/host.h"
#include "kova/report/loop_report.h"
#include "loop_judge.h"
#include "loop_player.h"

namespace kova::loop {

namespace {

// One duplex stream drives both sides from one callback.
class Play_And_Capture : public live::Processor {
public:
    Play_And_Capture(Processor& player, Processor& capture) : player_(player), capture_(capture) {}
    bool process(const live::Block& block) noexcept override
    {
        return player_.process(block) && capture_.process(block);
    }

private:
    Processor& player_;
    Processor& capture_;
};

// The run's streams: one duplex stream on one device, else one each way,
// whose clocks are then measured against each other.
struct Loop_Streams {
    bool one_device = false;
    std::unique_ptr<live::Stream> duplex, out, in;

    live::Stream& output() const { return duplex ? *duplex : *out; }
    live::Stream& input() const { return duplex ? *duplex : *in; }
    std::vector<live::Stream*> all() const
    {
        std::vector<live::Stream*> streams;
        for (auto* s : {duplex.get(), out.get(), in.get()})
            if (s)
                streams.push_back(s);
        return streams;
    }
};

// Complains and answers nothing where a device is not there or would not
// run at the rate.
std::optional<Loop_Streams> open_streams(live::Host& host, const Loop_Options& o,
                                         const report::Complain& complain)
{
    const auto one_device = host.same_device(o.output, o.input);
    if (!one_device) {
        complain(one_device.error().message);
        return std::nullopt;
    }
    Loop_Streams s;
    s.one_device = *one_device;
    auto open = [&](std::optional<live::Endpoint> output, std::optional<live::Endpoint> input,
                    std::unique_ptr<live::Stream>& into) {
        live::Stream_Request request;
        request.output = std::move(output);
        request.input = std::move(input);
        request.rate = o.rate;
        request.frames_per_buffer = o.frames_per_buffer;
        request.exclusive = o.exclusive;
        auto opened = host.open(request);
        if (!opened) {
            complain(opened.error().message);
            return false;
        }
        into = std::move(*opened);
        return true;
    };
    const live::Endpoint out_end{o.output, 0, o.trust_plugin};
    const live::Endpoint in_end{o.input, 0, o.trust_plugin};
    if (s.one_device ? !open(out_end, in_end, s.duplex)
                     : !open(out_end, std::nullopt, s.out) || !open(std::nullopt, in_end, s.in))
        return std::nullopt;
    return s;
}

// Each input's round trip: where its pattern began against where the run's
// did, plus `offset`, the seconds by which the input stream's frame count
// lags the output's (0 in one stream).
std::vector<std::optional<report::Loop_Result::Latency>> latencies(const report::Capture& capture,
                                                                   const Loop_Schedule& schedule, long rate,
                                                                   double offset)
{
    std::vector<std::optional<report::Loop_Result::Latency>> latency(capture.channels.size());
    for (std::size_t c = 0; c < latency.size(); ++c) {
        const auto& r = capture.channels[c];
        if (!r.present || (r.full && !r.full->positioned))
            continue;
        // The full signal says which of its samples the span begins with:
        // the round trip of that one, exact even where the chain lost the
        // start. The pattern's span begins with its first sample.
        const double played = static_cast<double>(schedule.run_start()) +
                              (r.full ? static_cast<double>(r.full->first_position) : 0.0);
        const double s = (static_cast<double>(r.first) - played) / rate + offset;
        latency[c] = report::Loop_Result::Latency{s, std::llround(s * rate)};
    }
    return latency;
}

struct Timed_Latencies {
    std::vector<std::optional<report::Loop_Result::Latency>> latency;
    std::uint64_t resolution = 0;  // frames either way
};

// Where the host's clocks tell when the pattern's first frame left and when
// it arrived on every input, they give the latency instead of the frame
// counts, which two streams started apart cannot relate.
std::optional<Timed_Latencies> device_latencies(const report::Capture& capture, const live::Stream& output,
                                                const live::Stream& input, const Loop_Schedule& schedule,
                                                long rate)
{
    if (!output.output_time(schedule.run_start()))
        return std::nullopt;
    Timed_Latencies timed;
    timed.latency.resize(capture.channels.size());
    for (std::size_t c = 0; c < timed.latency.size(); ++c) {
        const auto& r = capture.channels[c];
        if (!r.present || (r.full && !r.full->positioned))
            continue;
        // The frame that left with the span's first sample (the full
        // signal's says which).
        const auto left = output.output_time(schedule.run_start() + (r.full ? r.full->first_position : 0));
        const auto arrived = input.input_time(r.first);
        if (!left || !arrived)
            return std::nullopt;
        const double s = arrived->seconds - left->seconds;
        timed.latency[c] = report::Loop_Result::Latency{s, std::llround(s * rate)};
        timed.resolution = std::max(timed.resolution, arrived->resolution_frames + left->resolution_frames);
    }
    return timed;
}

}  // namespace

int loop(const Loop_Options& o, const report::Complain& complain)
{
    cli::Stop_Signals signals;
    const auto host = live::open_host("kova-loop");
    if (!host->error().empty()) {
        complain(host->error());
        return cli::kUsageError;
    }
    const auto streams = open_streams(*host, o, complain);
    if (!streams)
        return cli::kUsageError;
    live::Stream& output = streams->output();
    live::Stream& input = streams->input();

    const int outputs = output.output_channels();
    const int inputs = input.input_channels();
    const Loop_Schedule schedule(o.rate, o.seconds, outputs, o.full);
    Loop_Player player(schedule);
    // Left to the process's exit if a stream has to be abandoned.
    auto capture = std::make_unique<live::Capture>(
        inputs, static_cast<std::size_t>(o.rate * report::kRingSeconds), input.input_buffer_frames());
    Loop_Judge judge(schedule, inputs);
    live::Drain_Thread drain(*capture, judge);
    drain.start();
    Play_And_Capture both(player, *capture);
    // Two streams: the input first, so that it is running when the first
    // frames go out.
    auto started = streams->duplex ? streams->duplex->start(both) : streams->in->start(*capture);
    if (started && !streams->duplex)
        started = streams->out->start(player);
    if (!started) {
        complain(started.error().message);
        return cli::kUsageError;
    }

    const report::Run_Watch watch{*capture,
                                  drain,
                                  streams->all(),
                                  o.rate,
                                  "kova-loop",
                                  "a device or the sound server",
                                  {},
                                  [&] { return judge.done(); },
                                  {}};
    auto end = report::watch_run(watch, signals);
    report::stop_run(watch, end, capture, drain);
    if (end.problem.empty() && player.underflows() > 0)
        end.problem =
            "the host reported " + std::to_string(player.underflows()) +
            " gaps in what was played on this machine: the verdict may be its doing, not the chain's";

    report::Loop_Result result;
    result.output = output.output_name();
    result.input = input.input_name();
    result.rate = o.rate;
    result.outputs = outputs;
    result.one_stream = streams->one_device;
    result.map = judge.map();
    result.capture.channels = judge.run_reports();
    result.capture.format = {"live", "32-bit float", o.rate, inputs, judge.run_frames()};
    report::Expectations expect;
    expect.seconds = o.seconds;
    report::apply_expectations(result.capture, expect);
    // Two streams keep time apart: their first callbacks on this machine's
    // steady clock say how their frame counts line up.
    const double offset =
        streams->one_device
            ? 0.0
            : std::chrono::duration<double>(capture->first_block_time() - player.first_block_time()).count();
    result.latency = latencies(result.capture, schedule, o.rate, offset);
    if (auto timed = device_latencies(result.capture, output, input, schedule, o.rate)) {
        result.latency = std::move(timed->latency);
        result.clock_resolution = timed->resolution;
    }
    return report::give_report(
        o.json ? report::loop_json_report(result, expect) : report::loop_text_report(result, expect),
        end.problem, report::passes(result.capture, expect), complain);
}

}  // namespace kova::loop
