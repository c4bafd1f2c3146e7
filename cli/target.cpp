#include "target.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rename_noreplace.h"
#include "signal_cleanup.h"

namespace kova::cli {
namespace {

// ".NAME.XXXXXX": the dot hides it, the six X are mkstemp's.
constexpr std::size_t kTempExtraBytes = 8;

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

std::size_t longest_name(const std::string& folder)
{
    const long max = pathconf(folder.c_str(), _PC_NAME_MAX);
    return max > 0 ? static_cast<std::size_t>(max) : NAME_MAX;
}

// The rule the kernel applies to a plain open where protected_symlinks is
// on: in a sticky, world-writable folder (/tmp) a link is followed only when
// it belongs to the folder's owner or to whoever follows it. Otherwise
// anyone could point a name there at a file of ours.
bool may_follow(const std::string& link, const struct stat& link_st)
{
    struct stat folder {};
    if (stat(folder_of(link).c_str(), &folder) != 0)
        return true;
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return !shared || link_st.st_uid == folder.st_uid || link_st.st_uid == geteuid();
}

// Checks every link on the way from path to the file it names.
bool links_may_be_followed(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return true;
        if (!may_follow(path, st))
            return false;
        char to[PATH_MAX];
        const ssize_t n = readlink(path.c_str(), to, sizeof to - 1);
        if (n < 0)
            return true;
        to[n] = '\0';
        path = to[0] == '/' ? std::string(to) : folder_of(path) + "/" + to;
    }
    return true;  // a loop: the open itself will say so
}

mode_t plain_create_mode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
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
    if (!links_may_be_followed(path))
        return path + " is a link in a shared folder, owned by someone else: not followed";

    struct stat st {};
    final_ = path;
    mode_t mode = plain_create_mode();
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
        // Replace the file a symbolic link points at, not the link, and keep
        // its permissions as an editor would. Not the set-id bits: the new
        // file may have another owner.
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved))
            final_ = resolved;
        mode = st.st_mode & 0777;
    }
    return open_temp(folder_of(final_), name_of(final_), mode);
}

std::string Target::open_temp(const std::string& folder, const std::string& name, mode_t mode)
{
    // The temporary name must be a legal name too: shorten it when the
    // target's name is already near the limit.
    const std::size_t longest = longest_name(folder);
    if (name.size() > longest)
        return reason("cannot create " + path_, ENAMETOOLONG);
    const std::size_t keep = longest < kTempExtraBytes ? 0 : longest - kTempExtraBytes;
    std::string temp = folder + "/." + name.substr(0, keep) + ".XXXXXX";
    {
        Signals_Held held;
        fd_ = mkostemp(temp.data(), O_CLOEXEC);
        if (fd_ >= 0)
            remove_on_signal(temp.c_str());
    }
    if (fd_ < 0)
        return reason("cannot create " + path_, errno);
    temp_ = temp;
    // mkstemp makes the file private.
    fchmod(fd_, mode);
    return {};
}

int Target::take_fd()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

std::string Target::commit()
{
    if (temp_.empty())
        return {};

    int err = 0;
    {
        Signals_Held held;
        if (force_)
            err = rename(temp_.c_str(), final_.c_str()) == 0 ? 0 : errno;
        else
            // Without --force a file that appeared meanwhile is still not replaced.
            err = rename_noreplace(temp_.c_str(), final_.c_str());
        if (err == 0) {
            remove_on_signal(nullptr);
            temp_.clear();
        }
    }
    if (err == 0)
        return {};
    discard();
    if (err == EEXIST)
        return path_ + " exists (use --force to replace it)";
    return reason("cannot create " + path_, err);
}

void Target::discard()
{
    if (fd_ >= 0 && fd_ != STDOUT_FILENO)
        ::close(fd_);
    fd_ = -1;
    if (temp_.empty())
        return;
    Signals_Held held;
    unlink(temp_.c_str());
    remove_on_signal(nullptr);
    temp_.clear();
}

}  // namespace kova::cli
