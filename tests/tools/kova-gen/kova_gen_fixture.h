#pragma once

// A scratch folder per test, and small helpers, for the tests that run
// kova-gen as a process.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files.h"
#include "run_process.h"

namespace fs = std::filesystem;

namespace kova_gen_test {

// kova-gen itself, built beside the tests.
inline Running start_kova_gen(const std::vector<std::string>& args, const std::string& cwd = ".",
                              const std::function<void()>& before_exec = {})
{
    return start_program(KOVA_GEN_PATH, args, cwd, before_exec);
}

inline Run_Result run_kova_gen(const std::vector<std::string>& args, const std::string& cwd = ".",
                               const std::function<void()>& before_exec = {})
{
    return wait_for(start_kova_gen(args, cwd, before_exec));
}

inline bool set_immutable(const std::string& dir, bool on)
{
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok && ((flags & FS_IMMUTABLE_FL) != 0) != on) {
        flags ^= FS_IMMUTABLE_FL;
        ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return ok;
}

using kova::support::read_file;
using kova::support::write_file;

inline bool one_line_error(const Run_Result& r)
{
    return r.err.rfind("kova-gen: ", 0) == 0 && r.err.find('\n') == r.err.size() - 1;
}

}  // namespace kova_gen_test

class KovaGen : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/kova-gen-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override
    {
        kova_gen_test::set_immutable(dir_, false);
        chmod(dir_.c_str(), 0700);
        fs::remove_all(dir_);
    }

    std::string in_dir(const std::string& name) const { return dir_ + "/" + name; }

    std::vector<std::string> listing() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
        return names;
    }

    std::string dir_;
};
