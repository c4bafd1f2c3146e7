#include <windows.h>
// after windows.h
#include <atomic>

#include "kova/cli/stop_signals.h"

// Windows has no signals to send a process: Ctrl-C, Ctrl-Break and the
// console closing come to a handler on a thread of their own. Each is noted
// as the POSIX signal it stands for, so that the exit status is the same:
// 130 for Ctrl-C.
namespace kova::cli {
namespace {

std::atomic<int> caught{0};

// The numbers POSIX gives them.
constexpr int kInterrupt = 2;
constexpr int kHangUp = 1;

BOOL WINAPI note(DWORD event)
{
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            caught = kInterrupt;
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            // The process ends when this returns: the main thread is given the
            // time to stop its stream and print what it has.
            caught = kHangUp;
            Sleep(2000);
            return TRUE;
        default:
            return FALSE;
    }
}

constexpr int kStepMs = 10;

}  // namespace

Stop_Signals::Stop_Signals()
{
    SetConsoleCtrlHandler(note, TRUE);
}

int Stop_Signals::wait(int milliseconds)
{
    for (int left = milliseconds; caught == 0 && left > 0; left -= kStepMs)
        Sleep(left < kStepMs ? left : kStepMs);
    return caught;
}

}  // namespace kova::cli
