#include "unix_command.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace kova::test {

namespace {

using Unix_Name = char*(CDECL*)(const wchar_t*);

Unix_Name unix_name_function()
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel ? reinterpret_cast<Unix_Name>(
                        reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")))
                  : nullptr;
}

}  // namespace

Scratch_Folder::Scratch_Folder()
{
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("kova-wasapi-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

Scratch_Folder::~Scratch_Folder()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

bool under_wine()
{
    return unix_name_function() != nullptr;
}

std::string unix_path(const std::filesystem::path& path)
{
    const Unix_Name to_unix = unix_name_function();
    if (!to_unix)
        return {};
    char* name = to_unix(path.wstring().c_str());
    if (!name)
        return {};
    std::string text = name;
    HeapFree(GetProcessHeap(), 0, name);
    return text;
}

Unix_Command::Unix_Command(const std::string& script)
{
    const std::string unix_dir = unix_path(dir());
    if (unix_dir.empty())
        return;
    std::ofstream(dir() / "run.sh", std::ios::binary)
        << "cd '" << unix_dir << "' || exit\n"
        << "( " << script << "\n) >output 2>&1\n"
        << "echo $? >'" << unix_dir << "/status.new'\n"
        << "mv '" << unix_dir << "/status.new' '" << unix_dir << "/status'\n";
    std::wstring line = L"/bin/sh " + std::filesystem::path(unix_dir + "/run.sh").wstring();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    started_ = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process) != 0;
    if (process.hProcess)
        CloseHandle(process.hProcess);
    if (process.hThread)
        CloseHandle(process.hThread);
}

int Unix_Command::wait(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (started_) {
        std::ifstream status(dir() / "status");
        int code = -1;
        if (status >> code)
            return code;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

std::string Unix_Command::output() const
{
    std::ifstream in(dir() / "output", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int run_unix(const std::string& script, std::chrono::milliseconds timeout)
{
    Unix_Command command(script);
    return command.wait(timeout);
}

long unix_pid()
{
    const char* pid = std::getenv("KOVA_WINE_UNIX_PID");
    return pid ? std::atol(pid) : 0;
}

}  // namespace kova::test
