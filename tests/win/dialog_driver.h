#pragma once

// Answers the modal dialogs a command opens, from a second thread, the way a
// user would, and records what each of them showed.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kova::win::test {

enum class Answer {
    kSave,    // save dialog: type file_name (unless empty) and press OK
    kCancel,  // save dialog: type file_name (unless empty) and press Cancel
    kYes,     // message box with Yes/No
    kOk,      // message box with OK
};

struct Step {
    Answer answer;
    std::string file_name;
};

struct Seen {
    bool save_dialog = false;
    std::string caption;
    std::string text;    // a box's message; the name a save dialog showed
    std::string folder;  // the folder a save dialog showed
    HICON icon = nullptr;
    HWND owner = nullptr;
    bool has_yes = false;
};

// Runs action on the calling (window) thread while a helper thread answers
// each dialog in turn with the next step. A dialog beyond the steps is
// recorded too and dismissed, so the caller sees it in the result.
std::vector<Seen> answer_dialogs(const std::vector<Step>& steps, const std::function<void()>& action);

}  // namespace kova::win::test
