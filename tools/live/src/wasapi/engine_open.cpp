// Opening: the endpoints found, the rate and format checked before the host
// is asked, the clients initialised and their services fetched.

#include <windows.h>
#include <audioclient.h>
#include <audiopolicy.h>

#include <vector>

#include "endpoints.h"
#include "engine.h"
#include "hresult.h"
#include "wave_format.h"

namespace kova::live::wasapi::detail {

namespace {

constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;  // 100 ns
constexpr REFERENCE_TIME kDefaultBuffer = kUnitsPerSecond / 5;

REFERENCE_TIME frames_to_units(UINT32 frames, long rate)
{
    return static_cast<REFERENCE_TIME>(static_cast<double>(kUnitsPerSecond) * frames / rate + 0.5);
}

UINT32 units_to_frames(REFERENCE_TIME units, long rate)
{
    return static_cast<UINT32>(static_cast<double>(units) * rate / kUnitsPerSecond + 0.5);
}

std::string rate_list(const std::vector<long>& rates)
{
    if (rates.empty())
        return "none";
    std::string text;
    for (const long r : rates) text += (text.empty() ? "" : ", ") + std::to_string(r);
    return text;
}

Error host(const std::string& what, HRESULT hr)
{
    return Error{what + " (" + describe(hr) + ")", Error::Kind::host};
}

// Shared mode: the mix rate only, in a format the engine takes as it is.
Result<void> check_shared(IAudioClient* client, const Device& info, const Side& side, long rate,
                          bool loopback, const WAVEFORMATEXTENSIBLE& format)
{
    if (rate != info.mix_rate)
        return Error{"device " + side.label + " mixes at " + std::to_string(info.mix_rate) +
                         " Hz in shared mode, so " + std::to_string(rate) +
                         " Hz would be resampled (open it at " + std::to_string(info.mix_rate) + " Hz" +
                         (loopback ? ")" : ", or in exclusive mode)"),
                     Error::Kind::refused};
    WAVEFORMATEX* closest = nullptr;
    const HRESULT hr = client->IsFormatSupported(AUDCLNT_SHAREMODE_SHARED, &format.Format, &closest);
    CoTaskMemFree(closest);
    if (hr == S_OK)
        return {};
    return Error{"device " + side.label + " does not take " + encoding_name(side.encoding) +
                     " in shared mode (it mixes " + info.mix_format + ")" +
                     (FAILED(hr) ? " (" + describe(hr) + ")" : ""),
                 Error::Kind::refused};
}

// Exclusive mode: the device at the rate itself, or a refusal that names the
// rates it has.
Result<void> check_exclusive(IAudioClient* client, const Device& info, const Side& side, long rate,
                             const WAVEFORMATEXTENSIBLE& format)
{
    const HRESULT hr = client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &format.Format, nullptr);
    if (hr == S_OK)
        return {};
    if (hr == S_FALSE || hr == AUDCLNT_E_UNSUPPORTED_FORMAT) {
        const auto& rates = info.exclusive_rates[static_cast<std::size_t>(side.encoding)];
        return Error{"device " + side.label + " cannot open " + std::to_string(rate) + " Hz as " +
                         encoding_name(side.encoding) + " in exclusive mode (its exclusive rates as " +
                         encoding_name(side.encoding) + ": " + rate_list(rates) + ")",
                     Error::Kind::refused};
    }
    return host("device " + side.label + " refuses exclusive mode", hr);
}

// The stream's own volume, and its session's, at what was asked: nothing
// of this program's making may change the level. Exclusive streams have
// neither.
void set_volume(IAudioClient* client, float volume)
{
    Com_Ptr<IAudioStreamVolume> stream;
    if (SUCCEEDED(client->GetService(__uuidof(IAudioStreamVolume), stream.put_void()))) {
        UINT32 count = 0;
        if (SUCCEEDED(stream->GetChannelCount(&count)) && count > 0) {
            const std::vector<float> levels(count, volume);
            stream->SetAllVolumes(count, levels.data());
        }
    }
    Com_Ptr<ISimpleAudioVolume> session;
    if (SUCCEEDED(client->GetService(__uuidof(ISimpleAudioVolume), session.put_void()))) {
        session->SetMasterVolume(1.0f, nullptr);
        session->SetMute(FALSE, nullptr);
    }
}

Result<void> open_side(const Endpoint& endpoint, Direction direction, const Stream_Request& request,
                       Drive drive, Side& side)
{
    const bool loopback = direction == Direction::input && endpoint.loopback;
    const bool exclusive = request.share == Share::exclusive;
    auto found = find_endpoint(endpoint.device, loopback ? Direction::output : direction);
    if (!found)
        return found.error();
    const Device& info = found->info;
    side.device = found->device;
    side.name = info.name;
    side.id = info.id;
    side.label = endpoint_label(info);
    side.encoding = request.encoding;
    side.loopback = loopback;
    if (loopback && exclusive)
        return Error{"loopback capture of " + side.label + " is shared mode only", Error::Kind::host};
    if (info.channels <= 0)
        return Error{"device " + side.label + " has no mix format", Error::Kind::refused};
    side.device_channels = info.channels;
    side.channels = endpoint.channels > 0 ? endpoint.channels : info.channels;
    if (side.channels > info.channels)
        return Error{"device " + side.label + " has only " + std::to_string(info.channels) + " channels",
                     Error::Kind::refused};

    HRESULT hr = side.device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, side.client.put_void());
    if (FAILED(hr))
        return host("cannot activate " + side.label, hr);
    Task_Memory<WAVEFORMATEX> mix;
    if (FAILED(hr = side.client->GetMixFormat(mix.put())))
        return host("cannot read the mix format of " + side.label, hr);
    REFERENCE_TIME default_period = 0, minimum_period = 0;
    if (FAILED(hr = side.client->GetDevicePeriod(&default_period, &minimum_period)))
        return host("cannot read the period of " + side.label, hr);

    const auto format = make_format(request.encoding, exclusive ? request.rate : info.mix_rate, info.channels,
                                    channel_mask(*mix.get()));
    if (const auto refused =
            exclusive ? check_exclusive(side.client.get(), info, side, request.rate, format)
                      : check_shared(side.client.get(), info, side, request.rate, loopback, format);
        !refused)
        return refused;

    const bool event = drive == Drive::event;
    const DWORD flags = AUDCLNT_STREAMFLAGS_NOPERSIST | (loopback ? AUDCLNT_STREAMFLAGS_LOOPBACK : 0u) |
                        (event ? AUDCLNT_STREAMFLAGS_EVENTCALLBACK : 0u);
    const AUDCLNT_SHAREMODE share = exclusive ? AUDCLNT_SHAREMODE_EXCLUSIVE : AUDCLNT_SHAREMODE_SHARED;
    REFERENCE_TIME duration =
        request.frames_per_buffer
            ? frames_to_units(static_cast<UINT32>(request.frames_per_buffer), request.rate)
            : (exclusive && event ? default_period : kDefaultBuffer);
    // Event-driven exclusive mode swaps two buffers of one period each.
    REFERENCE_TIME period = exclusive ? (event ? duration : default_period) : 0;
    hr = side.client->Initialize(share, flags, duration, period, &format.Format, nullptr);
    if (hr == AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED) {
        // The documented way: the size the device would take, on a new client.
        UINT32 aligned = 0;
        side.client->GetBufferSize(&aligned);
        duration = frames_to_units(aligned, request.rate);
        if (exclusive && event)
            period = duration;
        side.client.reset();
        if (FAILED(hr = side.device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                              side.client.put_void())))
            return host("cannot activate " + side.label, hr);
        hr = side.client->Initialize(share, flags, duration, period, &format.Format, nullptr);
    }
    if (FAILED(hr))
        return host(std::string("cannot open ") + side.label + " in " + (exclusive ? "exclusive" : "shared") +
                        " mode, " + drive_name(drive),
                    hr);
    if (FAILED(hr = side.client->GetBufferSize(&side.buffer_frames)))
        return host("cannot read the buffer size of " + side.label, hr);
    side.period_frames = units_to_frames(exclusive ? period : default_period, request.rate);
    if (side.period_frames == 0)
        side.period_frames = 1;
    REFERENCE_TIME latency = 0;
    if (SUCCEEDED(side.client->GetStreamLatency(&latency)))
        side.latency_frames = units_to_frames(latency, request.rate);
    side.whole_buffers = exclusive && event;
    if (event) {
        side.event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!side.event)
            return host("cannot make an event", HRESULT_FROM_WIN32(GetLastError()));
        if (FAILED(hr = side.client->SetEventHandle(side.event)))
            return host("cannot give " + side.label + " its event", hr);
    }
    hr = direction == Direction::output
             ? side.client->GetService(__uuidof(IAudioRenderClient), side.render.put_void())
             : side.client->GetService(__uuidof(IAudioCaptureClient), side.capture.put_void());
    if (FAILED(hr) && loopback)
        return host("no loopback capture of " + side.label + " on this host", hr);
    if (FAILED(hr))
        return host(std::string("cannot ") + (direction == Direction::output ? "play to " : "capture from ") +
                        side.label,
                    hr);
    // Where the output is: a loop's latency is read from it. A host without
    // it has none to read.
    if (direction == Direction::output &&
        (FAILED(side.client->GetService(__uuidof(IAudioClock), side.clock.put_void())) ||
         FAILED(side.clock->GetFrequency(&side.clock_frequency)) || side.clock_frequency == 0))
        side.clock.reset();
    if (!exclusive)
        set_volume(side.client.get(), request.volume);
    return {};
}

void release(Side& side)
{
    side.render.reset();
    side.capture.reset();
    side.clock.reset();
    side.client.reset();
    side.device.reset();
    if (side.event)
        CloseHandle(side.event);
    side.event = nullptr;
}

}  // namespace

Result<void> Engine::open_sides(const Stream_Request& request, Drive chosen)
{
    drive = chosen;
    if (request.output) {
        has_out = true;
        if (auto opened = open_side(*request.output, Direction::output, request, chosen, out); !opened)
            return opened;
    }
    if (request.input) {
        has_in = true;
        if (auto opened = open_side(*request.input, Direction::input, request, chosen, in); !opened)
            return opened;
    }
    return {};
}

void Engine::release_clients()
{
    release(out);
    release(in);
}

Result<void> Engine::open(const Stream_Request& request)
{
    if (!request.output && !request.input)
        return Error{"a stream needs an output, an input or both", Error::Kind::host};
    rate = request.rate;
    const bool loopback = request.input && request.input->loopback;
    Drive first = request.drive;
    if (first == Drive::automatic)
        first = loopback ? Drive::polling : Drive::event;
    Result<void> opened = open_sides(request, first);
    // Not every driver signals in exclusive mode; the refusals of a rate or
    // a device hold whatever the drive, so only the host's own failure is
    // tried again.
    if (!opened && opened.error().kind == Error::Kind::host && request.drive == Drive::automatic &&
        first == Drive::event) {
        release_clients();
        has_out = has_in = false;
        opened = open_sides(request, Drive::polling);
    }
    if (!opened) {
        release_clients();
        closed_ = true;
        return opened;
    }
    wake_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!wake_)
        return Error{"cannot make an event (" + describe(HRESULT_FROM_WIN32(GetLastError())) + ")",
                     Error::Kind::host};
    if (has_out)
        out_block_.assign(static_cast<std::size_t>(out.buffer_frames) * out.channels, 0.0f);
    if (has_in) {
        in_device_.assign(static_cast<std::size_t>(in.buffer_frames) * in.device_channels, 0.0f);
        fifo_capacity_ = in.buffer_frames + (has_out ? out.buffer_frames : 0);
        in_fifo_.assign(fifo_capacity_ * static_cast<std::size_t>(in.channels), 0.0f);
    }
    return {};
}

Engine::~Engine()
{
    finish(false);
    if (wake_)
        CloseHandle(wake_);
}

}  // namespace kova::live::wasapi::detail
