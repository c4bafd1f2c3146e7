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

    // Every data size is a whole number of cycles, so the shorter last block
    // still ends on a cycle boundary.
    const auto data_size = static_cast<std::uint32_t>(wav.Data.lChunkSize);
    const std::size_t cycle = bytes_per_cycle(wav.Format.dwSamplesPerSec);
    const std::uint32_t blocks = block_count(data_size);
    for (std::uint32_t i = 0; i < blocks; ++i) {
        const std::size_t bytes = block_bytes(data_size, i);
        fill_block(wav, buffer.data(), static_cast<int>(bytes / cycle));
        if (out.write(buffer.data(), bytes) != bytes)
            return kWriteFailed;
    }
    return kOk;
}

}  // namespace

int generate(Wav_Data& wav, Block_Buffer& buffer, Output& out, const Line_Sink& log)
{
    const int status = run(wav, buffer, out, log);
    out.close();
    return status;
}

}  // namespace kova
