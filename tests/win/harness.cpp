#include "harness.h"

#include "startup.h"
#include "window.h"

namespace kova::win::test {

std::string window_text(HWND window)
{
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

void pump_messages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void pump_messages_until(HANDLE handle)
{
    while (MsgWaitForMultipleObjects(1, &handle, FALSE, 60000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
        pump_messages();
    pump_messages();
}

HWND open_window(const char* command_line)
{
    const HWND window = start_up(GetModuleHandleA(nullptr), command_line);
    pump_messages();
    return window;
}

void close_window(HWND window)
{
    if (window && IsWindow(window))
        DestroyWindow(window);
    pump_messages();
    UnregisterClassA(kWindowClass, GetModuleHandleA(nullptr));
}

void choose(HWND list, int index)
{
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageA(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
}

void expect_error_box(const Seen& seen, const char* text, const char* caption)
{
    EXPECT_FALSE(seen.save_dialog);
    EXPECT_EQ(seen.caption, caption);
    EXPECT_EQ(seen.text, text);
    EXPECT_EQ(seen.icon, LoadIconA(nullptr, IDI_ERROR));
    EXPECT_EQ(seen.owner, nullptr);
}

void Main_Window::SetUp()
{
    window_ = open_window("");
    ASSERT_NE(window_, nullptr);
}

void Main_Window::TearDown()
{
    close_window(window_);
}

}  // namespace kova::win::test
