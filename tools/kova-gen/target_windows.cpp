#include <windows.h>

#include <cerrno>
#include <random>

#include "kova/cli/windows.h"
#include "target.h"

namespace kova::cli {
namespace {

using windows::errno_of;

// The longest name a folder entry takes on NTFS and FAT alike.
constexpr std::size_t kNameMax = 255;

// ".NAME.XXXXXX" beside the target, as on POSIX; shortened where NAME is
// already near the longest name.
std::wstring temp_name(const std::wstring& target)
{
    static std::mt19937 engine{std::random_device{}()};
    static const wchar_t letters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const std::size_t slash = target.find_last_of(L'\\');
    const std::wstring folder = target.substr(0, slash + 1);
    const std::wstring name = target.substr(slash + 1);
    constexpr std::size_t kExtra = 8;
    std::wstring temp = folder + L"." + name.substr(0, kNameMax - kExtra) + L".";
    for (int i = 0; i < 6; ++i) temp += letters[engine() % (sizeof letters / sizeof letters[0] - 1)];
    return temp;
}

bool set_delete_on_close(HANDLE file, bool remove)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

Result<Fd> descriptor(HANDLE file, const std::string& path)
{
    Fd fd = windows::descriptor_of(file, true);
    if (!fd)
        return system_error("cannot create " + path, errno);
    return fd;
}

}  // namespace

Result<Fd> Target::open(const std::string& path, bool force)
{
    path_ = path;
    force_ = force;
    if (path == "-")
        return Fd::borrowed(1);
    target_ = windows::long_path(path);
    // Devices and pipes are written where they are, never replaced.
    if (windows::is_device_path(target_)) {
        HANDLE device = CreateFileW(target_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        if (device == INVALID_HANDLE_VALUE)
            return system_error("cannot create " + path, errno_of(GetLastError()));
        return descriptor(device, path);
    }
    const DWORD attributes = GetFileAttributesW(target_.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return create(false);  // the creation says what is wrong, if anything
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return system_error("cannot create " + path, EISDIR);
    if (!force)
        return Error{path + " exists (use --force to replace it)"};
    return create(true);
}

Result<Fd> Target::create(bool replacing)
{
    for (int tries = 0; tries < 100; ++tries) {
        const std::wstring temp = temp_name(target_);
        HANDLE file = CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
                continue;
            // A shell's > would write into the file itself, but then a failed
            // run would cost the old content.
            if (replacing && error == ERROR_ACCESS_DENIED)
                return Error{"cannot replace " + path_ +
                             ": its folder is not writable, so the file cannot be replaced safely"};
            return system_error("cannot create " + path_, errno_of(error));
        }
        // Gone when the last handle on it closes, however the process ends,
        // until commit() says otherwise. The writer gets a handle of its own,
        // so that its close leaves the file to this one.
        HANDLE writer = nullptr;
        if (!set_delete_on_close(file, true) ||
            !DuplicateHandle(GetCurrentProcess(), file, GetCurrentProcess(), &writer, 0, FALSE,
                             DUPLICATE_SAME_ACCESS)) {
            const DWORD error = GetLastError();
            CloseHandle(file);
            DeleteFileW(temp.c_str());
            return system_error("cannot create " + path_, errno_of(error));
        }
        kept_ = file;
        temp_ = temp;
        return descriptor(writer, path_);
    }
    return system_error("cannot create " + path_, EEXIST);
}

Result<void> Target::commit()
{
    if (!kept_)
        return {};
    if (!set_delete_on_close(kept_, false)) {
        const DWORD error = GetLastError();
        discard();
        return system_error("cannot create " + path_, errno_of(error));
    }
    CloseHandle(kept_);
    kept_ = nullptr;
    // Without --force a file that appeared meanwhile is still not replaced.
    if (MoveFileExW(temp_.c_str(), target_.c_str(), force_ ? MOVEFILE_REPLACE_EXISTING : 0)) {
        temp_.clear();
        return {};
    }
    const DWORD error = GetLastError();
    discard();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        return Error{path_ + " exists (use --force to replace it)"};
    return system_error("cannot create " + path_, errno_of(error));
}

void Target::discard()
{
    if (kept_) {
        CloseHandle(kept_);  // marked for deletion: this removes it
        kept_ = nullptr;
    } else if (!temp_.empty()) {
        DeleteFileW(temp_.c_str());
    }
    temp_.clear();
}

}  // namespace kova::cli
