#pragma once

// Descriptors 0, 1 and 2: held open, told apart from an output, written to.

#include <cstdio>
#include <string>

#include "kova/cli/error.h"

namespace kova::cli {

// Gives every closed standard descriptor /dev/null, read-only: writing to
// it still fails. Run before anything is opened: a file that got number 1
// would receive the summary line. False when even /dev/null cannot be
// opened.
bool open_standard_descriptors();
// What every command does first: the standard descriptors as above, and on
// Windows argc and argv replaced by the UTF-8 command line (the narrow one
// goes through the ANSI code page, which cannot hold every name). False
// when even the null device cannot be opened: there is nowhere to say so.
bool begin_command(int& argc, char**& argv);

// True when both descriptors lead to the same file, pipe or device, however
// each was named: "-", /dev/stdout, /dev/fd/1, a shell's 2>&1.
bool same_file(int a, int b);

// Writes the text to the stream and flushes it, false with errno set (EIO
// where the stream gave no cause) when it did not all get there. On a
// Windows console the UTF-8 text is shown as the characters it holds.
bool write_text(std::FILE* stream, const std::string& text);
// Writes the text to standard output and flushes it; false with errno set
// (EIO where the stream gave no cause) when it did not all get there.
bool write_standard_output(const std::string& text);
// "cannot write to standard output: ...", from errno.
Error output_error();

}  // namespace kova::cli
