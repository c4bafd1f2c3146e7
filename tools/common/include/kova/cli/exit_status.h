#pragma once

// The commands' exit statuses, one meaning each wherever it is used.

namespace kova::cli {

// Done: the file written, the pattern played, or every capture passes.
constexpr int kSuccess = 0;
// kova-check and the live listens (--listen, kova-loop): a capture does not
// pass. kova-gen: the file could not be written.
constexpr int kFailure = 1;
// A usage error; and for kova-check, kova-play and the live listens,
// whatever kept the job from being done on this machine: a file that
// cannot be read, a device that is missing or will not run at the rate, a
// host that fails, a report that cannot be written. Never 1, which would
// blame the chain for it.
constexpr int kUsageError = 2;

}  // namespace kova::cli
