// The main window as the program opens it: defaults, lists, menu, sizes,
// the About box, shutdown and the start-up failures.

#include "window.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "res/resource.h"
#include "startup.h"
#include "state.h"

namespace kova::win::test {
namespace {

std::vector<std::string> entries(HWND list)
{
    std::vector<std::string> texts;
    const auto count = SendMessageA(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[64] = {};
        SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        texts.push_back(text);
    }
    return texts;
}

// Where a control sits in its parent's client area, and its size.
RECT placement(HWND control)
{
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

SIZE outer_size(HWND window)
{
    RECT rect;
    GetWindowRect(window, &rect);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

LOGFONTA font_of(HFONT font)
{
    LOGFONTA description = {};
    GetObjectA(font, sizeof description, &description);
    return description;
}

std::string menu_text(HMENU menu, UINT position)
{
    char text[64] = {};
    GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
    return text;
}

TEST_F(Main_Window, OpensOnTheDefaultsWithTitleAndFixedSize)
{
    EXPECT_EQ(g_main_window, window_);
    EXPECT_EQ(window_text(window_), "KOVA Generator 1.1");
    EXPECT_TRUE(IsWindowVisible(window_));
    const SIZE size = outer_size(window_);
    EXPECT_EQ(size.cx, 320);
    EXPECT_EQ(size.cy, 185);
    const LONG style = GetWindowLongA(window_, GWL_STYLE);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0) << "the user must not resize or maximise it";

    EXPECT_EQ(SendMessageA(g_resources.sample_rate_list, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(SendMessageA(g_resources.duration_list, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(g_wav.Format.dwSamplesPerSec, 44100);
    EXPECT_EQ(g_wav.iDuration, 1);
}

TEST_F(Main_Window, ListsAndButtonSitWhereTheyBelongWithTheirEntriesAndFont)
{
    EXPECT_EQ(entries(g_resources.sample_rate_list),
              (std::vector<std::string>{"44.1 kHz", "48 kHz", "88.2 kHz", "96 kHz", "176.4 kHz", "192 kHz"}));
    EXPECT_EQ(entries(g_resources.duration_list),
              (std::vector<std::string>{"1 Second", "10 Seconds", "1 Minute", "10 Minutes", "1 Hour"}));

    const struct {
        HWND control;
        int id, x, y, width;
    } controls[] = {
        {g_resources.sample_rate_list, IDC_SAMPLE_RATE, 75, 12, 100},
        {g_resources.duration_list, IDC_DURATION, 75, 52, 100},
        {g_resources.generate_button, IDC_GENERATE, 200, 32, 100},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(GetDlgCtrlID(c.control), c.id);
        const RECT rect = placement(c.control);
        EXPECT_EQ(rect.left, c.x);
        EXPECT_EQ(rect.top, c.y);
        EXPECT_EQ(rect.right - rect.left, c.width);
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(c.control, WM_GETFONT, 0, 0)),
                  g_resources.control_font);
        if (c.id == IDC_GENERATE)
            continue;
        // A drop-down list has no edit field to type into.
        EXPECT_EQ(FindWindowExA(c.control, nullptr, "Edit", nullptr), nullptr);
    }
    EXPECT_EQ(window_text(g_resources.generate_button), "Generate...");
    EXPECT_TRUE(IsWindowEnabled(g_resources.generate_button));
    RECT button = placement(g_resources.generate_button);
    EXPECT_EQ(button.bottom - button.top, 30);

    const LOGFONTA label = font_of(g_resources.label_font);
    const LOGFONTA control = font_of(g_resources.control_font);
    EXPECT_STREQ(label.lfFaceName, "Tahoma");
    EXPECT_EQ(label.lfHeight, 13);
    EXPECT_EQ(label.lfWeight, FW_THIN);
    EXPECT_STREQ(control.lfFaceName, "Tahoma");
    EXPECT_EQ(control.lfHeight, 14);
    EXPECT_EQ(control.lfWeight, FW_THIN);
}

TEST_F(Main_Window, MenuOffersGenerateAboutAndQuitWithTheButtonsCommand)
{
    const HMENU bar = GetMenu(window_);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(GetMenuItemCount(bar), 1);
    EXPECT_EQ(menu_text(bar, 0), "&Command");
    const HMENU command = GetSubMenu(bar, 0);
    ASSERT_EQ(GetMenuItemCount(command), 4);
    EXPECT_EQ(menu_text(command, 0), "&Generate");
    EXPECT_EQ(GetMenuItemID(command, 0), static_cast<UINT>(GetDlgCtrlID(g_resources.generate_button)));
    EXPECT_TRUE(GetMenuState(command, 1, MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(menu_text(command, 2), "&About");
    EXPECT_EQ(GetMenuItemID(command, 2), 101u);
    EXPECT_EQ(menu_text(command, 3), "&Quit");
    EXPECT_EQ(GetMenuItemID(command, 3), 100u);
}

TEST_F(Main_Window, ListSelectionsSetTheSettingsAndNoSelectionKeepsThem)
{
    const long rates[] = {44100, 48000, 88200, 96000, 176400, 192000};
    for (int i = 5; i >= 0; --i) {
        choose(g_resources.sample_rate_list, i);
        EXPECT_EQ(g_wav.Format.dwSamplesPerSec, rates[i]) << "entry " << i;
    }
    const int seconds[] = {1, 10, 60, 600, 3600};
    for (int i = 4; i >= 0; --i) {
        choose(g_resources.duration_list, i);
        EXPECT_EQ(g_wav.iDuration, seconds[i]) << "entry " << i;
    }

    choose(g_resources.sample_rate_list, 3);
    choose(g_resources.duration_list, 2);
    choose(g_resources.sample_rate_list, -1);
    choose(g_resources.duration_list, -1);
    ASSERT_EQ(SendMessageA(g_resources.sample_rate_list, CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(g_wav.Format.dwSamplesPerSec, 96000);
    EXPECT_EQ(g_wav.iDuration, 60);
}

TEST(Start_Up, DashDAnywhereInTheCommandLineEnlargesTheWindow)
{
    const struct {
        const char* command_line;
        LONG width, height;
    } cases[] = {
        {"", 320, 185},   {"-d", 760, 732},  {"x-dy", 760, 732}, {"C:\\my-dir\\out.wav", 760, 732},
        {"-D", 320, 185}, {"- d", 320, 185},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command_line);
        const HWND window = open_window(c.command_line);
        ASSERT_NE(window, nullptr);
        const SIZE size = outer_size(window);
        EXPECT_EQ(size.cx, c.width);
        EXPECT_EQ(size.cy, c.height);
        close_window(window);
    }
}

TEST_F(Main_Window, CloseAndQuitQueuedTogetherReleaseEverythingOnceAndEndTheLoopWithZero)
{
    const MainWindowResources before = g_resources;
    ASSERT_NE(before.background, nullptr);
    ASSERT_NE(before.label_font, nullptr);
    ASSERT_NE(before.control_font, nullptr);
    ASSERT_GT(g_block_buffer.capacity(), 0u);

    PostMessageA(window_, WM_CLOSE, 0, 0);
    PostMessageA(window_, WM_COMMAND, IDM_QUIT, 0);
    EXPECT_EQ(run_message_loop(), 0);

    EXPECT_EQ(g_block_buffer.capacity(), 0u);
    EXPECT_EQ(g_resources.background, nullptr);
    EXPECT_EQ(g_resources.label_font, nullptr);
    EXPECT_EQ(g_resources.control_font, nullptr);
    EXPECT_EQ(GetObjectType(before.background), 0u) << "bitmap not deleted";
    EXPECT_EQ(GetObjectType(before.label_font), 0u) << "label font not deleted";
    EXPECT_EQ(GetObjectType(before.control_font), 0u) << "control font not deleted";
    EXPECT_EQ(g_resources.sample_rate_list, nullptr);
    EXPECT_EQ(g_resources.duration_list, nullptr);
    EXPECT_EQ(g_resources.generate_button, nullptr);
    EXPECT_FALSE(IsWindow(before.sample_rate_list));
    EXPECT_FALSE(IsWindow(before.duration_list));
    EXPECT_FALSE(IsWindow(before.generate_button));
    EXPECT_TRUE(IsWindow(window_)) << "the main window goes with the process, not with the shutdown";
}

TEST_F(Main_Window, AboutBoxShowsFourLinesOwnedByTheWindow)
{
    const auto seen =
        answer_dialogs({{Answer::kOk, ""}}, [&] { SendMessageA(window_, WM_COMMAND, IDM_ABOUT, 0); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "About...");
    EXPECT_EQ(seen[0].icon, LoadIconA(nullptr, IDI_INFORMATION));
    EXPECT_EQ(seen[0].owner, window_);

    std::vector<std::string> lines;
    std::istringstream text(seen[0].text);
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u) << seen[0].text;
    EXPECT_EQ(lines[0], "KOVA Generator 1.1");
    EXPECT_EQ(lines[1], "Version : 1.1");
    EXPECT_EQ(lines[2], "");
    EXPECT_FALSE(lines[3].empty()) << "the maker line";
}

TEST(Start_Up, AClassThatCannotBeRegisteredIsReportedAndTheProgramEndsWithZero)
{
    WNDCLASSA taken = {};
    taken.lpfnWndProc = DefWindowProcA;
    taken.hInstance = GetModuleHandleA(nullptr);
    taken.lpszClassName = kWindowClass;
    ASSERT_NE(RegisterClassA(&taken), 0);

    int exit_code = -1;
    const auto seen =
        answer_dialogs({{Answer::kOk, ""}}, [&] { exit_code = run(GetModuleHandleA(nullptr), ""); });
    close_window(nullptr);
    EXPECT_EQ(exit_code, 0);
    ASSERT_EQ(seen.size(), 1u);
    expect_error_box(seen[0], "Failed to register main class...", "Sorry");
}

LRESULT CALLBACK refuse_generate_button(int code, WPARAM wparam, LPARAM lparam)
{
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lparam)->lpcs;
        if (create->lpszName && std::strcmp(create->lpszName, "Generate...") == 0)
            return 1;
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

TEST(Start_Up, AControlThatCannotBeMadeIsReportedAndTheWindowAbandoned)
{
    const HHOOK hook = SetWindowsHookExA(WH_CBT, refuse_generate_button, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    int exit_code = -1;
    HWND left_over = nullptr;
    const auto seen = answer_dialogs({{Answer::kOk, ""}, {Answer::kOk, ""}}, [&] {
        exit_code = run(GetModuleHandleA(nullptr), "");
        left_over = FindWindowA(kWindowClass, nullptr);
    });
    UnhookWindowsHookEx(hook);
    close_window(nullptr);

    EXPECT_EQ(exit_code, 0);
    EXPECT_EQ(left_over, nullptr) << "the abandoned window must never show";
    ASSERT_EQ(seen.size(), 2u);
    expect_error_box(seen[0], "Failed to create Controls...", "Application error");
    expect_error_box(seen[1], "Failed to create window...", "Sorry");
}

}  // namespace
}  // namespace kova::win::test
