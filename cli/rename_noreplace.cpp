#include "rename_noreplace.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kova::cli {

int rename_by_link(const char* from, const char* to)
{
    if (link(from, to) != 0) {
        const int err = errno;
        if (err != EPERM && err != ENOTSUP && err != EOPNOTSUPP)
            return err;
        // A file system without hard links (FAT, some network shares): the
        // best left is to look first. The window is only this far.
        struct stat st {};
        if (lstat(to, &st) == 0)
            return EEXIST;
        return rename(from, to) == 0 ? 0 : errno;
    }
    unlink(from);
    return 0;
}

int rename_noreplace(const char* from, const char* to)
{
#if defined(__linux__)
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)  // EINVAL: not on this file system
        return errno;
#elif defined(__APPLE__)
    if (renamex_np(from, to, RENAME_EXCL) == 0)
        return 0;
    if (errno != ENOTSUP)
        return errno;
#endif
    return rename_by_link(from, to);
}

}  // namespace kova::cli
