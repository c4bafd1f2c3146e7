#pragma once

// Today's per-channel analysers, fed interleaved frames already decoded.
// Kept apart from the sources: the analyser's own sample format and the
// sources' raw one share a name and cannot meet in one file.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kova/analysis/channel_report.h"

namespace kova::analysis {
class Channel_Analyser;
}

namespace kova::cli {

class Channel_Feed {
public:
    // bits: an integer's significant bits, or a float's width.
    Channel_Feed(long rate, int channels, bool floats, int bits);
    ~Channel_Feed();
    Channel_Feed(const Channel_Feed&) = delete;
    Channel_Feed& operator=(const Channel_Feed&) = delete;

    // Integers left-justified in 32 bits.
    void ints(const std::int32_t* values, std::size_t frames);
    void floats(const float* values, std::size_t frames);
    void floats(const double* values, std::size_t frames);
    // Mono 24-bit little-endian samples as they lie in the file.
    void pcm24le(const unsigned char* bytes, std::size_t frames);

    std::vector<analysis::Channel_Report> finish() const;

private:
    std::vector<analysis::Channel_Analyser> analysers_;
};

}  // namespace kova::cli
