#include "kova/live/wasapi/session.h"

#include <windows.h>
#include <objbase.h>

#include "hresult.h"

namespace kova::live::wasapi {

Session::Session()
{
    // The multithreaded apartment: the stream's own thread uses what this
    // one made, without marshalling.
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr))
        initialized_ = true;
    else
        error_ = "cannot start COM for the audio endpoints (" + detail::describe(hr) + ")";
}

Session::~Session()
{
    if (initialized_ && !abandoned_)
        CoUninitialize();
}

}  // namespace kova::live::wasapi
