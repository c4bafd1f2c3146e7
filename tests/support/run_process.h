#pragma once

// Runs a program as a child process and collects what it said.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct Run_Result {
    int exit_code = -1;  // 128 + signal when killed
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
