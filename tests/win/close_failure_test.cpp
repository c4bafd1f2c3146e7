// A file whose close fails, as a delayed write error on a network share
// does: the front-end must report it like any failed write.

#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "harness.h"
#include "state.h"

namespace kova::win::test {
namespace {

using Close_Function = BOOL(WINAPI*)(HANDLE);

Close_Function g_real_close = nullptr;
bool g_fail_disk_closes = false;
int g_failed_closes = 0;

// Closes the handle, then reports what the redirector reports for a write
// it could not deliver. Only files on disk: the tests' own threads and
// events close as usual.
BOOL WINAPI failing_close(HANDLE handle)
{
    const bool disk_file = GetFileType(handle) == FILE_TYPE_DISK;
    const BOOL closed = g_real_close(handle);
    if (!g_fail_disk_closes || !disk_file || !closed)
        return closed;
    ++g_failed_closes;
    SetLastError(ERROR_NETNAME_DELETED);
    return FALSE;
}

// This program's import slot for kernel32's CloseHandle: the front-end's
// code is linked in here and calls through it.
Close_Function* close_handle_slot()
{
    auto* const base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const auto* const dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    const auto* const nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); dll->Name;
         ++dll) {
        if (lstrcmpiA(reinterpret_cast<char*>(base + dll->Name), "kernel32.dll") != 0)
            continue;
        auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
        auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
        for (; name->u1.AddressOfData; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal))
                continue;
            const auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), "CloseHandle") == 0)
                return reinterpret_cast<Close_Function*>(&slot->u1.Function);
        }
    }
    return nullptr;
}

void put_in_slot(Close_Function* slot, Close_Function function)
{
    DWORD kept = 0;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &kept);
    *slot = function;
    VirtualProtect(slot, sizeof *slot, kept, &kept);
}

class Failing_Close : public Main_Window {
protected:
    void SetUp() override
    {
        Main_Window::SetUp();
        slot_ = close_handle_slot();
        ASSERT_NE(slot_, nullptr) << "no import of CloseHandle from kernel32.dll";
        g_real_close = *slot_;
        put_in_slot(slot_, failing_close);
    }
    void TearDown() override
    {
        g_fail_disk_closes = false;
        if (slot_)
            put_in_slot(slot_, g_real_close);
        Main_Window::TearDown();
    }
    Close_Function* slot_ = nullptr;
};

TEST_F(Failing_Close, GivesTheWriteBoxAndLeavesNoFile)
{
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string target =
        std::string(temp) + "kova-close-" + std::to_string(GetCurrentProcessId()) + ".wav";

    g_fail_disk_closes = true;
    g_failed_closes = 0;
    const auto seen = answer_dialogs({{Answer::kSave, target}, {Answer::kOk, ""}},
                                     [] { SendMessageA(g_resources.generate_button, BM_CLICK, 0, 0); });
    g_fail_disk_closes = false;

    EXPECT_EQ(g_failed_closes, 1);
    ASSERT_EQ(seen.size(), 2u);
    expect_error_box(seen[1], "\n###Writing the file failed!\n", "Wave Error");
    EXPECT_EQ(GetFileAttributesA(target.c_str()), INVALID_FILE_ATTRIBUTES)
        << "the incomplete file must be deleted";
    DeleteFileA(target.c_str());
}

}  // namespace
}  // namespace kova::win::test
