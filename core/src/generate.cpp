#include "kova/generate.h"

#include <algorithm>
#include <new>

#include "kova/pattern.h"
#include "kova/status.h"

namespace kova {
namespace {

int run(Wav_Data& wav, Block_Buffer& buffer, Output& out, const Line_Sink& log)
{
    if (build_header(wav, sample_count(wav), log) != kOk)
        return kFatal;
    set_pattern_words(wav);

    try {
        buffer.resize(kBlockBytes);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    std::fill(buffer.begin(), buffer.end(), 0);

    serialise_header(wav, buffer.data());
    if (out.write(buffer.data(), kHeaderBytes) != kHeaderBytes)
        return kFatal;

    // Every block starts on a cycle boundary and holds the same bytes, and the
    // shorter last block is a prefix of a full one; so one fill serves all
    // writes, which keeps the generator's own cost far below the disk's.
    const auto data_size = static_cast<std::uint32_t>(wav.Data.lChunkSize);
    const std::uint32_t blocks = block_count(data_size);
    if (blocks > 0)
        fill_block(wav, buffer.data(), cycles_per_block(wav.Format.dwSamplesPerSec));
    for (std::uint32_t i = 0; i < blocks; ++i) {
        const std::size_t bytes = block_bytes(data_size, i);
        // A file with a gap is no test file: stop at the first short block
        // and say so; the caller removes what was written.
        if (out.write(buffer.data(), bytes) != bytes)
            return kWriteFailed;
    }
    return kOk;
}

}  // namespace

int generate(Wav_Data& wav, Block_Buffer& buffer, Output& out, const Line_Sink& log)
{
    const int status = run(wav, buffer, out, log);
    const int closed = out.close();
    return status == kOk ? closed : status;
}

}  // namespace kova
