#pragma once

// The front-end's module-level state, alive for the whole process. Each item
// has one owner that fills it and one step that releases it; the tests read
// it through this header.

#include <windows.h>
#include <commdlg.h>

#include "kova/generate.h"
#include "kova/wav_data.h"

namespace kova::win {

// The window objects: the three graphics objects are owned here, the three
// controls are children of the main window and only referred to.
struct MainWindowResources {
    HFONT label_font;
    HFONT control_font;
    HBITMAP background;
    HWND sample_rate_list;
    HWND duration_list;
    HWND generate_button;
};

constexpr DWORD kSavePathChars = 260;

extern HINSTANCE g_instance;              // set by start-up
extern HWND g_main_window;                // set by start-up once creation succeeded
extern MainWindowResources g_resources;   // emptied by start-up, filled by the controls, released at shutdown
extern Wav_Data g_wav;                    // the two settings and the header of the file being written
extern Block_Buffer g_block_buffer;       // allocated by the save-dialog set-up, freed at shutdown
extern OPENFILENAMEA g_save_dialog;       // filled once by the save-dialog set-up
extern char g_save_path[kSavePathChars];  // kept between dialogs: each opens on the last choice
extern char g_save_title[kSavePathChars];

}  // namespace kova::win
