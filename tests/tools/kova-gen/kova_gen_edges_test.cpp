// kova-gen at the edges: odd standard descriptors, signals, long and odd
// names, replacing with --force. Grouped by what could go wrong.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kova_gen_fixture.h"
#include "run_process.h"

using namespace kova_gen_test;

namespace {

// Empty when libsndfile reads path as a clean 24-bit mono WAV of `frames`
// frames, else what it objected to.
std::string sndfile_problem(const std::string& path, long frames)
{
    SF_INFO info{};
    SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
    if (!sf)
        return sf_strerror(nullptr);
    char log[4096] = {};
    sf_command(sf, SFC_GET_LOG_INFO, log, sizeof log);
    sf_close(sf);
    if (info.format != (SF_FORMAT_WAV | SF_FORMAT_PCM_24) || info.channels != 1 || info.frames != frames)
        return "format " + std::to_string(info.format) + ", " + std::to_string(info.frames) + " frames";
    // It lists anything past the data it did not expect as an unknown chunk.
    return std::string(log).find("Unknown") == std::string::npos ? "" : log;
}

long long size_of(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// Without reaping it: wait_for() still collects the status.
bool exited(pid_t pid)
{
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0;
}

}  // namespace

// --- Standard descriptors: nothing but the file's bytes reaches the output.

TEST_F(KovaGen, ClosedStandardDescriptorsKeepTheFileExact)
{
    const std::string path = in_dir("closed.wav");
    for (const std::vector<int>& closed : {std::vector<int>{0}, {1}, {2}, {0, 1, 2}}) {
        SCOPED_TRACE("closed: " + std::to_string(closed.size()) + " from " + std::to_string(closed[0]));
        // Quiet: with descriptor 1 closed a summary would be lost, a failure.
        const auto r = run_kova_gen({"-q", "-f", "-o", path}, ".", [closed] {
            for (const int fd : closed) close(fd);
        });
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(size_of(path), 132344);
        EXPECT_EQ(sndfile_problem(path, 44100), "");
    }
}

TEST_F(KovaGen, AliasesOfStandardOutputGetOnlyTheData)
{
    const std::string reference = in_dir("reference.wav");
    ASSERT_EQ(run_kova_gen({"-q", "-r", "96k", "-d", "2", "-o", reference}).exit_code, 0);

    // Through a pipe, as a player reading standard output gets it; with
    // standard error apart, and joined to the pipe.
    struct Case {
        const char* output;
        bool joined;
    } cases[] = {{"/dev/stdout", false}, {"/dev/fd/1", false}, {"-", true}, {"/dev/stdout", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.output) + (c.joined ? " 2>&1" : ""));
        const std::string data = in_dir("piped.wav"), err = in_dir("err.txt"), rc = in_dir("rc");
        const std::string command = "{ '" KOVA_GEN_PATH "' -r 96k -d 2 -o " + std::string(c.output) +
                                    (c.joined ? " 2>&1" : " 2>'" + err + "'") + "; echo $? >'" + rc +
                                    "'; } | cat >'" + data + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        EXPECT_EQ(read_file(rc), "0\n");
        EXPECT_TRUE(read_file(data) == read_file(reference)) << read_file(data).size() << " bytes";
        if (!c.joined) {
            EXPECT_EQ(read_file(err), std::string(c.output) + ": 96000 Hz, 2 s, 576044 bytes\n");
        }
    }
}

TEST_F(KovaGen, WhatCannotBeWrittenToStandardOutputIsAFailure)
{
    const std::function<void()> closed = [] { close(STDOUT_FILENO); };
    const std::function<void()> full = [] { dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO); };
    for (const char* asked : {"--list", "--help", "--version"})
        for (const bool is_closed : {true, false}) {
            SCOPED_TRACE(std::string(asked) + (is_closed ? " >&-" : " >/dev/full"));
            const auto r = run_kova_gen({asked}, ".", is_closed ? closed : full);
            EXPECT_EQ(r.exit_code, 2);
            EXPECT_TRUE(one_line_error(r)) << r.err;
        }

    // The data, not the /dev/null standing in for the closed descriptor.
    const auto data = run_kova_gen({"-o", "-"}, ".", closed);
    EXPECT_EQ(data.exit_code, 1);
    EXPECT_EQ(data.err, "kova-gen: write failed: Bad file descriptor\n");

    // The file is complete and kept; the summary line is lost.
    const auto summary = run_kova_gen({"-o", in_dir("a.wav")}, ".", full);
    EXPECT_EQ(summary.exit_code, 1);
    EXPECT_TRUE(one_line_error(summary)) << summary.err;
    EXPECT_EQ(size_of(in_dir("a.wav")), 132344);
}

// --- Signals: nothing that ends the run leaves part of the file behind.

class KovaGenSignals : public KovaGen {
protected:
    // Starts a 2 GB run and returns once the file it writes in our folder,
    // named or not, holds data; temp_ then reaches it through /proc.
    Running start_big(const std::function<void()>& before_exec = {})
    {
        const Running running =
            start_kova_gen({"-q", "-r", "192k", "-d", "1h", "-o", in_dir("big.wav")}, ".", before_exec);
        const std::string fds = "/proc/" + std::to_string(running.pid) + "/fd/";
        for (int tries = 0; tries < 2000 && temp_.empty(); ++tries) {
            std::error_code ec;
            for (const auto& e : fs::directory_iterator(fds, ec))
                if (fs::read_symlink(e.path(), ec).string().rfind(dir_ + "/", 0) == 0 &&
                    size_of(e.path()) > 0)
                    temp_ = e.path();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_NE(temp_, "") << "no file with data appeared";
        return running;
    }
    std::string temp_;
};

TEST_F(KovaGenSignals, NoSignalLeavesAPartialFile)
{
    for (const int sig : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
                          SIGPROF, SIGXCPU, SIGPOLL, SIGPWR, SIGRTMIN, SIGRTMAX, SIGKILL}) {
        SCOPED_TRACE(std::string("signal ") + std::to_string(sig));
        temp_.clear();
        const Running running = start_big();
        kill(running.pid, sig);
        const auto r = wait_for(running);
        EXPECT_EQ(r.exit_code, 128 + sig);
        EXPECT_TRUE(listing().empty()) << listing().front();
    }
}

TEST_F(KovaGenSignals, InheritedIgnoreIsKept)
{
    // As nohup and a shell's background job start it.
    const Running running = start_big([] {
        signal(SIGHUP, SIG_IGN);
        signal(SIGINT, SIG_IGN);
    });
    kill(running.pid, SIGHUP);
    kill(running.pid, SIGINT);
    // Still writing: the file grows by several more blocks.
    const long long before = size_of(temp_);
    for (int tries = 0; tries < 2000 && size_of(temp_) < before + 8 * 576000 && !exited(running.pid); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(exited(running.pid));
    EXPECT_GE(size_of(temp_), before + 8 * 576000);

    kill(running.pid, SIGTERM);
    EXPECT_EQ(wait_for(running).exit_code, 128 + SIGTERM);
    EXPECT_TRUE(listing().empty());
}

// --- Names: any name the file system takes; values shown on one line.

TEST_F(KovaGen, LongestLegalNameWorks)
{
    const std::string name = std::string(251, 'n') + ".wav";  // NAME_MAX, 255 bytes
    const auto r = run_kova_gen({"-q", "-o", in_dir(name)});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const auto again = run_kova_gen({"-q", "-f", "-o", in_dir(name)});
    EXPECT_EQ(again.exit_code, 0) << again.err;
    EXPECT_EQ(listing(), std::vector<std::string>{name});
    EXPECT_EQ(size_of(in_dir(name)), 132344);

    const auto too_long = run_kova_gen({"-o", in_dir(name + "x")});
    EXPECT_EQ(too_long.exit_code, 1);
    EXPECT_TRUE(one_line_error(too_long)) << too_long.err;
    EXPECT_NE(too_long.err.find("File name too long"), std::string::npos) << too_long.err;
}

TEST_F(KovaGen, LongestLegalPathWorks)
{
    // 16 folders of 250 bytes, then a name that brings the whole path to
    // 4088 and to 4095 bytes, PATH_MAX less its terminating zero.
    std::string deep = dir_;
    for (int i = 0; i < 16; ++i) deep += "/" + std::string(250, 'd');
    fs::create_directories(deep);
    for (const std::size_t length : {4088u, 4095u}) {
        SCOPED_TRACE(length);
        const std::string path = deep + "/" + std::string(length - deep.size() - 1, 'n');
        ASSERT_EQ(path.size(), length);
        // Made, then replaced.
        for (const auto& args : {std::vector<std::string>{"-q", "-o", path}, {"-q", "-f", "-o", path}}) {
            const auto r = run_kova_gen(args);
            EXPECT_EQ(r.exit_code, 0) << r.err.substr(0, 200);
            EXPECT_EQ(size_of(path), 132344);
        }
    }
}

TEST_F(KovaGen, ControlCharactersInValuesAreShownAsEscapes)
{
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        std::string shown;
    } cases[] = {
        {{"-r", "44\n100"}, 2, "unknown rate '44\\n100'"},
        {{"-d", "1\r\x1b[2J"}, 2, "bad duration '1\\r\\x1b[2J'"},
        {{"-o", in_dir("no\nsuch\tfolder/x.wav")}, 1, "no\\nsuch\\tfolder/x.wav: "},
        {{"extra\nargument"}, 2, "extra\\nargument"},
    };
    for (const auto& c : cases) {
        const auto r = run_kova_gen(c.args, dir_);
        EXPECT_EQ(r.exit_code, c.exit_code) << c.shown;
        EXPECT_TRUE(one_line_error(r)) << r.err;
        EXPECT_NE(r.err.find(c.shown), std::string::npos) << r.err;
    }
}

// --- --force replaces the data and nothing else.

TEST_F(KovaGen, ForceKeepsThePermissionBits)
{
    const std::string path = in_dir("kept.wav");
    for (const mode_t mode : {0640, 0444, 0600, 0755}) {
        SCOPED_TRACE(mode);
        write_file(path, "old");
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        const auto r = run_kova_gen({"-q", "-f", "-o", path});
        EXPECT_EQ(r.exit_code, 0) << r.err;
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        EXPECT_EQ(st.st_size, 132344);
    }
}

TEST_F(KovaGen, ForceDoesNotFollowAStrangersLinkInASharedFolder)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: a link owned by another user is made with lchown";
    // /tmp's shape: sticky and world-writable, its owner and the caller root.
    const std::string shared = in_dir("shared"), victim = in_dir("victim.wav"), link = shared + "/out.wav";
    ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    write_file(victim, "precious");
    ASSERT_EQ(symlink(victim.c_str(), link.c_str()), 0);
    ASSERT_EQ(lchown(link.c_str(), 65534, 65534), 0);

    const auto refused = run_kova_gen({"-f", "-o", link});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_TRUE(one_line_error(refused)) << refused.err;
    EXPECT_EQ(read_file(victim), "precious");

    // The caller's own link there is followed, as the kernel would.
    ASSERT_EQ(lchown(link.c_str(), 0, 0), 0);
    const auto followed = run_kova_gen({"-q", "-f", "-o", link});
    EXPECT_EQ(followed.exit_code, 0) << followed.err;
    EXPECT_EQ(size_of(victim), 132344);
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // Nor a stranger's link on the way to it: a folder link there into one
    // of ours, with and without --force.
    const std::string folder_link = shared + "/dir";
    ASSERT_EQ(symlink(dir_.c_str(), folder_link.c_str()), 0);
    ASSERT_EQ(lchown(folder_link.c_str(), 65534, 65534), 0);
    write_file(victim, "precious");
    for (const char* force : {"-f", "-q"}) {
        SCOPED_TRACE(force);
        for (const char* name : {"/victim.wav", "/new.wav"}) {
            const auto r = run_kova_gen({force, "-o", folder_link + name});
            EXPECT_EQ(r.exit_code, 1);
            EXPECT_TRUE(one_line_error(r)) << r.err;
        }
        EXPECT_EQ(read_file(victim), "precious");
        EXPECT_EQ(size_of(in_dir("new.wav")), -1);
    }
}

TEST_F(KovaGen, ForceWritesTheTargetOfADanglingLink)
{
    // As through a link to an existing file (above): the link stays.
    const std::string link = in_dir("link.wav");
    ASSERT_EQ(symlink("missing.wav", link.c_str()), 0);
    const auto refused = run_kova_gen({"-o", link});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_TRUE(one_line_error(refused)) << refused.err;
    EXPECT_NE(refused.err.find("a symbolic link to a missing file"), std::string::npos) << refused.err;
    EXPECT_EQ(size_of(in_dir("missing.wav")), -1);

    const auto forced = run_kova_gen({"-q", "-f", "-o", link});
    EXPECT_EQ(forced.exit_code, 0) << forced.err;
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(size_of(in_dir("missing.wav")), 132344);
}
