// KOVA.exe as a process: both ways out end with exit code 0.

#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "res/resource.h"

namespace kova::win::test {
namespace {

struct Window_Of {
    DWORD process;
    HWND found;
};

BOOL CALLBACK find_main_window(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<Window_Of*>(context);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char window_class[32] = {};
    GetClassNameA(window, window_class, sizeof window_class);
    if (process != search->process || lstrcmpA(window_class, "MainWindowClass") != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

// Starts the program beside this test, sends its window one message and
// answers the exit code, or -1 when it does not end in time.
long run_kova_and_send(UINT message, WPARAM wparam)
{
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string path = exe;
    path = path.substr(0, path.find_last_of('\\') + 1) + "KOVA.exe";

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        ADD_FAILURE() << "cannot start " << path;
        return -1;
    }
    WaitForInputIdle(process.hProcess, 20000);
    // Wine may take a while to start a process on a busy machine.
    Window_Of search = {process.dwProcessId, nullptr};
    const DWORD start = GetTickCount();
    while (!search.found && GetTickCount() - start < 60000) {
        EnumWindows(find_main_window, reinterpret_cast<LPARAM>(&search));
        if (!search.found)
            Sleep(50);
    }
    EXPECT_NE(search.found, nullptr) << "KOVA.exe showed no main window within 60 s";
    if (search.found)
        PostMessageA(search.found, message, wparam, 0);

    DWORD exit_code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exit_code);
    else
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<long>(exit_code);
}

TEST(Kova_Exe, ClosingTheWindowEndsWithExitCodeZero)
{
    EXPECT_EQ(run_kova_and_send(WM_CLOSE, 0), 0);
}

TEST(Kova_Exe, QuitFromTheMenuEndsWithExitCodeZero)
{
    EXPECT_EQ(run_kova_and_send(WM_COMMAND, IDM_QUIT), 0);
}

}  // namespace
}  // namespace kova::win::test
