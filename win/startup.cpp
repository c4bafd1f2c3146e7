#include "startup.h"

#include <cstring>

#include "app_info.h"
#include "res/resource.h"
#include "state.h"
#include "window.h"

namespace kova::win {
namespace {

constexpr DWORD kWindowStyle = WS_VISIBLE | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

bool register_main_class(HINSTANCE instance)
{
    WNDCLASSA window_class = {};
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = main_window_proc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_KOVA));
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    // Never shows: the window procedure paints the background itself.
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1));
    window_class.lpszMenuName = "MyMainAppMenu";
    window_class.lpszClassName = kWindowClass;
    return RegisterClassA(&window_class) != 0;
}

}  // namespace

HWND start_up(HINSTANCE instance, const char* command_line)
{
    g_instance = instance;
    g_resources = MainWindowResources{};

    // Case-sensitive and anywhere, even inside a longer word or a path.
    const bool large = command_line && std::strstr(command_line, "-d") != nullptr;
    const int width = large ? 760 : 320;
    const int height = large ? 732 : 185;

    if (!register_main_class(instance)) {
        MessageBoxA(nullptr, "Failed to register main class...", "Sorry", MB_ICONERROR);
        return nullptr;
    }
    const HWND window = CreateWindowExA(0, kWindowClass, kAppTitle, kWindowStyle, CW_USEDEFAULT,
                                        CW_USEDEFAULT, width, height, nullptr, nullptr, instance, nullptr);
    if (!window) {
        MessageBoxA(nullptr, "Failed to create window...", "Sorry", MB_ICONERROR);
        return nullptr;
    }
    g_main_window = window;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    return window;
}

int run_message_loop()
{
    MSG message = {};
    while (GetMessageA(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

int run(HINSTANCE instance, const char* command_line)
{
    if (!start_up(instance, command_line))
        return 0;
    return run_message_loop();
}

}  // namespace kova::win
