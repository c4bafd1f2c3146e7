#include <windows.h>
// after windows.h
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>

#include "kova/cli/standard_fds.h"
#include "kova/cli/windows.h"

namespace kova::cli {

bool open_standard_descriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (_get_osfhandle(fd) != -1)
            continue;
        // Read-only, as on POSIX: what is written there still fails.
        const int null = _open("NUL", _O_RDONLY | _O_BINARY);
        if (null < 0)
            return false;
        if (null != fd) {
            const int placed = _dup2(null, fd);
            _close(null);
            if (placed != 0)
                return false;
        }
    }
    return true;
}

bool begin_command(int& argc, char**& argv)
{
    if (!open_standard_descriptors())
        return false;
    windows::start_command(argc, argv);
    return true;
}

// One file on one volume; a pipe or a console is only ever itself.
bool same_file(int a, int b)
{
    const auto ha = reinterpret_cast<HANDLE>(_get_osfhandle(a));
    const auto hb = reinterpret_cast<HANDLE>(_get_osfhandle(b));
    if (ha == INVALID_HANDLE_VALUE || hb == INVALID_HANDLE_VALUE)
        return false;
    if (ha == hb)
        return true;
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    return GetFileType(ha) == FILE_TYPE_DISK && GetFileType(hb) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(ha, &ia) && GetFileInformationByHandle(hb, &ib) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

bool write_text(std::FILE* stream, const std::string& text)
{
    return windows::write_text(stream, text);
}

}  // namespace kova::cli
