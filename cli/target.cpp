#include "target.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kova::cli {
namespace {

// The temporary file of this process, for the signal handler: an interrupted
// run must not leave it behind.
char g_temp_path[PATH_MAX];

extern "C" void remove_temp_and_die(int sig)
{
    if (g_temp_path[0])
        unlink(g_temp_path);
    signal(sig, SIG_DFL);
    raise(sig);
}

void guard_temp(const std::string& path)
{
    std::snprintf(g_temp_path, sizeof g_temp_path, "%s", path.c_str());
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        signal(sig, remove_temp_and_die);
}

void unguard_temp() { g_temp_path[0] = '\0'; }

std::string reason(const std::string& what, int err) { return what + ": " + std::strerror(err); }

std::string folder_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

Target::~Target() { discard(); }

std::string Target::open(const std::string& path, bool force)
{
    path_ = path;
    force_ = force;
    if (path == "-") {
        fd_ = STDOUT_FILENO;
        return {};
    }

    struct stat st {};
    final_ = path;
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return reason("cannot create " + path, EISDIR);
        if (!S_ISREG(st.st_mode)) {
            // Devices and pipes are written where they are, never replaced.
            fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
            return fd_ < 0 ? reason("cannot create " + path, errno) : std::string{};
        }
        if (!force)
            return path + " exists (use --force to replace it)";
        // Replace the file a symbolic link points at, not the link.
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved))
            final_ = resolved;
    }

    std::string temp = folder_of(final_) + "/." + name_of(final_) + ".XXXXXX";
    fd_ = mkstemp(temp.data());
    if (fd_ < 0)
        return reason("cannot create " + path, errno);
    temp_ = temp;
    guard_temp(temp_);

    // mkstemp makes the file private; give it the mode a plain create would.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
    return {};
}

std::string Target::commit()
{
    fd_ = -1;  // the output has closed it
    if (temp_.empty())
        return {};

    int rc;
    if (force_) {
        rc = rename(temp_.c_str(), final_.c_str());
    } else {
        // Without --force a file that appeared meanwhile is still not replaced.
        rc = renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, final_.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && errno == EINVAL)  // file system without it; we checked above
            rc = rename(temp_.c_str(), final_.c_str());
        if (rc != 0 && errno == EEXIST) {
            discard();
            return path_ + " exists (use --force to replace it)";
        }
    }
    if (rc != 0) {
        const int err = errno;
        discard();
        return reason("cannot create " + path_, err);
    }
    temp_.clear();
    unguard_temp();
    return {};
}

void Target::discard()
{
    if (fd_ >= 0 && fd_ != STDOUT_FILENO)
        ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) {
        unlink(temp_.c_str());
        temp_.clear();
        unguard_temp();
    }
}

}  // namespace kova::cli
