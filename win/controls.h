#pragma once

// What the main window shows: background picture, labels, the two lists, the
// button and their fonts; and the About box.

#include <windows.h>

#include "state.h"

namespace kova::win {

// Loads the background and makes the two fonts into g_resources. A missing
// object leaves its slot empty; always answers 0.
int create_graphics_objects();

// Makes the lists and the button under parent, fills and selects the lists and
// stores the default settings. Answers -1 at the first control that cannot be
// made; what was made before is left for the shutdown.
int create_controls(MainWindowResources& resources, HWND parent);

void paint_labels(const MainWindowResources& resources, HDC dc);
void paint_background(HDC dc, HBITMAP background);

void show_about_box(HWND owner);

}  // namespace kova::win
