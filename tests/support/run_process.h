#pragma once

// Runs a program as a child process and collects what it said.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct Run_Result {
    int exit_code = -1;   // 128 + signal when killed
    bool exited = false;  // ended by exit(), not by a signal
    std::string out;
    std::string err;
};

// A program started, for a test that acts while it runs; wait_for collects
// what it said.
struct Running {
    pid_t pid;
    int out;
    int err;
};
Run_Result wait_for(const Running& running);

// Any program, searched in PATH unless it has a slash; before_exec runs in
// the child, after fork, to set limits or drop privileges; stdin_path, if
// given, becomes its standard input.
Running start_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd = ".", const std::function<void()>& before_exec = {},
                      const std::string& stdin_path = {});
Run_Result run_program(const std::string& program, const std::vector<std::string>& args,
                       const std::string& cwd = ".", const std::string& stdin_path = {});

// A program run beside the test, watched without blocking: the test keeps
// acting while it runs. Killed if still running when the Child goes, so
// that a failed test leaves none behind.
class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& args);
    ~Child();
    Child(Child&& other) noexcept;
    Child& operator=(Child&&) = delete;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return running_.pid; }
    // True once it has ended; result() is then filled in.
    bool ended();
    const Run_Result& result() const { return result_; }

private:
    Running running_;
    bool ended_ = false;
    Run_Result result_;
};

// Polls done() until it holds, up to limit; true if it did.
bool holds_within(const std::function<bool()>& done, std::chrono::seconds limit);
// Waits for the child to end, up to limit; true if it did.
bool ends_within(Child& child, std::chrono::seconds limit);
