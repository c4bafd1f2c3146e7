#pragma once

// A capture kept for later as it arrives: 32-bit float WAV
// (WAVE_FORMAT_EXTENSIBLE), the samples exactly as the host handed them over.
// Room for an RF64 header is kept from the start, so that a capture past
// 4 GB (46 minutes of 192 kHz stereo) becomes RF64 when it is closed instead
// of failing. Until then the sizes are placeholders that say "to the end of
// the file", so that even a run killed outright leaves a file kova-check reads.

#include <cstddef>
#include <cstdint>
#include <string>

#include "kova/cli/error.h"
#include "kova/cli/fd.h"

namespace kova::check {

class Wav_Writer {
public:
    // The largest RIFF size a plain WAV can declare.
    static constexpr std::uint64_t kRiffLimit = 0xFFFFFFFFu;

    // Refuses an existing file: a capture never replaces one. riff_limit is
    // where the file becomes RF64 instead (lowered only by the tests).
    static cli::Result<Wav_Writer> create(const std::string& path, long rate, int channels,
                                          std::uint64_t riff_limit = kRiffLimit);

    // count interleaved frames.
    cli::Result<void> write(const float* frames, std::size_t count);
    // Writes the real sizes and closes; the first failure is the one told.
    cli::Result<void> close();

    const std::string& path() const { return path_; }

private:
    Wav_Writer() = default;
    // Writes all of it at `offset`, or at the end for none.
    bool put(const unsigned char* bytes, std::size_t n, long long offset = -1);
    cli::Error failure(const std::string& what, int err) const;

    cli::Fd fd_;
    std::string path_;
    int channels_ = 0;
    std::uint64_t data_bytes_ = 0;
    std::uint64_t riff_limit_ = kRiffLimit;
};

}  // namespace kova::check
