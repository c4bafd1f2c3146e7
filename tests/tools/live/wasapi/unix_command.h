#pragma once

// Unix programs run from a Windows test under Wine (parec, paplay, pactl,
// kill): Wine starts an ELF program it is asked to run, but hands back no
// process to wait on, so each runs inside a shell script that leaves its
// exit status in a file, polled for.

#include <chrono>
#include <filesystem>
#include <string>

namespace kova::test {

// Whether this process runs under Wine; nothing here works elsewhere.
bool under_wine();

// The Unix path Wine maps a Windows path to.
std::string unix_path(const std::filesystem::path& path);

// A folder of its own in Windows' temporary folder, removed with it.
class Scratch_Folder {
public:
    Scratch_Folder();
    ~Scratch_Folder();
    Scratch_Folder(const Scratch_Folder&) = delete;
    Scratch_Folder& operator=(const Scratch_Folder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string unix_path(const std::string& name) const { return test::unix_path(path_ / name); }

private:
    std::filesystem::path path_;
};

class Unix_Command {
public:
    // Starts `script` with /bin/sh in a folder of its own (dir()), where its
    // output goes too.
    explicit Unix_Command(const std::string& script);
    Unix_Command(const Unix_Command&) = delete;
    Unix_Command& operator=(const Unix_Command&) = delete;

    bool started() const { return started_; }
    // Its exit status once it has ended, or -1 if it had not within timeout.
    int wait(std::chrono::milliseconds timeout);
    // What it wrote to standard output and error.
    std::string output() const;
    // Its folder, as Windows and Unix see it.
    const std::filesystem::path& dir() const { return dir_.path(); }
    std::string unix_dir() const { return unix_path(dir_.path()); }

private:
    Scratch_Folder dir_;
    bool started_ = false;
};

// Runs script to its end: its exit status, or -1 if it took over timeout.
int run_unix(const std::string& script, std::chrono::milliseconds timeout = std::chrono::seconds(20));

// The process's own id as Unix knows it, from scripts/wine-run.sh (which
// replaces itself with Wine): 0 when unknown.
long unix_pid();

}  // namespace kova::test
