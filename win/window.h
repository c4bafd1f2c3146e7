#pragma once

// The main window's procedure: every message goes to one small handler or to
// DefWindowProcA.

#include <windows.h>

namespace kova::win {

constexpr char kWindowClass[] = "MainWindowClass";

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace kova::win
