#include "target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <random>

#include "path_walk.h"
#include "rename_noreplace.h"
#include "signal_cleanup.h"

namespace kova::cli {
namespace {

// create_unnamed(): this system or file system has no unnamed files.
constexpr int kNoUnnamedFiles = -1;

mode_t plain_create_mode()
{
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// ".NAME.XXXXXX": the dot hides it, the six letters are random. Shortened
// where NAME is already near the longest name the folder takes.
std::string temp_name(int folder, const std::string& name)
{
    static std::mt19937 engine{std::random_device{}()};
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const long max = fpathconf(folder, _PC_NAME_MAX);
    const std::size_t longest = max > 0 ? static_cast<std::size_t>(max) : NAME_MAX;
    constexpr std::size_t kExtra = 8;
    std::string temp = "." + name.substr(0, longest > kExtra ? longest - kExtra : 0) + ".";
    for (int i = 0; i < 6; ++i) temp += letters[engine() % (sizeof letters - 1)];
    return temp;
}

std::string proc_path(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

Result<Fd> Target::open(const std::string& path, bool force)
{
    path_ = path;
    force_ = force;
    // The one descriptor kova-gen writes to but does not own.
    if (path == "-")
        return Fd::borrowed(STDOUT_FILENO);
    Walked w = walk_path(path);
    // A stranger's link in /tmp could point a name we trust at a file of ours.
    if (w.refused)
        return Error{path + " goes through a link in a shared folder, owned by someone else: not followed"};
    if (w.error)
        return system_error("cannot create " + path, w.error);
    folder_ = std::move(w.folder);
    name_ = w.name;

    if (w.kernel_link)
        return open_in_place(0);
    if (!w.exists) {
        if (w.through_link && !force)
            return Error{path + " is a symbolic link to a missing file (use --force to create that file)"};
        return create(plain_create_mode(), false);
    }
    if (S_ISDIR(w.st.st_mode))
        return system_error("cannot create " + path, EISDIR);
    // Devices and pipes are written where they are, never replaced.
    if (!S_ISREG(w.st.st_mode))
        return open_in_place(O_NOFOLLOW);
    if (!force)
        return Error{path + " exists (use --force to replace it)"};
    // Keep its permissions as an editor would. Not the set-id bits: the new
    // file may have another owner.
    return create(w.st.st_mode & 0777, true);
}

Result<Fd> Target::open_in_place(int flags)
{
    Fd out(openat(folder_.get(), name_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | flags));
    if (!out)
        return system_error("cannot create " + path_, errno);
    // A regular file here was swapped in since it was looked at, or has no
    // name left (deleted): never written in place.
    struct stat st {};
    if (fstat(out.get(), &st) != 0 || S_ISREG(st.st_mode))
        return system_error("cannot create " + path_, ENOENT);
    return out;
}

Result<Fd> Target::create(mode_t mode, bool replacing)
{
    Fd out;
    int err = try_unnamed_ ? create_unnamed(mode, out) : kNoUnnamedFiles;
    if (err == kNoUnnamedFiles)
        err = create_named(mode, out);
    if (err == 0)
        return out;
    // A shell's > would write into the file itself, but then a failed run
    // would cost the old content; replacing needs a new file in the folder.
    if (replacing && (err == EACCES || err == EPERM))
        return Error{"cannot replace " + path_ +
                     ": its folder is not writable, so the file cannot be replaced safely"};
    return system_error("cannot create " + path_, err);
}

// A file without a name until it is linked in: no crash, not even SIGKILL,
// can leave part of it behind.
int Target::create_unnamed(mode_t mode, Fd& out)
{
#if defined(O_TMPFILE)
    Fd file(openat(folder_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (!file)
        // EISDIR: a kernel that predates O_TMPFILE.
        return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? kNoUnnamedFiles : errno;
    // It is linked in through /proc, which may not be mounted.
    struct stat opened {
    }, seen{};
    if (fstat(file.get(), &opened) != 0 || stat(proc_path(file.get()).c_str(), &seen) != 0 ||
        opened.st_ino != seen.st_ino || opened.st_dev != seen.st_dev)
        return kNoUnnamedFiles;
    // The writer closes its own descriptor; this one stays for the link.
    Fd writer(fcntl(file.get(), F_DUPFD_CLOEXEC, 0));
    if (!writer)
        return errno;
    fchmod(file.get(), mode);
    unnamed_ = std::move(file);
    out = std::move(writer);
    return 0;
#else
    (void)mode;
    (void)out;
    return kNoUnnamedFiles;
#endif
}

int Target::create_named(mode_t mode, Fd& out)
{
    for (int tries = 0; tries < 100; ++tries) {
        const std::string temp = temp_name(folder_.get(), name_);
        Signals_Held held;
        Fd file(
            openat(folder_.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!file) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        remove_on_signal(folder_.get(), temp.c_str());
        temp_ = temp;
        // Created private, as mkstemp does.
        fchmod(file.get(), mode);
        out = std::move(file);
        return 0;
    }
    return EEXIST;
}

int Target::link_unnamed(const std::string& name)
{
    return linkat(AT_FDCWD, proc_path(unnamed_.get()).c_str(), folder_.get(), name.c_str(),
                  AT_SYMLINK_FOLLOW) == 0
               ? 0
               : errno;
}

// A link never replaces: link under a temporary name, then rename that over
// the target. Called with signals held, so only SIGKILL between the two
// calls could leave the finished file under the temporary name.
int Target::link_unnamed_over_target()
{
    for (int tries = 0; tries < 100; ++tries) {
        const std::string temp = temp_name(folder_.get(), name_);
        const int err = link_unnamed(temp);
        if (err == EEXIST)
            continue;
        if (err != 0)
            return err;
        if (renameat(folder_.get(), temp.c_str(), folder_.get(), name_.c_str()) == 0)
            return 0;
        const int rename_err = errno;
        unlinkat(folder_.get(), temp.c_str(), 0);
        return rename_err;
    }
    return EEXIST;
}

Result<void> Target::commit()
{
    if (!unnamed_ && temp_.empty())
        return {};

    int err = 0;
    {
        Signals_Held held;
        if (unnamed_)
            err = force_ ? link_unnamed_over_target() : link_unnamed(name_);
        else if (force_)
            err = renameat(folder_.get(), temp_.c_str(), folder_.get(), name_.c_str()) == 0 ? 0 : errno;
        else
            // Without --force a file that appeared meanwhile is still not replaced.
            err = rename_noreplace(folder_.get(), temp_.c_str(), name_.c_str());
        if (err == 0 && !temp_.empty()) {
            remove_on_signal(-1, nullptr);
            temp_.clear();
        }
    }
    if (err == 0) {
        // The writer's close of the same open file already reported what a
        // close can report.
        unnamed_.close();
        return {};
    }
    discard();
    if (err == EEXIST)
        return Error{path_ + " exists (use --force to replace it)"};
    return system_error("cannot create " + path_, err);
}

void Target::discard()
{
    unnamed_.close();
    if (temp_.empty())
        return;
    Signals_Held held;
    unlinkat(folder_.get(), temp_.c_str(), 0);
    remove_on_signal(-1, nullptr);
    temp_.clear();
}

}  // namespace kova::cli
