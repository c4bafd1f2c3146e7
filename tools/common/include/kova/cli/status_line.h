#pragma once

// One self-overwriting line on standard error, on a terminal only, with
// other lines printed above it as they come: how far a long file or play
// has gone, or a listen's verdicts so far.

#include <cstdint>
#include <string>

namespace kova::cli {

class Status_Line {
public:
    // Shows nothing unless wanted and standard error is a terminal.
    explicit Status_Line(bool wanted = true);
    ~Status_Line() { clear(); }
    Status_Line(const Status_Line&) = delete;
    Status_Line& operator=(const Status_Line&) = delete;

    // Worth making a text for.
    bool active() const { return active_; }
    // Drawn again only when the text changed.
    void show(const std::string& text);
    // A line of its own on standard error, terminal or not; the status
    // line stays below it.
    void print_above(const std::string& line);
    void clear();

private:
    bool active_;
    std::string shown_;
};

// Files shorter than this (about 50 MB) are over before a wait is noticed.
constexpr std::uint64_t kProgressFrom = 50u * 1000 * 1000;

// " 42%  12.3 MB": a file being written or read.
std::string bytes_progress(std::uint64_t done, std::uint64_t total);
// "1:02:03": hours, minutes and seconds.
std::string clock_text(std::uint64_t seconds);
// " 42%  0:00:04 of 0:00:10": the pattern being played.
std::string time_progress(std::uint64_t frames, std::uint64_t total, long rate);

}  // namespace kova::cli
