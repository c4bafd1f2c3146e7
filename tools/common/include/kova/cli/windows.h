#pragma once

// What the commands need of Windows that POSIX gives them for nothing: the
// command line and file names as UTF-8 (the narrow argv and the A file
// functions go through the ANSI code page, which cannot hold every name),
// paths of any length, standard streams that carry bytes unchanged, and text
// that reaches a console as the characters it holds. Windows only.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "kova/cli/error.h"
#include "kova/cli/fd.h"

namespace kova::cli::windows {

// The command line as the program was given it, each argument in UTF-8
// (CommandLineToArgvW over GetCommandLineW).
class Utf8_Arguments {
public:
    Utf8_Arguments();
    Utf8_Arguments(const Utf8_Arguments&) = delete;
    Utf8_Arguments& operator=(const Utf8_Arguments&) = delete;

    int argc() const { return static_cast<int>(pointers_.size()) - 1; }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> texts_;
    std::vector<char*> pointers_;  // argv's shape: the texts, then a null
};

// What every command does first on Windows: its standard streams prepared
// (below), and argc and argv replaced by the UTF-8 command line, which lives
// as long as the process.
void start_command(int& argc, char**& argv);

std::wstring to_wide(const std::string& utf8);
std::string to_utf8(const std::wstring& wide);

// The name for the wide file functions: made absolute and given the
// prefix \\?\ that lifts the 260-character limit. Device names (NUL, CON,
// \\.\pipe\...) stay as the system resolves them.
std::wstring long_path(const std::string& utf8);
// True where that name is a device's (\\.\...): written or read in place.
bool is_device_path(const std::wstring& long_path);

// errno's nearest value for a Windows error code, so that messages read as
// on POSIX ("No such file or directory").
int errno_of(unsigned long windows_error);

// A Windows handle (a HANDLE) taken over as a descriptor in binary mode,
// read-only or write-only; on failure the handle is closed and errno set.
Fd descriptor_of(void* handle, bool for_writing);

// A file opened for reading by its UTF-8 name, any length, as a descriptor
// in binary mode; errno set on failure.
Fd open_for_reading(const std::string& utf8);
// A file that did not exist, created for writing by its UTF-8 name, any
// length, as a descriptor in binary mode; errno set on failure (EEXIST).
Fd create_new(const std::string& utf8);
// The bytes a regular file holds; 0 for anything else or a name not there.
std::uint64_t file_size(const std::string& utf8);

// What a descriptor leads to.
enum class File_Kind { disk, pipe, character, unknown };
File_Kind file_kind(int fd);

// Every standard stream in binary mode (no CR added before LF, no end at
// Ctrl-Z), so that what they carry is the same bytes as on POSIX; and a
// console's escape sequences on, for the status line.
void prepare_standard_streams();

// True where the stream is a console window rather than a file or a pipe.
bool is_console(std::FILE* stream);
// True where that console draws escape sequences (cursor, erase).
bool draws_escapes(std::FILE* stream);

// The text written and flushed: to a console as UTF-16 (WriteConsoleW),
// anywhere else as its UTF-8 bytes. False with errno set where it did not
// all get there.
bool write_text(std::FILE* stream, const std::string& utf8);

}  // namespace kova::cli::windows
