#pragma once

// One owner per descriptor, so that every path closes it exactly once: a
// second close could hit a number reused by a file opened since.

namespace kova::cli {

class Fd {
public:
    Fd() = default;
    // Owns fd from here on.
    explicit Fd(int fd) : fd_(fd), owned_(fd >= 0) {}
    // A descriptor the process keeps, such as standard output: written
    // through, never closed here.
    static Fd borrowed(int fd);
    ~Fd() { close(); }
    Fd(Fd&& other) noexcept;
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // 0, or close's errno: a late write error may show only here. Empty
    // afterwards either way, so nothing is closed twice; a borrowed
    // descriptor is only let go of.
    int close();

private:
    int fd_ = -1;
    bool owned_ = false;
};

}  // namespace kova::cli
