#include "controls.h"

#include <cstdio>
#include <cstring>

#include "app_info.h"
#include "kova/settings.h"
#include "res/resource.h"

namespace kova::win {
namespace {

constexpr DWORD kListStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST;
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;

constexpr char kRateLabel[] = "Samplerate: ";
constexpr char kDurationLabel[] = "Duration:";

HFONT make_font(LONG height)
{
    LOGFONTA font = {};
    font.lfHeight = height;
    font.lfWeight = FW_THIN;
    font.lfCharSet = ANSI_CHARSET;
    constexpr char kFace[] = "Tahoma";
    std::memcpy(font.lfFaceName, kFace, sizeof kFace);
    return CreateFontIndirectA(&font);
}

HWND make_control(HWND parent, const char* window_class, const char* text, DWORD style, int x, int y,
                  int width, int height, int id)
{
    return CreateWindowExA(0, window_class, text, style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), g_instance, nullptr);
}

void set_font(HWND control, HFONT font)
{
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

void add_entry(HWND list, const char* text)
{
    SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
}

}  // namespace

int create_graphics_objects()
{
    g_resources.background = LoadBitmapA(g_instance, MAKEINTRESOURCEA(IDB_BACKGROUND));
    g_resources.label_font = make_font(13);
    g_resources.control_font = make_font(14);
    return 0;
}

int create_controls(MainWindowResources& resources, HWND parent)
{
    resources.sample_rate_list =
        make_control(parent, "combobox", nullptr, kListStyle, 75, 12, 100, 150, IDC_SAMPLE_RATE);
    if (!resources.sample_rate_list)
        return -1;
    for (const auto& rate : kRates) add_entry(resources.sample_rate_list, rate.label);
    set_font(resources.sample_rate_list, resources.control_font);
    SendMessageA(resources.sample_rate_list, CB_SETCURSEL, 0, 0);

    resources.duration_list =
        make_control(parent, "combobox", nullptr, kListStyle, 75, 52, 100, 300, IDC_DURATION);
    if (!resources.duration_list)
        return -1;
    for (const auto& duration : kDurations) add_entry(resources.duration_list, duration.label);
    SendMessageA(resources.duration_list, CB_SETCURSEL, 0, 0);
    // CB_SETCURSEL sends no notification, so the defaults are stored here.
    set_defaults(g_wav);
    set_font(resources.duration_list, resources.control_font);

    resources.generate_button =
        make_control(parent, "button", "Generate...", kButtonStyle, 200, 32, 100, 30, IDC_GENERATE);
    if (!resources.generate_button)
        return -1;
    set_font(resources.generate_button, resources.control_font);
    EnableWindow(resources.generate_button, TRUE);
    return 0;
}

void paint_labels(const MainWindowResources& resources, HDC dc)
{
    // Without its font the text falls back to the context's own.
    const HGDIOBJ kept = resources.label_font ? SelectObject(dc, resources.label_font) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, 10, 15, kRateLabel, static_cast<int>(sizeof kRateLabel - 1));
    TextOutA(dc, 10, 56, kDurationLabel, static_cast<int>(sizeof kDurationLabel - 1));
    if (kept)
        SelectObject(dc, kept);
}

void paint_background(HDC dc, HBITMAP background)
{
    if (!background)
        return;
    const HDC memory = CreateCompatibleDC(dc);
    const HGDIOBJ kept = SelectObject(memory, background);
    BITMAP size = {};
    GetObjectA(background, sizeof size, &size);
    // Unscaled at the origin: the large window shows the rest unpainted.
    BitBlt(dc, 0, 0, size.bmWidth, size.bmHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, kept);
    DeleteDC(memory);
}

void show_about_box(HWND owner)
{
    char text[512] = {};
    std::snprintf(text, sizeof text, "%s\nVersion : %s\n\n%s", kAppTitle, kAppVersion, kMakerLine);
    MessageBoxA(owner, text, "About...", MB_ICONINFORMATION);
}

}  // namespace kova::win
