#pragma once

// Process start: the window class, the main window and the message loop.

#include <windows.h>

namespace kova::win {

// Registers the class and creates and shows the main window, 760 x 732 when
// the command line holds "-d" anywhere. On failure shows why and answers
// nullptr.
HWND start_up(HINSTANCE instance, const char* command_line);

// Answers the exit code carried by WM_QUIT.
int run_message_loop();

// The whole program: 0 when start-up fails, else the loop's exit code.
int run(HINSTANCE instance, const char* command_line);

}  // namespace kova::win
