#include "dialog_driver.h"

#include <dlgs.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "harness.h"

namespace kova::win::test {
namespace {

constexpr DWORD kPollMs = 20;
constexpr DWORD kGiveUpMs = 60000;

struct Driver {
    DWORD ui_thread;
    std::vector<Step> steps;
    std::vector<Seen> seen;
    std::vector<HWND> handled;
    HANDLE action_done;
    std::string gave_up;  // what the helper gave up waiting for; a failure of the test
};

struct Search {
    const Driver* driver;
    HWND found;
};

// Recorded for the test's thread to report, and printed at once: an action
// still stuck in a dialog keeps that thread from ever reporting it.
void give_up(Driver& driver, const std::string& why)
{
    std::fprintf(stderr, "dialog driver: %s\n", why.c_str());
    if (driver.gave_up.empty())
        driver.gave_up = why;
}

bool is_handled(const Driver& driver, HWND window)
{
    for (const HWND h : driver.handled)
        if (h == window)
            return true;
    return false;
}

// A dialog waiting for the user is visible and enabled; a save dialog that
// shows the overwrite prompt is disabled until the prompt is answered.
BOOL CALLBACK find_dialog(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<Search*>(context);
    char window_class[16] = {};
    GetClassNameA(window, window_class, sizeof window_class);
    if (std::strcmp(window_class, "#32770") != 0 || !IsWindowVisible(window) || !IsWindowEnabled(window) ||
        is_handled(*search->driver, window))
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND wait_for_dialog(Driver& driver)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kGiveUpMs) {
        Search search = {&driver, nullptr};
        EnumThreadWindows(driver.ui_thread, find_dialog, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        if (WaitForSingleObject(driver.action_done, kPollMs) == WAIT_OBJECT_0)
            return nullptr;
    }
    give_up(driver, "no dialog came up for " + std::to_string(kGiveUpMs / 1000) +
                        " s while the action was still running");
    return nullptr;
}

BOOL CALLBACK read_box_child(HWND child, LPARAM context)
{
    auto* seen = reinterpret_cast<Seen*>(context);
    char child_class[16] = {};
    GetClassNameA(child, child_class, sizeof child_class);
    if (lstrcmpiA(child_class, "Static") != 0)
        return TRUE;
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
        seen->icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    else if (seen->text.empty())
        seen->text = window_text(child);
    return TRUE;
}

HWND name_field(HWND dialog)
{
    const HWND combo = GetDlgItem(dialog, cmb13);
    return combo ? combo : GetDlgItem(dialog, edt1);
}

Seen describe(HWND dialog)
{
    Seen seen;
    seen.caption = window_text(dialog);
    seen.owner = GetWindow(dialog, GW_OWNER);
    if (const HWND name = name_field(dialog)) {
        seen.save_dialog = true;
        seen.text = window_text(name);
        char folder[MAX_PATH] = {};
        SendMessageA(dialog, CDM_GETFOLDERPATH, sizeof folder, reinterpret_cast<LPARAM>(folder));
        seen.folder = folder;
    } else {
        seen.has_yes = GetDlgItem(dialog, IDYES) != nullptr;
        EnumChildWindows(dialog, read_box_child, reinterpret_cast<LPARAM>(&seen));
    }
    return seen;
}

// A dialog may show before its thread has filled it in: a box without its
// text yet, a save dialog that does not know its folder yet.
bool filled(const Seen& seen)
{
    return seen.save_dialog ? !seen.folder.empty() : !seen.text.empty();
}

bool describe_when_filled(HWND dialog, Seen& seen)
{
    const DWORD start = GetTickCount();
    for (;;) {
        seen = describe(dialog);
        if (filled(seen))
            return true;
        if (GetTickCount() - start >= kGiveUpMs)
            return false;
        Sleep(kPollMs);
    }
}

void press(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void answer(HWND dialog, const Seen& seen, const Step* step)
{
    if (!step) {
        // Not in the script: get it out of the way, the caller will see it.
        press(dialog, seen.save_dialog ? IDCANCEL : seen.has_yes ? IDYES : IDOK);
        return;
    }
    switch (step->answer) {
        case Answer::kSave:
        case Answer::kCancel:
            if (!step->file_name.empty())
                SetWindowTextA(name_field(dialog), step->file_name.c_str());
            press(dialog, step->answer == Answer::kSave ? IDOK : IDCANCEL);
            break;
        case Answer::kYes:
            press(dialog, IDYES);
            break;
        case Answer::kOk:
            press(dialog, IDOK);
            break;
    }
}

DWORD WINAPI drive_dialogs(LPVOID context)
{
    auto* driver = static_cast<Driver*>(context);
    while (const HWND dialog = wait_for_dialog(*driver)) {
        const std::size_t index = driver->seen.size();
        driver->seen.emplace_back();
        driver->handled.push_back(dialog);
        Seen& seen = driver->seen.back();
        if (!describe_when_filled(dialog, seen))
            give_up(*driver, "dialog " + std::to_string(index + 1) + " (\"" + seen.caption +
                                 "\") was still not filled in after " + std::to_string(kGiveUpMs / 1000) +
                                 " s");
        answer(dialog, seen, index < driver->steps.size() ? &driver->steps[index] : nullptr);
    }
    return 0;
}

}  // namespace

std::vector<Seen> answer_dialogs(const std::vector<Step>& steps, const std::function<void()>& action)
{
    Driver driver = {GetCurrentThreadId(), steps, {}, {}, CreateEventA(nullptr, TRUE, FALSE, nullptr), {}};
    const HANDLE thread = CreateThread(nullptr, 0, drive_dialogs, &driver, 0, nullptr);
    action();
    SetEvent(driver.action_done);
    pump_messages_until(thread);
    CloseHandle(thread);
    CloseHandle(driver.action_done);
    if (!driver.gave_up.empty())
        ADD_FAILURE() << "answering the dialogs: " << driver.gave_up;
    return driver.seen;
}

}  // namespace kova::win::test
