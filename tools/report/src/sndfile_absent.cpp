#include "sndfile_source.h"

// Where libsndfile cannot be had (the Windows build): the files it would read
// are told apart from damaged ones, and refused for what they are.
namespace kova::report {

Opened open_sndfile(std::unique_ptr<Byte_Input>)
{
    return Error{
        "AIFF, FLAC and CAF are read through libsndfile, which kova-check on Windows is built "
        "without: convert the capture to WAV"};
}

}  // namespace kova::report
