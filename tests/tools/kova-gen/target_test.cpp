#include "target.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fd_output.h"
#include "files.h"
#include "kova/generate.h"
#include "kova/settings.h"
#include "kova/sizes.h"
#include "kova/status.h"
#include "rename_noreplace.h"
#include "signal_cleanup.h"

using namespace kova::cli;

TEST(Target, FailedRunClosesTheOutputDescriptorOnce)
{
    Target target;
    auto opened = target.open("/dev/full", false);
    ASSERT_TRUE(opened) << opened.error().message;
    {
        Fd_Output out(std::move(*opened));
        kova::Wav_Data wav{};
        kova::set_defaults(wav);
        kova::Block_Buffer buffer;
        ASSERT_NE(kova::generate(wav, buffer, out), kova::kOk);
    }
    // The next file opened gets the number just freed; the failure path must
    // leave it alone.
    const int other = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    target.discard();
    EXPECT_NE(fcntl(other, F_GETFD), -1) << "closed by the target, which no longer owned that number";
    close(other);
}

TEST(Target, StandardOutputIsLentNeverClosed)
{
    Target target;
    auto opened = target.open("-", false);
    ASSERT_TRUE(opened) << opened.error().message;
    EXPECT_EQ(opened->get(), STDOUT_FILENO);
    EXPECT_EQ(opened->close(), 0);
    EXPECT_NE(fcntl(STDOUT_FILENO, F_GETFD), -1) << "standard output was closed";
    EXPECT_TRUE(target.commit());
}

TEST(Target, FailedCloseFailsTheGenerationWithItsReasonAndClosesOnce)
{
    // A close that fails once every byte went through, as a late write-back
    // error does: here the number is closed behind the owner's back after
    // the last write, so the owner's own close finds EBADF.
    const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    const int stand_in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_GE(stand_in, 0);
    kova::Wav_Data wav{};
    kova::set_defaults(wav);
    const std::uint64_t total = kova::file_size(kova::kDefaultRate, kova::kDefaultDuration);
    {
        Fd_Output out(Fd(fd), [&](std::uint64_t written) {
            if (written == total)
                close(fd);
        });
        kova::Block_Buffer buffer;
        EXPECT_EQ(kova::generate(wav, buffer, out), kova::kWriteFailed);
        const auto result = out.result();
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error().message, "write failed: Bad file descriptor");
        // Another file gets the number before the output is dropped.
        ASSERT_EQ(dup2(stand_in, fd), fd);
    }
    EXPECT_NE(fcntl(fd, F_GETFD), -1) << "closed a second time when the output was dropped";
    close(fd);
    close(stand_in);
}

TEST(Target, NoReplaceRenameMovesOnlyOntoAFreeName)
{
    char folder[] = "/tmp/kova-rename-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string from = std::string(folder) + "/from", taken = std::string(folder) + "/taken",
                      free_name = std::string(folder) + "/free";
    const auto content = kova::support::read_file;
    for (const auto rename_fn : {rename_noreplace, rename_by_link}) {
        std::ofstream(from) << "new";
        std::ofstream(taken) << "old";
        unlink(free_name.c_str());
        EXPECT_EQ(rename_fn(AT_FDCWD, from.c_str(), taken.c_str()), EEXIST);
        EXPECT_EQ(content(taken), "old");
        EXPECT_EQ(content(from), "new");
        EXPECT_EQ(rename_fn(AT_FDCWD, from.c_str(), free_name.c_str()), 0);
        EXPECT_EQ(content(free_name), "new");
        EXPECT_NE(access(from.c_str(), F_OK), 0);
    }
    std::filesystem::remove_all(folder);
}

TEST(Target, NamedTemporaryFileNeverOutlivesTheRun)
{
    // Where the file system has no unnamed files, a hidden one beside the
    // target takes the data: put in place on success, else removed, even
    // when a signal ends the run.
    char folder[] = "/tmp/kova-target-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/out.wav";
    const auto names = [&] {
        std::vector<std::string> all;
        for (const auto& e : std::filesystem::directory_iterator(folder))
            all.push_back(e.path().filename().string());
        return all;
    };

    const pid_t pid = fork();
    if (pid == 0) {
        install_signal_cleanup();
        Target target(false);
        if (target.open(path, false) && names().size() == 1)
            raise(SIGTERM);
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
        << "no temporary file made, status " << status;
    EXPECT_TRUE(names().empty());

    for (const bool succeeds : {false, true}) {
        Target target(false);
        auto opened = target.open(path, false);
        ASSERT_TRUE(opened) << opened.error().message;
        EXPECT_EQ(opened->close(), 0);
        if (succeeds) {
            const auto placed = target.commit();
            EXPECT_TRUE(placed) << placed.error().message;
        } else {
            target.discard();
        }
        EXPECT_EQ(names(), succeeds ? std::vector<std::string>{"out.wav"} : std::vector<std::string>{});
    }
    std::filesystem::remove_all(folder);
}
