#pragma once

// One self-overwriting line on standard error, on a terminal only, with
// other lines printed above it as they come.

#include <string>

namespace kova::live {

class Status_Line {
public:
    Status_Line();
    ~Status_Line() { clear(); }
    void show(const std::string& text);
    // A line of its own on standard error, terminal or not; the status
    // line stays below it.
    void print_above(const std::string& line);
    void clear();

private:
    bool terminal_;
    std::string shown_;
};

}  // namespace kova::live
