#pragma once

// AIFF/AIFC, FLAC and CAF through libsndfile, for named regular files only:
// it reads them as native-endian 32-bit integers or floats, never through a
// conversion that rounds.

#include <cstddef>
#include <memory>

#include "byte_input.h"
#include "kova/report/source.h"

namespace kova::report {

// Whether the first bytes open an AIFF/AIFC, FLAC or CAF file (12 looked at).
bool looks_like_sndfile(const unsigned char* bytes, std::size_t count);

// input is a regular file; libsndfile reads it from its start.
Opened open_sndfile(std::unique_ptr<Byte_Input> input);

}  // namespace kova::report
