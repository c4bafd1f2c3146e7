#include "run_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

namespace {

std::string slurp(int fd)
{
    std::string all;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) all.append(buf, static_cast<std::size_t>(n));
    close(fd);
    return all;
}

// Drained by files rather than pipes, so a large stdout cannot dead-lock us.
int temp_fd()
{
    char name[] = "/tmp/kova-run-XXXXXX";
    const int fd = mkostemp(name, O_CLOEXEC);
    unlink(name);
    return fd;
}

}  // namespace

Running start_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, const std::function<void()>& before_exec,
                      const std::string& stdin_path)
{
    const int out = temp_fd(), err = temp_fd();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        if (!stdin_path.empty()) {
            const int in = open(stdin_path.c_str(), O_RDONLY);
            if (in < 0 || dup2(in, STDIN_FILENO) < 0)
                _exit(126);
        }
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        if (before_exec)
            before_exec();
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(program.c_str(), argv.data());
        _exit(127);
    }
    return {pid, out, err};
}

// What a child that ended with `status` said.
static Run_Result collect(const Running& running, int status)
{
    Run_Result r;
    r.exited = WIFEXITED(status);
    r.exit_code = r.exited ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    lseek(running.out, 0, SEEK_SET);
    lseek(running.err, 0, SEEK_SET);
    r.out = slurp(running.out);
    r.err = slurp(running.err);
    return r;
}

Run_Result wait_for(const Running& running)
{
    int status = 0;
    waitpid(running.pid, &status, 0);
    return collect(running, status);
}

Run_Result run_program(const std::string& program, const std::vector<std::string>& args,
                       const std::string& cwd, const std::string& stdin_path)
{
    return wait_for(start_program(program, args, cwd, {}, stdin_path));
}

Child::Child(const std::string& program, const std::vector<std::string>& args)
    : running_(start_program(program, args))
{
}

Child::Child(Child&& other) noexcept
    : running_(other.running_), ended_(std::exchange(other.ended_, true)), result_(std::move(other.result_))
{
}

Child::~Child()
{
    if (!ended()) {
        kill(running_.pid, SIGKILL);
        waitpid(running_.pid, nullptr, 0);
        close(running_.out);
        close(running_.err);
    }
}

bool Child::ended()
{
    if (ended_)
        return true;
    int status = 0;
    if (waitpid(running_.pid, &status, WNOHANG) != running_.pid)
        return false;
    ended_ = true;
    result_ = collect(running_, status);
    return true;
}

bool holds_within(const std::function<bool()>& done, std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

bool ends_within(Child& child, std::chrono::seconds limit)
{
    return holds_within([&] { return child.ended(); }, limit);
}
