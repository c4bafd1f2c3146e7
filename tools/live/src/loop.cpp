#include "kova/live/loop.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "check_json.h"
#include "check_output.h"
#include "kova/live/capture.h"
#include "kova/live/device_lookup.h"
#include "kova/live/drain_thread.h"
#include "kova/live/loop_judge.h"
#include "kova/live/loop_player.h"
#include "kova/live/session.h"
#include "kova/live/stop_signals.h"
#include "kova/live/stream.h"
#include "live_run.h"
#include "printable.h"

namespace kova::live {

namespace {

// One duplex stream drives both sides from one callback.
class Play_And_Capture : public Processor {
public:
    Play_And_Capture(Processor& player, Processor& capture) : player_(player), capture_(capture) {}
    bool process(const Block& block) noexcept override
    {
        return player_.process(block) && capture_.process(block);
    }

private:
    Processor& player_;
    Processor& capture_;
};

// The streams a loop runs on: one duplex stream on one device, else one
// each way. Their clocks are then measured against each other.
struct Streams {
    std::optional<Stream> duplex, out, in;
    Stream& output() { return duplex ? *duplex : *out; }
    Stream& input() { return duplex ? *duplex : *in; }
    bool active() const { return duplex ? duplex->active() : out->active() && in->active(); }
    // The first failure, if any.
    Status abort()
    {
        Status first;
        for (auto* s : {&duplex, &out, &in})
            if (*s)
                if (auto failed = (*s)->abort(); failed && !first)
                    first = std::move(failed);
        return first;
    }
    void abandon()
    {
        for (auto* s : {&duplex, &out, &in})
            if (*s)
                (*s)->abandon();
    }
};

struct Latency {
    double seconds;
    long long samples;
};

std::string ms_text(double seconds, bool exact)
{
    char text[32];
    std::snprintf(text, sizeof text, exact ? "%.3f" : "%.1f", seconds * 1000);
    return text;
}

std::string outputs_text(const std::vector<int>& outputs)
{
    if (outputs.empty())
        return "nothing";
    std::string text = "out ";
    for (std::size_t i = 0; i < outputs.size(); ++i) text += (i ? "+" : "") + std::to_string(outputs[i] + 1);
    return text;
}

}  // namespace

int loop(const Loop_Options& o, const Complain& complain)
{
    Stop_Signals signals;
    Session session("kova-loop");
    if (!session.error().empty()) {
        complain(session.error());
        return kCannot;
    }
    const auto out_device = find_device(o.output, Direction::output);
    const auto in_device = find_device(o.input, Direction::input);
    for (const auto* found : {&out_device, &in_device})
        if (!*found) {
            complain(found->error().message);
            return kCannot;
        }

    Streams streams;
    const bool one_device = *out_device == *in_device;
    auto open = [&](std::optional<Endpoint> output, std::optional<Endpoint> input,
                    std::optional<Stream>& into) {
        Stream_Request request;
        request.output = std::move(output);
        request.input = std::move(input);
        request.rate = o.rate;
        request.frames_per_buffer = o.frames_per_buffer;
        auto opened = Stream::open(request);
        if (!opened) {
            complain(opened.error().message);
            return false;
        }
        into.emplace(std::move(*opened));
        return true;
    };
    const Endpoint out_end{std::to_string(*out_device), 0, o.trust_plugin};
    const Endpoint in_end{std::to_string(*in_device), 0, o.trust_plugin};
    if (one_device ? !open(out_end, in_end, streams.duplex)
                   : !open(out_end, std::nullopt, streams.out) || !open(std::nullopt, in_end, streams.in))
        return kCannot;

    const int outputs = streams.output().output_channels();
    const int inputs = streams.input().input_channels();
    const Loop_Schedule schedule(o.rate, o.seconds, outputs);
    Loop_Player player(schedule);
    // Left to the process's exit if a stream has to be abandoned.
    auto capture_owner = std::make_unique<Capture>(inputs, static_cast<std::size_t>(o.rate * kRingSeconds),
                                                   streams.input().input_buffer_frames());
    Capture& capture = *capture_owner;
    Loop_Judge judge(schedule, inputs);
    Drain_Thread drain(capture, judge);
    drain.start();
    Play_And_Capture both(player, capture);
    Status failed;
    if (one_device) {
        failed = streams.duplex->start(both);
    } else {
        // The input first, so that it is running when the first frames go out.
        failed = streams.in->start(capture);
        if (!failed)
            failed = streams.out->start(player);
    }
    if (failed) {
        complain(failed->message);
        return kCannot;
    }

    std::string problem;
    bool gone = false;
    std::uint64_t last_arrived = 0;
    int still_ms = 0;
    for (;;) {
        if (signals.wait(kPollMs) != 0 || judge.done())
            break;
        if (drain.drained_to_loss()) {
            problem = loss_line(*capture.loss(), drain.taken(), o.rate, "kova-loop");
            break;
        }
        const std::uint64_t arrived = capture.frames_arrived();
        still_ms = arrived == last_arrived ? still_ms + kPollMs : 0;
        last_arrived = arrived;
        if (!streams.active() || still_ms >= kStallMs) {
            gone = true;
            problem = "a device or the sound server went away; the report covers the capture up to there";
            break;
        }
    }
    if (gone) {
        streams.abandon();
    } else if (const auto failed = streams.abort(); failed && host_let_go() && problem.empty()) {
        problem = failed->message + "; the report covers the capture up to there";
    }
    if (host_let_go())
        static_cast<void>(capture_owner.release());
    drain.stop();
    if (problem.empty() && player.underflows() > 0)
        problem = "the host reported " + std::to_string(player.underflows()) +
                  " gaps in what was played on this machine: the verdict may be its doing, not the chain's";

    cli::Capture result;
    result.channels = judge.run_reports();
    result.format = {"live", "32-bit float", o.rate, inputs, judge.run_frames()};
    cli::Expectations expect;
    expect.seconds = o.seconds;
    cli::apply_expectations(result, expect);

    // Two streams keep time apart: their first callbacks on this machine's
    // steady clock say how their frame counts line up.
    const double offset =
        one_device
            ? 0.0
            : std::chrono::duration<double>(capture.first_block_time() - player.first_block_time()).count();
    const auto map = judge.map();
    std::vector<std::optional<Latency>> latency(static_cast<std::size_t>(inputs));
    for (int c = 0; c < inputs; ++c) {
        const auto& r = result.channels[static_cast<std::size_t>(c)];
        if (!r.present)
            continue;
        const double s =
            (static_cast<double>(r.first) - static_cast<double>(schedule.run_start())) / o.rate + offset;
        latency[static_cast<std::size_t>(c)] = Latency{s, std::llround(s * o.rate)};
    }

    const std::string out_name = streams.output().output_name();
    const std::string in_name = streams.input().input_name();
    std::string text;
    if (o.json) {
        text = "{\"output\":" + cli::json_string(out_name) + ",\"input\":" + cli::json_string(in_name) +
               ",\"rate\":" + std::to_string(o.rate) + ",\"streams\":" + (one_device ? "1" : "2") +
               ",\"latency_clock\":" + (one_device ? "\"stream\"" : "\"steady\"") + ",\"inputs\":[";
        for (int c = 0; c < inputs; ++c) {
            const auto& l = latency[static_cast<std::size_t>(c)];
            std::string outs = "null";
            if (map) {
                outs.clear();
                for (const int k : (*map)[static_cast<std::size_t>(c)])
                    outs += (outs.empty() ? "" : ",") + std::to_string(k + 1);
                outs = "[" + outs + "]";
            }
            text += std::string(c ? "," : "") + "{\"input\":" + std::to_string(c + 1) +
                    ",\"outputs\":" + outs +
                    ",\"latency_samples\":" + (l ? std::to_string(l->samples) : "null") +
                    ",\"latency_ms\":" + (l ? cli::json_number(l->seconds * 1000) : "null") + "}";
        }
        std::string report = cli::json_report(in_name, result, expect);
        report.pop_back();  // its newline
        text += "],\"report\":" + report + "}\n";
    } else {
        text = cli::printable(out_name) + " -> " + cli::printable(in_name) + ": " + std::to_string(o.rate) +
               " Hz, " + std::to_string(outputs) + " out, " + std::to_string(inputs) + " in, " +
               (one_device ? "one duplex stream" : "two streams (latency on this machine's steady clock)") +
               "\n";
        // Only what was measured: a run cut short has no map.
        for (int c = 0; c < inputs; ++c) {
            const auto& l = latency[static_cast<std::size_t>(c)];
            if (!map && !l)
                continue;
            text += "in " + std::to_string(c + 1);
            if (map)
                text += " <- " + outputs_text((*map)[static_cast<std::size_t>(c)]);
            if (l)
                text += "  latency " + std::string(one_device ? "" : "about ") + std::to_string(l->samples) +
                        " samples (" + ms_text(l->seconds, one_device) + " ms)";
            text += "\n";
        }
        text += cli::text_report(in_name, result, expect);
    }
    if (!write_report(text)) {
        complain(std::string("cannot write to standard output: ") + std::strerror(errno));
        return leave_with(kCannot);
    }
    if (!problem.empty()) {
        complain(problem);
        return leave_with(kCannot);
    }
    return leave_with(cli::passes(result, expect) ? kPass : kFail);
}

}  // namespace kova::live
