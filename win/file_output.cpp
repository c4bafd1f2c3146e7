#include "file_output.h"

namespace kova::win {

std::size_t File_Output::write(const unsigned char* data, std::size_t size)
{
    // WriteFile takes 32 bits: a larger request is cut, and so reports short.
    const DWORD request = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file_, data, request, &written, nullptr))
        return 0;
    return written;
}

int File_Output::close()
{
    if (file_ == INVALID_HANDLE_VALUE)
        return kOk;
    // On a network share a delayed write error is reported here and
    // nowhere else. The handle is gone either way.
    const BOOL closed = CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    return closed ? kOk : kWriteFailed;
}

}  // namespace kova::win
