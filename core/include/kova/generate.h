#pragma once

// The whole generation: header, pattern, blocks, close.

#include "kova/block_buffer.h"
#include "kova/header.h"
#include "kova/output.h"
#include "kova/wav_data.h"

namespace kova {

// Writes one complete file for the settings in wav through out and closes it.
// buffer is resized to one block and kept for the caller's next generation.
// Returns kOk, kFatal (header), kNoMemory or kWriteFailed (a block write or
// the close failed). On failure the output is closed but not removed: that
// is the caller's, who created it.
int generate(Wav_Data& wav, Block_Buffer& buffer, Output& out, const Line_Sink& log = {});

}  // namespace kova
