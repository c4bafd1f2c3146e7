#pragma once

// The commands of the menu, the button and the two lists; the save dialog;
// the one place a failure status becomes a message.

#include <windows.h>

namespace kova::win {

// Makes the first, small block buffer and fills the save-dialog record.
// Answers kNoMemory when the buffer cannot be had: the record then stays
// empty and every later save dialog fails quietly.
int set_up_save_dialog(HWND main_window);

// Runs the command to its end, a whole generation included.
void handle_command(HWND main_window, int id);

// The error box for a non-zero status: no owner, error icon, OK only.
void show_error(int status);

}  // namespace kova::win
