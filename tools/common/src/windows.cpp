#include "kova/cli/windows.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on
#include <fcntl.h>
#include <io.h>

#include <cerrno>

namespace kova::cli::windows {

Utf8_Arguments::Utf8_Arguments()
{
    int count = 0;
    if (wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 0; i < count; ++i) texts_.push_back(to_utf8(wide[i]));
        LocalFree(wide);
    }
    if (texts_.empty())
        texts_.emplace_back();  // the program's own name, which CLI11 expects
    for (auto& text : texts_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
}

void start_command(int& argc, char**& argv)
{
    prepare_standard_streams();
    static Utf8_Arguments arguments;
    argc = arguments.argc();
    argv = arguments.argv();
}

std::wstring to_wide(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string to_utf8(const std::wstring& wide)
{
    if (wide.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr,
                        nullptr);
    return utf8;
}

std::wstring long_path(const std::string& utf8)
{
    const std::wstring name = to_wide(utf8);
    if (name.rfind(L"\\\\?\\", 0) == 0 || name.rfind(L"\\\\.\\", 0) == 0)
        return name;
    const DWORD needed = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return name;  // the open that follows says what is wrong with it
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(name.c_str(), needed, full.data(), nullptr);
    full.resize(length < needed ? length : 0);
    if (full.empty() || full.rfind(L"\\\\.\\", 0) == 0)
        return full.empty() ? name : full;
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

bool is_device_path(const std::wstring& long_path)
{
    return long_path.rfind(L"\\\\.\\", 0) == 0;
}

int errno_of(unsigned long windows_error)
{
    switch (windows_error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILENAME_EXCED_RANGE:
            return ENAMETOOLONG;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA:
            return EPIPE;
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_PARAMETER:
            return EINVAL;
        default:
            return EIO;
    }
}

Fd descriptor_of(void* handle, bool for_writing)
{
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                   (for_writing ? _O_WRONLY : _O_RDONLY) | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        errno = EMFILE;
    }
    return Fd(fd);
}

Fd open_for_reading(const std::string& utf8)
{
    const std::wstring path = long_path(utf8);
    // A folder is no file to read, as POSIX's read() says of it.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = EISDIR;
        return Fd();
    }
    // Others may go on writing, renaming or deleting it, as on POSIX.
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = errno_of(GetLastError());
        return Fd();
    }
    return descriptor_of(file, false);
}

Fd create_new(const std::string& utf8)
{
    HANDLE file = CreateFileW(long_path(utf8).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = errno_of(GetLastError());
        return Fd();
    }
    return descriptor_of(file, true);
}

std::uint64_t file_size(const std::string& utf8)
{
    // A pipe's name is not looked at: that could take one of its instances.
    const std::wstring path = long_path(utf8);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (is_device_path(path) || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

File_Kind file_kind(int fd)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE)
        return File_Kind::unknown;
    switch (GetFileType(handle)) {
        case FILE_TYPE_DISK:
            return File_Kind::disk;
        case FILE_TYPE_PIPE:
            return File_Kind::pipe;
        case FILE_TYPE_CHAR:
            return File_Kind::character;
        default:
            return File_Kind::unknown;
    }
}

void prepare_standard_streams()
{
    for (int fd = 0; fd <= 2; ++fd) _setmode(fd, _O_BINARY);
    // Windows 10 and later draw the status line's escapes once asked to;
    // elsewhere they pass through as text, and the status line stays off.
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(error, &mode))
        SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

namespace {

bool console_mode(std::FILE* stream, DWORD& mode)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

}  // namespace

bool is_console(std::FILE* stream)
{
    DWORD mode = 0;
    return console_mode(stream, mode);
}

bool draws_escapes(std::FILE* stream)
{
    DWORD mode = 0;
    return console_mode(stream, mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

bool write_text(std::FILE* stream, const std::string& utf8)
{
    if (!is_console(stream)) {
        errno = 0;
        const bool ok = std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size() &&
                        std::fflush(stream) == 0 && !std::ferror(stream);
        if (!ok && errno == 0)
            errno = EIO;
        return ok;
    }
    // What went through the C stream before goes first.
    std::fflush(stream);
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    const std::wstring wide = to_wide(utf8);
    std::size_t done = 0;
    while (done < wide.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(wide.size() - done < 16384 ? wide.size() - done : 16384);
        if (!WriteConsoleW(handle, wide.data() + done, chunk, &written, nullptr) || written == 0) {
            errno = errno_of(GetLastError());
            return false;
        }
        done += written;
    }
    return true;
}

}  // namespace kova::cli::windows
