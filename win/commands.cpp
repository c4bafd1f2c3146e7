#include "commands.h"

#include <cstdio>
#include <new>

#include "controls.h"
#include "file_output.h"
#include "kova/generate.h"
#include "kova/settings.h"
#include "kova/status.h"
#include "res/resource.h"
#include "state.h"

namespace kova::win {
namespace {

constexpr std::size_t kFirstBufferBytes = 256;

// Each entry zero-terminated; the literal's own terminator ends the list.
constexpr char kFilter[] = "WAVE File (*.wav)\0*.wav\0All Files (*.*)\0*.*\0";

void write_line(const char* line)
{
    std::fputs(line, stdout);
    std::fflush(stdout);
}

const char* error_text(int status)
{
    switch (status) {
        case kNoMemory:
            return "\n###Failed to allocate new memory!\n";
        case kCreateFailed:
            return "\n###File creation failed!\n";
        case kWriteFailed:
            return "\n###Writing the file failed!\n";
        default:
            return "\n###Fatal error occured!\n";
    }
}

bool ask_for_file(HWND main_window)
{
    g_save_dialog.hwndOwner = main_window;
    g_save_dialog.lpstrFile = g_save_path;
    g_save_dialog.lpstrFileTitle = g_save_title;
    g_save_dialog.Flags = OFN_OVERWRITEPROMPT;
    return GetSaveFileNameA(&g_save_dialog) == 1;
}

void generate_file(HWND main_window)
{
    if (!ask_for_file(main_window))
        return;
    // The dialog has already asked before replacing an existing file.
    const HANDLE file =
        CreateFileA(g_save_path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        show_error(kCreateFailed);
        return;
    }
    File_Output output(file);
    const int status = generate(g_wav, g_block_buffer, output, write_line);
    if (status == kOk)
        return;
    // A header that promises more data than follows must not stay behind.
    DeleteFileA(g_save_path);
    show_error(status);
}

}  // namespace

int set_up_save_dialog(HWND main_window)
{
    try {
        g_block_buffer.resize(kFirstBufferBytes);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    g_save_dialog = OPENFILENAMEA{};
    g_save_dialog.lStructSize = static_cast<DWORD>(sizeof(OPENFILENAMEA));
    g_save_dialog.hwndOwner = main_window;
    g_save_dialog.lpstrFilter = kFilter;
    g_save_dialog.lpstrFile = g_save_path;
    g_save_dialog.nMaxFile = kSavePathChars;
    g_save_dialog.lpstrFileTitle = g_save_title;
    g_save_dialog.nMaxFileTitle = kSavePathChars;
    g_save_dialog.Flags = OFN_OVERWRITEPROMPT;
    g_save_dialog.lpstrDefExt = "wav";
    return kOk;
}

void handle_command(HWND main_window, int id)
{
    switch (id) {
        case IDC_GENERATE:
            generate_file(main_window);
            break;
        case IDM_QUIT:
            PostMessageA(main_window, WM_DESTROY, 0, 0);
            break;
        case IDM_ABOUT:
            show_about_box(main_window);
            break;
        case IDC_SAMPLE_RATE:
            select_sample_rate(g_wav, SendMessageA(g_resources.sample_rate_list, CB_GETCURSEL, 0, 0));
            break;
        case IDC_DURATION:
            select_duration(g_wav, SendMessageA(g_resources.duration_list, CB_GETCURSEL, 0, 0));
            break;
        default:
            break;
    }
}

void show_error(int status)
{
    char text[256] = {};
    std::snprintf(text, sizeof text, "%s", error_text(status));
    MessageBoxA(nullptr, text, "Wave Error", MB_ICONERROR);
}

}  // namespace kova::win
