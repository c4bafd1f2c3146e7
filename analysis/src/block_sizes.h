#pragma once

// The sizes a channel is judged in, shared by the search, the tracking and
// the break: blocks, short windows, a tone's chunks, and how far back a
// window may look.

#include <cstddef>
#include <cstdint>

#include "history.h"
#include "word_model.h"

namespace kova::analysis::detail {

// Samples judged per block where no table holds.
constexpr std::size_t kBlock = 4096;
// Windows that a clean pattern is found in: enough cycles of the longest.
constexpr std::size_t kWindow = static_cast<std::size_t>(kMinCycles) * 12;
// Chunks a resampled span's ends are found to, then the samples that ring
// past them, up to two chunks on: a tone's block is judged once that much
// has arrived beyond it.
constexpr std::size_t kToneChunk = 256;
constexpr std::size_t kToneAhead = 2 * kToneChunk;
// How far before a window its pattern may be found to begin: fixed, so that
// it does not depend on how far the samples have arrived, and well inside
// what the history holds behind any window being tested.
constexpr std::size_t kReach = History::kSize - 3 * kBlock;

inline std::uint64_t reach_back(std::uint64_t from)
{
    return from > kReach ? from - kReach : 0;
}

}  // namespace kova::analysis::detail
