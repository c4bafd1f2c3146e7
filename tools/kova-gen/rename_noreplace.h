#pragma once

// Putting a finished file in place without replacing one that appeared
// meanwhile.

namespace kova::cli {

// Renames from to to, both names in the open folder (or AT_FDCWD), unless
// to exists. Returns 0, or the errno (EEXIST when to exists). Uses the
// platform's own call where it has one.
int rename_noreplace(int folder, const char* from, const char* to);

// The same with link() and unlink(), which every POSIX system has: link
// never replaces. The fallback of rename_noreplace, reachable for the tests.
int rename_by_link(int folder, const char* from, const char* to);

}  // namespace kova::cli
