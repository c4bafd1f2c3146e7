#include "kova/live/wasapi/devices.h"

#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <propsys.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "com.h"
#include "endpoints.h"
#include "hresult.h"
#include "kova/settings.h"
#include "wave_format.h"

namespace kova::live::wasapi {

using detail::Com_Ptr;
using detail::Task_Memory;

namespace {

// PKEY_Device_FriendlyName, spelled out: the header's definition needs
// INITGUID in exactly one translation unit.
const PROPERTYKEY kFriendlyName = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

constexpr Sample_Encoding kEncodings[] = {Sample_Encoding::float32, Sample_Encoding::int32,
                                          Sample_Encoding::int24};

Error host_failure(const std::string& what, HRESULT hr)
{
    return Error{what + " (" + detail::describe(hr) + ")", Error::Kind::host};
}

HRESULT make_enumerator(Com_Ptr<IMMDeviceEnumerator>& out)
{
    return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                            out.put_void());
}

std::string endpoint_id(IMMDevice* device)
{
    Task_Memory<wchar_t> id;
    return SUCCEEDED(device->GetId(id.put())) ? detail::to_utf8(id.get()) : std::string();
}

std::string friendly_name(IMMDevice* device)
{
    Com_Ptr<IPropertyStore> store;
    if (FAILED(device->OpenPropertyStore(STGM_READ, store.put())))
        return {};
    PROPVARIANT value;
    PropVariantInit(&value);
    std::string name;
    if (SUCCEEDED(store->GetValue(kFriendlyName, &value)) && value.vt == VT_LPWSTR)
        name = detail::to_utf8(value.pwszVal);
    PropVariantClear(&value);
    return name;
}

Direction direction_of(IMMDevice* device)
{
    Com_Ptr<IMMEndpoint> endpoint;
    EDataFlow flow = eRender;
    if (SUCCEEDED(device->QueryInterface(__uuidof(IMMEndpoint), endpoint.put_void())))
        endpoint->GetDataFlow(&flow);
    return flow == eCapture ? Direction::input : Direction::output;
}

std::string default_id(IMMDeviceEnumerator* enumerator, Direction direction)
{
    Com_Ptr<IMMDevice> device;
    if (FAILED(enumerator->GetDefaultAudioEndpoint(direction == Direction::output ? eRender : eCapture,
                                                   eConsole, device.put())))
        return {};
    return endpoint_id(device.get());
}

// What the mix format and exclusive mode allow.
void probe(IMMDevice* device, Device& d)
{
    Com_Ptr<IAudioClient> client;
    if (FAILED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, client.put_void())))
        return;
    Task_Memory<WAVEFORMATEX> mix;
    if (SUCCEEDED(client->GetMixFormat(mix.put())) && mix.get()) {
        d.channels = mix->nChannels;
        d.mix_rate = static_cast<long>(mix->nSamplesPerSec);
        d.mix_format = detail::describe_format(*mix.get());
    }
    REFERENCE_TIME period = 0, minimum = 0;
    if (SUCCEEDED(client->GetDevicePeriod(&period, &minimum))) {
        d.period_ms = static_cast<double>(period) / 10000.0;
        d.min_period_ms = static_cast<double>(minimum) / 10000.0;
    }
    if (d.channels == 0)
        return;
    const DWORD mask = mix.get() ? detail::channel_mask(*mix.get()) : 0;
    HRESULT refusal = S_OK;
    for (std::size_t e = 0; e < 3; ++e) {
        for (const auto& choice : kRates) {
            const auto format = detail::make_format(kEncodings[e], choice.rate, d.channels, mask);
            const HRESULT hr =
                client->IsFormatSupported(AUDCLNT_SHAREMODE_EXCLUSIVE, &format.Format, nullptr);
            if (hr == S_OK)
                d.exclusive_rates[e].push_back(choice.rate);
            else if (hr != AUDCLNT_E_UNSUPPORTED_FORMAT)
                refusal = hr;
        }
    }
    const bool none = std::all_of(d.exclusive_rates.begin(), d.exclusive_rates.end(),
                                  [](const std::vector<long>& rates) { return rates.empty(); });
    if (none && FAILED(refusal))
        d.exclusive_refusal = detail::describe(refusal);
}

Device describe_device(IMMDevice* device, int index, const std::string (&defaults)[2])
{
    Device d{};
    d.index = index;
    d.id = endpoint_id(device);
    d.name = friendly_name(device);
    d.direction = direction_of(device);
    d.is_default = d.id == defaults[d.direction == Direction::output ? 0 : 1];
    probe(device, d);
    return d;
}

bool all_digits(const std::string& text)
{
    return !text.empty() && text.size() < 7 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

const char* way(Direction direction)
{
    return direction == Direction::output ? "an output (render) endpoint" : "an input (capture) endpoint";
}

struct Listing {
    Com_Ptr<IMMDeviceEnumerator> enumerator;
    Com_Ptr<IMMDeviceCollection> all;
    UINT count = 0;
    std::string defaults[2];
};

HRESULT list(Listing& l)
{
    HRESULT hr = make_enumerator(l.enumerator);
    if (SUCCEEDED(hr))
        hr = l.enumerator->EnumAudioEndpoints(eAll, DEVICE_STATE_ACTIVE, l.all.put());
    if (SUCCEEDED(hr))
        hr = l.all->GetCount(&l.count);
    if (SUCCEEDED(hr)) {
        l.defaults[0] = default_id(l.enumerator.get(), Direction::output);
        l.defaults[1] = default_id(l.enumerator.get(), Direction::input);
    }
    return hr;
}

std::string rate_list(const std::vector<long>& rates)
{
    std::string text;
    for (const long r : rates) text += (text.empty() ? "" : " ") + std::to_string(r);
    return text;
}

// One list when the three encodings agree, as they usually do.
std::string exclusive_column(const Device& d)
{
    const auto& r = d.exclusive_rates;
    if (r[0] == r[1] && r[1] == r[2])
        return r[0].empty() ? "none" : rate_list(r[0]);
    std::string text;
    const char* names[] = {"float32", "int32", "int24"};
    for (std::size_t e = 0; e < 3; ++e)
        text += std::string(e ? ", " : "") + names[e] + " " + (r[e].empty() ? "none" : rate_list(r[e]));
    return text;
}

}  // namespace

namespace detail {

std::string endpoint_label(const Device& device)
{
    return "'" + device.name + "'";
}

Result<Found_Endpoint> find_endpoint(const std::string& name, Direction direction)
{
    Listing l;
    if (const HRESULT hr = list(l); FAILED(hr))
        return host_failure("cannot list the audio endpoints", hr);
    Found_Endpoint found;
    if (name.empty()) {
        const HRESULT hr = l.enumerator->GetDefaultAudioEndpoint(
            direction == Direction::output ? eRender : eCapture, eConsole, found.device.put());
        if (FAILED(hr))
            return Error{std::string("no default ") + way(direction) + " (" + detail::describe(hr) + ")",
                         Error::Kind::refused};
        found.info = describe_device(found.device.get(), -1, l.defaults);
    } else if (all_digits(name)) {
        const auto index = static_cast<UINT>(std::stoul(name));
        if (index >= l.count || FAILED(l.all->Item(index, found.device.put())))
            return Error{"no such device: " + name, Error::Kind::refused};
        found.info = describe_device(found.device.get(), static_cast<int>(index), l.defaults);
    } else {
        // An endpoint ID names one endpoint; a friendly name may name several.
        int matches = 0;
        std::string ids;
        Com_Ptr<IMMDevice> other_way;
        for (UINT i = 0; i < l.count; ++i) {
            Com_Ptr<IMMDevice> device;
            if (FAILED(l.all->Item(i, device.put())))
                continue;
            const std::string id = endpoint_id(device.get());
            if (id == name) {
                found.device = device;
                matches = 1;
                break;
            }
            if (friendly_name(device.get()) != name)
                continue;
            if (direction_of(device.get()) != direction) {
                other_way = device;
                continue;
            }
            ids += (matches ? ", " : "") + id;
            if (matches++ == 0)
                found.device = device;
        }
        if (matches == 0 && other_way) {
            found.device = other_way;
            matches = 1;
        }
        if (matches == 0)
            return Error{"no such device: '" + name + "'", Error::Kind::refused};
        if (matches > 1)
            return Error{
                std::to_string(matches) + " endpoints are named '" + name + "': give one's ID (" + ids + ")",
                Error::Kind::refused};
        found.info = describe_device(found.device.get(), -1, l.defaults);
    }
    if (found.info.direction != direction)
        return Error{"device " + endpoint_label(found.info) + " is not " + way(direction),
                     Error::Kind::refused};
    return found;
}

}  // namespace detail

std::vector<Device> list_devices()
{
    std::vector<Device> devices;
    Listing l;
    if (FAILED(list(l)))
        return devices;
    for (UINT i = 0; i < l.count; ++i) {
        Com_Ptr<IMMDevice> device;
        if (SUCCEEDED(l.all->Item(i, device.put())))
            devices.push_back(describe_device(device.get(), static_cast<int>(i), l.defaults));
    }
    return devices;
}

Result<Device> find_device(const std::string& name, Direction direction)
{
    auto found = detail::find_endpoint(name, direction);
    if (!found)
        return found.error();
    return found->info;
}

std::string device_table(const std::vector<Device>& devices)
{
    std::size_t name_width = 6;
    for (const auto& d : devices) name_width = std::max(name_width, d.name.size());
    const int nw = static_cast<int>(name_width);
    std::string text;
    char line[2048];
    std::snprintf(line, sizeof line, "%5s  %-*s  %-3s  %2s  %8s  %-14s  %s\n", "Index", nw, "Device", "Way",
                  "Ch", "Mix rate", "Mix format", "Exclusive rates");
    text += line;
    for (const auto& d : devices) {
        const std::string exclusive =
            d.exclusive_refusal.empty() ? exclusive_column(d) : "none (" + d.exclusive_refusal + ")";
        std::snprintf(line, sizeof line, "%5d  %-*s  %-3s  %2d  %8ld  %-14s  %s%s\n", d.index, nw,
                      d.name.c_str(), d.direction == Direction::output ? "out" : "in", d.channels, d.mix_rate,
                      d.mix_format.c_str(), exclusive.c_str(), d.is_default ? "  (default)" : "");
        text += line;
        text += "       " + d.id + "\n";
    }
    return text;
}

}  // namespace kova::live::wasapi
