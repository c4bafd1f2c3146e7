#pragma once

// The generation's output over a file handle from CreateFileA.

#include <windows.h>

#include <cstddef>

#include "kova/output.h"

namespace kova::win {

class File_Output final : public Output {
public:
    // Takes over the handle: it is closed by close() or, failing that, here.
    explicit File_Output(HANDLE file) : file_(file) {}
    ~File_Output() override { close(); }
    File_Output(const File_Output&) = delete;
    File_Output& operator=(const File_Output&) = delete;

    std::size_t write(const unsigned char* data, std::size_t size) override;
    int close() override;

private:
    HANDLE file_;
};

}  // namespace kova::win
