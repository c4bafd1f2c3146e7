// KOVA.exe: the Windows program that writes the KOVA test-pattern WAV file.

#include <windows.h>

#include "startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int)
{
    return kova::win::run(instance, command_line);
}
