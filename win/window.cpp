#include "window.h"

#include "commands.h"
#include "controls.h"
#include "state.h"

namespace kova::win {
namespace {

LRESULT on_create(HWND window)
{
    create_graphics_objects();
    set_up_save_dialog(window);  // a failure only disables the save dialog
    if (create_controls(g_resources, window) != 0) {
        MessageBoxA(nullptr, "Failed to create Controls...", "Application error", MB_ICONERROR);
        return -1;
    }
    return 0;
}

template <typename Handle>
void delete_object(Handle& slot)
{
    if (!slot)
        return;
    DeleteObject(slot);
    slot = nullptr;
}

void destroy_control(HWND& slot)
{
    if (!slot)
        return;
    DestroyWindow(slot);
    slot = nullptr;
}

// Runs for every WM_DESTROY, and a close and a Quit may both queue one:
// each release empties its slot so the second run frees nothing.
LRESULT on_destroy()
{
    if (g_block_buffer.capacity() != 0)
        Block_Buffer().swap(g_block_buffer);
    delete_object(g_resources.background);
    delete_object(g_resources.label_font);
    delete_object(g_resources.control_font);
    destroy_control(g_resources.sample_rate_list);
    destroy_control(g_resources.duration_list);
    destroy_control(g_resources.generate_button);
    PostQuitMessage(0);
    return 0;
}

LRESULT on_paint(HWND window)
{
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(window, &paint);
    paint_labels(g_resources, dc);
    EndPaint(window, &paint);
    return 0;
}

LRESULT on_erase_background(WPARAM dc)
{
    paint_background(reinterpret_cast<HDC>(dc), g_resources.background);
    return 1;
}

// Only a request: the shutdown runs when the posted WM_DESTROY arrives.
LRESULT on_close(HWND window)
{
    PostMessageA(window, WM_DESTROY, 0, 0);
    return 0;
}

LRESULT on_command(HWND window, WPARAM wparam)
{
    handle_command(window, LOWORD(wparam));
    return 0;
}

}  // namespace

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
        case WM_CREATE:
            return on_create(window);
        case WM_DESTROY:
            return on_destroy();
        case WM_PAINT:
            return on_paint(window);
        case WM_ERASEBKGND:
            return on_erase_background(wparam);
        case WM_CLOSE:
            return on_close(window);
        case WM_COMMAND:
            return on_command(window, wparam);
        case WM_KEYDOWN:
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
            return 0;
        default:
            return DefWindowProcA(window, message, wparam, lparam);
    }
}

}  // namespace kova::win
