#pragma once

// What a failed call said, as the one line the commands print.

#include <windows.h>

#include <string>

namespace kova::live::wasapi::detail {

// "AUDCLNT_E_DEVICE_INVALIDATED, 0x88890004: the device was removed or
// disabled", or the system's own text for codes outside the audio facility.
std::string describe(HRESULT hr);

// A device gone for good rather than a call that failed: the stream ends
// as a loss on this machine.
bool means_device_gone(HRESULT hr);

}  // namespace kova::live::wasapi::detail
