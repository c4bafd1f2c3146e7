#pragma once

// A capture kept for later as it arrives: 32-bit float WAV
// (WAVE_FORMAT_EXTENSIBLE), the samples exactly as the host handed them over.
// Room for an RF64 header is kept from the start, so that a capture past
// 4 GB (46 minutes of 192 kHz stereo) becomes RF64 when it is closed instead
// of failing. Until then the sizes are placeholders that say "to the end of
// the file", so that even a run killed outright leaves a file kova-check reads.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "kova/live/error.h"

namespace kova::live {

class Wav_Writer {
public:
    // The largest RIFF size a plain WAV can declare.
    static constexpr std::uint64_t kRiffLimit = 0xFFFFFFFFu;

    // Refuses an existing file: a capture never replaces one. riff_limit is
    // where the file becomes RF64 instead (lowered only by the tests).
    static Expected<Wav_Writer> create(const std::string& path, long rate, int channels,
                                       std::uint64_t riff_limit = kRiffLimit);

    // count interleaved frames.
    Status write(const float* frames, std::size_t count);
    // Writes the real sizes and closes; the first failure is the one told.
    Status close();

    const std::string& path() const { return path_; }

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    Wav_Writer() = default;
    Error failure(const std::string& what) const;

    std::unique_ptr<std::FILE, Closer> file_;
    std::string path_;
    int channels_ = 0;
    std::uint64_t data_bytes_ = 0;
    std::uint64_t riff_limit_ = kRiffLimit;
};

}  // namespace kova::live
