#include "path_walk.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#if defined(__linux__)
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace kova::cli {
namespace {

// As the kernel's own limit on links in one lookup.
constexpr int kMaxLinks = 40;

// A folder only passed through needs no read permission, only search:
// O_PATH asks for no more.
#if defined(O_PATH)
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// Pushes text's components so that the first is taken next. A trailing
// slash asks for a folder: "." stands for it.
void push_components(std::vector<std::string>& todo, const std::string& text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t slash = std::min(text.find('/', start), text.size());
        if (slash > start)
            parts.push_back(text.substr(start, slash - start));
        start = slash + 1;
    }
    if (!text.empty() && text.back() == '/')
        parts.push_back(".");
    todo.insert(todo.end(), parts.rbegin(), parts.rend());
}

bool read_link(int folder, const std::string& name, std::string& text)
{
    std::vector<char> buf(256);
    for (;;) {
        const ssize_t n = readlinkat(folder, name.c_str(), buf.data(), buf.size());
        if (n < 0)
            return false;
        if (static_cast<std::size_t>(n) < buf.size()) {
            text.assign(buf.data(), static_cast<std::size_t>(n));
            return true;
        }
        buf.resize(buf.size() * 2);
    }
}

// /proc's links to descriptors and processes ("pipe:[42]", "12345", a
// deleted file) lead somewhere their text does not name; only the kernel
// can follow them. Nobody but the kernel makes links there.
bool kernel_only_link(int folder, const std::string& text)
{
#if defined(__linux__)
    struct statfs fs {};
    if (fstatfs(folder, &fs) != 0 || fs.f_type != PROC_SUPER_MAGIC)
        return false;
    const std::string deleted = " (deleted)";
    return text[0] != '/' || (text.size() > deleted.size() &&
                              text.compare(text.size() - deleted.size(), deleted.size(), deleted) == 0);
#else
    (void)folder;
    (void)text;
    return false;
#endif
}

}  // namespace

bool may_follow_link(int folder, const struct stat& link)
{
    struct stat st {};
    if (fstat(folder, &st) != 0)
        return false;
    const bool shared = (st.st_mode & S_ISVTX) && (st.st_mode & S_IWOTH);
    return !shared || link.st_uid == st.st_uid || link.st_uid == geteuid();
}

Walked walk_path(const std::string& path)
{
    Walked w;
    std::vector<std::string> todo;
    push_components(todo, path);
    // The kernel's limits: a path it would refuse is not made to work here.
    if (todo.empty() || path.size() >= PATH_MAX) {
        w.error = todo.empty() ? ENOENT : ENAMETOOLONG;
        return w;
    }
    w.folder = Fd(open(path[0] == '/' ? "/" : ".", kFolderFlags));
    int links = 0;
    while (w.folder) {
        const std::string name = todo.back();
        todo.pop_back();
        const bool last = todo.empty();
        struct stat st {};
        if (fstatat(w.folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT || !last)
                break;
            w.name = name;
            return w;
        }
        if (S_ISLNK(st.st_mode)) {
            if (!may_follow_link(w.folder.get(), st)) {
                w.refused = true;
                return w;
            }
            std::string text;
            if (++links > kMaxLinks) {
                errno = ELOOP;
                break;
            }
            if (!read_link(w.folder.get(), name, text))
                break;
            if (text.empty()) {
                errno = ENOENT;
                break;
            }
            w.through_link = w.through_link || last;
            if (kernel_only_link(w.folder.get(), text)) {
                if (last) {
                    w.name = name;
                    w.kernel_link = true;
                    return w;
                }
                w.folder = Fd(openat(w.folder.get(), name.c_str(), kFolderFlags));
                continue;
            }
            push_components(todo, text);
            if (text[0] == '/')
                w.folder = Fd(open("/", kFolderFlags));
            continue;
        }
        if (last) {
            w.name = name;
            w.exists = true;
            w.st = st;
            return w;
        }
        if (!S_ISDIR(st.st_mode)) {
            errno = ENOTDIR;
            break;
        }
        // Should it have turned into a link since, this fails rather than follow it.
        w.folder = Fd(openat(w.folder.get(), name.c_str(), kFolderFlags | O_NOFOLLOW));
    }
    w.error = errno;
    w.folder.close();
    return w;
}

}  // namespace kova::cli
