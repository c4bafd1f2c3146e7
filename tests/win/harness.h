#pragma once

// Opening and closing the real main window inside the test process.

#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "dialog_driver.h"

namespace kova::win::test {

std::string window_text(HWND window);

// Dispatches what is queued, dropping a WM_QUIT the shutdown left behind.
void pump_messages();
// Keeps dispatching until handle is signalled.
void pump_messages_until(HANDLE handle);

// Start-up as the program does it; nullptr when it failed.
HWND open_window(const char* command_line);
// What the process exit does for the program: the window and its class go.
void close_window(HWND window);

// Picks an entry the way the user does: the list selects it and tells its parent.
void choose(HWND list, int index);

// The error box of the Windows program: caption, text, error icon, no owner.
void expect_error_box(const Seen& seen, const char* text, const char* caption);

class Main_Window : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    HWND window_ = nullptr;
};

}  // namespace kova::win::test
