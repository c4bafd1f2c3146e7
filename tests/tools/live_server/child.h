#pragma once

// A program run beside the test, watched without blocking: the test keeps
// draining its capture while the program plays.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct Child_Result {
    bool exited = false;  // ended by exit(), not by a signal
    int code = -1;        // exit status, or the signal that ended it
    std::string out;
    std::string err;
};

class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& args);
    ~Child();  // kills a child still running, so a failed test leaves none
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    // True once it has ended; result() is then filled in.
    bool ended();
    const Child_Result& result() const { return result_; }

private:
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    Child_Result result_;
};

// Waits for the child to end, up to limit; true if it did.
bool ends_within(Child& child, std::chrono::seconds limit);

// Polls done() until it holds, up to limit; true if it did.
bool holds_within(const std::function<bool()>& done, std::chrono::seconds limit);
