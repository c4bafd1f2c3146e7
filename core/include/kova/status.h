#pragma once

// Status codes shared by the core and the front-ends: 0 is success, every
// failure is negative. Each front-end turns them into text in one place.

namespace kova {

constexpr int kOk = 0;
constexpr int kFatal = -1;          // header build failed or the header write was short
constexpr int kCancelled = -2;      // the user cancelled the save panel (macOS)
constexpr int kNoMemory = -10;      // the block buffer could not be allocated
constexpr int kCreateFailed = -23;  // the output file could not be created (Windows)
constexpr int kWriteFailed = -30;   // a block write failed or was short

}  // namespace kova
