#pragma once

// One owner per descriptor, so that every path closes it exactly once: a
// second close could hit a number reused by a file opened since.

namespace kova::cli {

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { close(); }
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Gives the number up without closing it.
    int release();
    // 0, or close's errno: a late write error may show only here. Standard
    // output is let go of but stays open: it belongs to the process.
    int close();

private:
    int fd_ = -1;
};

}  // namespace kova::cli
