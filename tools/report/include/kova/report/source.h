#pragma once

// Where a capture's frames come from: its format, then its interleaved
// frames exactly as the source holds them. WAV, RF64 and W64 are read by our
// own parser, from files and streams alike; AIFF, FLAC and CAF, named files
// only, through libsndfile.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "kova/analysis/sample_format.h"
#include "kova/cli/error.h"

namespace kova::report {

using cli::Error;
using cli::Result;

struct Source_Format {
    std::string container;  // "WAV", "WAVEX", "RF64", "W64", "AIFF", "FLAC", "CAF"
    long rate = 0;
    int channels = 0;
    analysis::Sample_Format sample;
    std::uint64_t frames = 0;  // what the header declares; 0 when it leaves the length open
};

class Source {
public:
    virtual ~Source() = default;
    virtual const Source_Format& format() const = 0;
    // Up to max_frames whole frames into buffer, which holds that many and is
    // aligned for 8-byte values; 0 at the end; an Error where reading stopped
    // early ("truncated: ...").
    virtual Result<std::size_t> read(unsigned char* buffer, std::size_t max_frames) = 0;
};

using Opened = Result<std::unique_ptr<Source>>;

// path "-" reads standard input.
Opened open_source(const std::string& path);

// "24-bit int", "32-bit float": the significant bits.
std::string sample_format_name(const analysis::Sample_Format& format);

bool host_is_big_endian();

// Bytes a frame takes in the source.
inline std::size_t frame_bytes(const Source_Format& f)
{
    return static_cast<std::size_t>(f.channels) * static_cast<std::size_t>(f.sample.bytes);
}

}  // namespace kova::report
