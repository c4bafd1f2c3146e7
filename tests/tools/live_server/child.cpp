#include "child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

namespace {

// Output goes to unlinked files, so that a chatty child never blocks on a pipe.
int temp_fd()
{
    char name[] = "/tmp/kova-live-XXXXXX";
    const int fd = mkostemp(name, O_CLOEXEC);
    unlink(name);
    return fd;
}

std::string slurp(int fd)
{
    std::string all;
    char buf[4096];
    lseek(fd, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) all.append(buf, static_cast<std::size_t>(n));
    close(fd);
    return all;
}

}  // namespace

Child::Child(const std::string& program, const std::vector<std::string>& args)
    : out_(temp_fd()), err_(temp_fd())
{
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out_, STDOUT_FILENO);
        dup2(err_, STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(program.c_str(), argv.data());  // a bare name is looked for in PATH
        _exit(127);
    }
}

Child::~Child()
{
    if (pid_ > 0 && !ended()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool Child::ended()
{
    if (pid_ <= 0)
        return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_)
        return false;
    pid_ = -1;
    result_.exited = WIFEXITED(status);
    result_.code = result_.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    result_.out = slurp(out_);
    result_.err = slurp(err_);
    return true;
}

bool ends_within(Child& child, std::chrono::seconds limit)
{
    return holds_within([&] { return child.ended(); }, limit);
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
