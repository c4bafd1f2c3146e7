#pragma once

// Runs kova-gen, or any program, as a child process and collects what it said.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct Run_Result {
    int exit_code = -1;  // 128 + signal when killed
    std::string out;
    std::string err;
};

// before_exec runs in the child, after fork, to set limits or drop privileges.
Run_Result run_kova_gen(const std::vector<std::string>& args, const std::string& cwd = ".",
                        const std::function<void()>& before_exec = {});

// The same in two steps, for a test that acts while kova-gen runs.
struct Running {
    pid_t pid;
    int out;
    int err;
};
Running start_kova_gen(const std::vector<std::string>& args, const std::string& cwd = ".",
                       const std::function<void()>& before_exec = {});
Run_Result wait_for(const Running& running);

// Any program, searched in PATH unless it has a slash; stdin_path, if given,
// becomes its standard input.
Running start_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd = ".", const std::function<void()>& before_exec = {},
                      const std::string& stdin_path = {});
Run_Result run_program(const std::string& program, const std::vector<std::string>& args,
                       const std::string& cwd = ".", const std::string& stdin_path = {});
