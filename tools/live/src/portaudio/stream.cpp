#include "stream.h"

#include <portaudio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "device_lookup.h"
#include "exact_rates.h"

namespace kova::live::portaudio {

namespace {

// How long a host gets to stop a stream, beyond playing what is queued.
constexpr double kStopSeconds = 1.5;

int on_audio(const void* in, void* out, unsigned long frames, const PaStreamCallbackTimeInfo*,
             PaStreamCallbackFlags flags, void* user)
{
    const auto& slot = *static_cast<const Stream_Slot*>(user);
    unsigned gaps = 0;
    if (flags & (paInputOverflow | paInputUnderflow))
        gaps |= Processor::kInputGap;
    if (flags & (paOutputUnderflow | paOutputOverflow))
        gaps |= Processor::kOutputGap;
    const Block block{static_cast<const float*>(in),
                      slot.in_channels,
                      static_cast<float*>(out),
                      slot.out_channels,
                      frames,
                      gaps};
    return slot.processor->process(block) ? paContinue : paComplete;
}

std::string host_error(const std::string& what, PaError err)
{
    std::string text = what + ": " + Pa_GetErrorText(err);
    if (err == paUnanticipatedHostError) {
        const PaHostErrorInfo* info = Pa_GetLastHostErrorInfo();
        if (info && info->errorText && *info->errorText)
            text += std::string(" (") + info->errorText + ")";
    }
    return text;
}

// trusted: the device was already taken at its word.
std::string rate_refusal(int device, Direction direction, long rate, const std::string& why, bool trusted)
{
    std::string rates;
    for (const long r : exact_rates(device, direction))
        rates += (rates.empty() ? "" : ", ") + std::to_string(r);
    const bool plugin = may_convert_rates(device);
    if (rates.empty())
        rates = plugin ? "none: an ALSA plugin may convert any rate" : "none";
    std::string text = "device " + device_label(device) + " cannot " + why + std::to_string(rate) +
                       " Hz exactly (exact rates: " + rates + ")";
    if (plugin && !trusted)
        text += "; --allow-plugin takes it at its word, for a sound server running at exactly " +
                std::to_string(rate) + " Hz";
    return text;
}

struct Side {
    PaStreamParameters params{};
    int channels = 0;
    std::string name;
};

Result<void> prepare(const Endpoint& endpoint, Direction direction, long rate, Side& side)
{
    auto device = find_device(endpoint.device, direction);
    if (!device)
        return device.error();
    const PaDeviceInfo* info = Pa_GetDeviceInfo(*device);
    const bool out = direction == Direction::output;
    const int available = out ? info->maxOutputChannels : info->maxInputChannels;
    side.channels = endpoint.channels > 0 ? endpoint.channels : available;
    if (side.channels > available)
        return Error{"device " + device_label(*device) + " has only " + std::to_string(available) +
                     (out ? " outputs" : " inputs")};
    const bool trusted = endpoint.trust_plugin && may_convert_rates(*device);
    if (!(trusted ? accepts_rate(*device, direction, side.channels, rate)
                  : opens_exactly(*device, direction, side.channels, rate)))
        return Error{rate_refusal(*device, direction, rate, "open ", trusted)};
    // The high latency: a gap in what is played or captured would be taken
    // for the chain's, so safety matters more than delay here.
    side.params = {*device, side.channels, paFloat32,
                   out ? info->defaultHighOutputLatency : info->defaultHighInputLatency, nullptr};
    side.name = info->name;
    return {};
}

}  // namespace

Result<std::unique_ptr<Stream>> Portaudio_Stream::open(const Stream_Request& request)
{
    auto slot = std::make_unique<Stream_Slot>();
    Side out, in;
    if (request.output)
        if (auto prepared = prepare(*request.output, Direction::output, request.rate, out); !prepared)
            return prepared.error();
    if (request.input)
        if (auto prepared = prepare(*request.input, Direction::input, request.rate, in); !prepared)
            return prepared.error();

    PaStream* handle = nullptr;
    // Neither clipping nor dither: the samples leave exactly as made.
    const PaError err =
        Pa_OpenStream(&handle, request.input ? &in.params : nullptr, request.output ? &out.params : nullptr,
                      static_cast<double>(request.rate),
                      request.frames_per_buffer ? request.frames_per_buffer : paFramesPerBufferUnspecified,
                      paClipOff | paDitherOff, on_audio, slot.get());
    const std::string names = request.output ? out.name : in.name;
    if (err != paNoError)
        return Error{host_error("cannot open '" + names + "'", err)};

    // A host may settle on a neighbouring rate; PortAudio says which.
    const PaStreamInfo* info = Pa_GetStreamInfo(handle);
    if (!info || info->sampleRate != static_cast<double>(request.rate)) {
        Pa_CloseStream(handle);
        const int device = request.output ? out.params.device : in.params.device;
        return Error{rate_refusal(device, request.output ? Direction::output : Direction::input, request.rate,
                                  "run at ", true)};
    }

    // PortAudio's JACK host reports the latency of a port fed by another
    // client as minus a period, wrapped round in unsigned arithmetic: past
    // a second it is taken for what was asked.
    const auto buffered = [](double reported, double asked) {
        return reported >= 0.0 && reported <= 1.0 ? std::max(reported, asked) : asked;
    };
    const double input_latency =
        buffered(info->inputLatency, request.input ? in.params.suggestedLatency : 0.0);
    const double output_latency =
        buffered(info->outputLatency, request.output ? out.params.suggestedLatency : 0.0);
    slot->in_channels = in.channels;
    slot->out_channels = out.channels;
    std::unique_ptr<Portaudio_Stream> stream(new Portaudio_Stream);
    stream->handle_ = handle;
    stream->slot_ = std::move(slot);
    stream->rate_ = request.rate;
    stream->output_channels_ = out.channels;
    stream->input_channels_ = in.channels;
    stream->input_buffer_frames_ = static_cast<std::uint64_t>(std::ceil(input_latency * request.rate));
    stream->output_buffer_frames_ = static_cast<std::uint64_t>(std::ceil(output_latency * request.rate));
    stream->output_name_ = out.name;
    stream->input_name_ = in.name;
    return std::unique_ptr<Stream>(std::move(stream));
}

Portaudio_Stream::~Portaudio_Stream()
{
    static_cast<void>(abort());
}

Result<void> Portaudio_Stream::start(Processor& processor)
{
    if (!handle_)
        return Error{"cannot start a stream already closed"};
    slot_->processor = &processor;  // the callback does not run before the start
    if (const PaError err = Pa_StartStream(handle_); err != paNoError)
        return Error{host_error("cannot start the stream", err)};
    return {};
}

bool Portaudio_Stream::active() const
{
    return handle_ && Pa_IsStreamActive(handle_) == 1;
}

Result<void> Portaudio_Stream::stop()
{
    return close(true);
}

void Portaudio_Stream::abandon()
{
    handle_ = nullptr;
    // The callback might yet run on a host that only stalled.
    static_cast<void>(slot_.release());
    note_host_let_go();
}

Result<void> Portaudio_Stream::abort()
{
    return close(false);
}

Result<void> Portaudio_Stream::close(bool drain)
{
    if (!handle_)
        return {};
    if (host_let_go()) {
        // Another stream's host is stuck inside PortAudio: nothing more is
        // asked of it.
        abandon();
        return {};
    }
    PaStream* const handle = std::exchange(handle_, nullptr);
    // A stop also waits for what is queued to be played.
    const double deadline =
        kStopSeconds +
        (drain ? static_cast<double>(output_buffer_frames_) / static_cast<double>(rate_) : 0.0);
    // Asked on a thread of its own, so that a host that never answers (a
    // JACK server that has written off a stalled client can keep PortAudio
    // waiting for minutes, deaf to signals) is let go of in bounded time.
    struct Closing {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        PaError err = paNoError;
    };
    const auto closing = std::make_shared<Closing>();
    std::thread([handle, drain, closing] {
        PaError err = paNoError;
        if (Pa_IsStreamStopped(handle) == 0)
            err = drain ? Pa_StopStream(handle) : Pa_AbortStream(handle);
        const PaError closed = Pa_CloseStream(handle);
        const std::lock_guard<std::mutex> lock(closing->mutex);
        closing->err = err != paNoError ? err : closed;
        closing->done = true;
        closing->ended.notify_one();
    }).detach();
    std::unique_lock<std::mutex> lock(closing->mutex);
    if (!closing->ended.wait_for(lock, std::chrono::duration<double>(deadline),
                                 [&] { return closing->done; })) {
        handle_ = handle;  // abandoned as it stands
        abandon();
        char text[96];
        std::snprintf(text, sizeof text,
                      "the host did not stop the stream within %.1f s on this machine and was left to it",
                      deadline);
        return Error{text};
    }
    if (closing->err != paNoError)
        return Error{host_error("cannot close the stream", closing->err)};
    return {};
}

}  // namespace kova::live::portaudio
