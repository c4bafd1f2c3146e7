#include "rename_noreplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kova::cli {

int rename_by_link(int folder, const char* from, const char* to)
{
    if (linkat(folder, from, folder, to, 0) != 0) {
        const int err = errno;
        if (err != EPERM && err != ENOTSUP && err != EOPNOTSUPP)
            return err;
        // A file system without hard links (FAT, some network shares): the
        // best left is to look first. The window is only this far.
        struct stat st {};
        if (fstatat(folder, to, &st, AT_SYMLINK_NOFOLLOW) == 0)
            return EEXIST;
        return renameat(folder, from, folder, to) == 0 ? 0 : errno;
    }
    unlinkat(folder, from, 0);
    return 0;
}

int rename_noreplace(int folder, const char* from, const char* to)
{
#if defined(__linux__)
    if (renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)  // EINVAL: not on this file system
        return errno;
#elif defined(__APPLE__)
    if (renameatx_np(folder, from, folder, to, RENAME_EXCL) == 0)
        return 0;
    if (errno != ENOTSUP)
        return errno;
#endif
    return rename_by_link(folder, from, to);
}

}  // namespace kova::cli
