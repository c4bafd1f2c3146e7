#include "state.h"

namespace kova::win {

HINSTANCE g_instance = nullptr;
HWND g_main_window = nullptr;
MainWindowResources g_resources = {};
Wav_Data g_wav = {};
Block_Buffer g_block_buffer;
OPENFILENAMEA g_save_dialog = {};
char g_save_path[kSavePathChars] = {};
char g_save_title[kSavePathChars] = {};

}  // namespace kova::win
