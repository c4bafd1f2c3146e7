#pragma once

// Finding the folder that holds the file a path names, one component at a
// time, so that every symbolic link on the way is checked before it is
// followed, not only the last one, and so that the file is then reached by
// a short name relative to that folder, however long the whole path is.

#include <sys/stat.h>

#include <string>

#include "kova/cli/fd.h"

namespace kova::cli {

struct Walked {
    int error = 0;         // errno of a step that failed; the rest is then unset
    bool refused = false;  // a link not followed (see may_follow_link)
    Fd folder;             // the folder the file is in, for the *at calls
    std::string name;      // its name there
    bool exists = false;   // name is there, described by st; never a link
    struct stat st {};
    bool through_link = false;  // the path's last component was a link
    // name is a link only the kernel can follow (a pipe's /proc/self/fd/1):
    // open it, never create or replace it.
    bool kernel_link = false;
};

Walked walk_path(const std::string& path);

// The rule the kernel applies where protected_symlinks is on: a link in a
// sticky, world-writable folder (/tmp) is followed only when it belongs to
// the folder's owner or to whoever follows it. Otherwise anyone could point
// a name there at a file of ours.
bool may_follow_link(int folder, const struct stat& link);

}  // namespace kova::cli
