#include "hresult.h"

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <cstdio>

namespace kova::live::wasapi::detail {

namespace {

struct Known {
    HRESULT code;
    const char* name;
    const char* meaning;  // null where the name says it
};

#define KOVA_CODE(code, meaning) \
    {                            \
        code, #code, meaning     \
    }
const Known kKnown[] = {
    KOVA_CODE(AUDCLNT_E_NOT_INITIALIZED, nullptr),
    KOVA_CODE(AUDCLNT_E_ALREADY_INITIALIZED, nullptr),
    KOVA_CODE(AUDCLNT_E_WRONG_ENDPOINT_TYPE, "the endpoint does not go that way"),
    KOVA_CODE(AUDCLNT_E_DEVICE_INVALIDATED, "the device was removed or disabled"),
    KOVA_CODE(AUDCLNT_E_NOT_STOPPED, nullptr),
    KOVA_CODE(AUDCLNT_E_BUFFER_TOO_LARGE, nullptr),
    KOVA_CODE(AUDCLNT_E_OUT_OF_ORDER, nullptr),
    KOVA_CODE(AUDCLNT_E_UNSUPPORTED_FORMAT, "the device does not take that format"),
    KOVA_CODE(AUDCLNT_E_INVALID_SIZE, nullptr),
    KOVA_CODE(AUDCLNT_E_DEVICE_IN_USE, "another program holds the device in exclusive mode"),
    KOVA_CODE(AUDCLNT_E_BUFFER_OPERATION_PENDING, nullptr),
    KOVA_CODE(AUDCLNT_E_THREAD_NOT_REGISTERED, nullptr),
    KOVA_CODE(AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED, "the device or its driver does not allow exclusive mode"),
    KOVA_CODE(AUDCLNT_E_ENDPOINT_CREATE_FAILED, "the host could not make the stream"),
    KOVA_CODE(AUDCLNT_E_SERVICE_NOT_RUNNING, "the Windows Audio service is not running"),
    KOVA_CODE(AUDCLNT_E_EVENTHANDLE_NOT_EXPECTED, nullptr),
    KOVA_CODE(AUDCLNT_E_EXCLUSIVE_MODE_ONLY, nullptr),
    KOVA_CODE(AUDCLNT_E_BUFDURATION_PERIOD_NOT_EQUAL, nullptr),
    KOVA_CODE(AUDCLNT_E_EVENTHANDLE_NOT_SET, nullptr),
    KOVA_CODE(AUDCLNT_E_INCORRECT_BUFFER_SIZE, nullptr),
    KOVA_CODE(AUDCLNT_E_BUFFER_SIZE_ERROR, "the device does not take a buffer that long or that short"),
    KOVA_CODE(AUDCLNT_E_CPUUSAGE_EXCEEDED, nullptr),
    KOVA_CODE(AUDCLNT_E_BUFFER_ERROR, nullptr),
    KOVA_CODE(AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED, nullptr),
    KOVA_CODE(AUDCLNT_E_INVALID_DEVICE_PERIOD, nullptr),
    KOVA_CODE(AUDCLNT_E_INVALID_STREAM_FLAG, nullptr),
    KOVA_CODE(AUDCLNT_E_RESOURCES_INVALIDATED, "the device's format or state changed under the stream"),
    KOVA_CODE(AUDCLNT_E_ENGINE_FORMAT_LOCKED, nullptr),
    KOVA_CODE(E_NOTFOUND, "no such endpoint"),
    KOVA_CODE(E_OUTOFMEMORY, nullptr),
    KOVA_CODE(E_INVALIDARG, nullptr),
    KOVA_CODE(E_POINTER, nullptr),
    KOVA_CODE(E_NOINTERFACE, nullptr),
    KOVA_CODE(E_FAIL, nullptr),
    KOVA_CODE(CO_E_NOTINITIALIZED, nullptr),
    KOVA_CODE(REGDB_E_CLASSNOTREG, "no audio endpoint service on this system"),
};
#undef KOVA_CODE

}  // namespace

std::string describe(HRESULT hr)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    for (const auto& k : kKnown) {
        if (k.code != hr)
            continue;
        std::string text = std::string(k.name) + ", " + code;
        return k.meaning ? text + ": " + k.meaning : text;
    }
    char* system = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(hr), 0, reinterpret_cast<char*>(&system), 0, nullptr);
    std::string text = code;
    if (length && system) {
        std::string said(system, length);
        while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == '.'))
            said.pop_back();
        if (!said.empty())
            text += ": " + said;
    }
    LocalFree(system);
    return text;
}

bool means_device_gone(HRESULT hr)
{
    return hr == AUDCLNT_E_DEVICE_INVALIDATED || hr == AUDCLNT_E_SERVICE_NOT_RUNNING ||
           hr == AUDCLNT_E_RESOURCES_INVALIDATED;
}

}  // namespace kova::live::wasapi::detail
