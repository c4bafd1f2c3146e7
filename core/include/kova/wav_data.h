#pragma once

// The one record a front-end keeps for its whole run: the two settings, the
// header fields rebuilt for every file, and the three pattern words.
// Its layout is not the file layout; serialise_header() writes the file bytes.
// The size fields are the platform's long (32 bits on Windows, 64 on macOS).

#include <cstdint>

namespace kova {

struct Riff {
    long lChunkSize;    // kept in the record, never written to the file
    char cChunkId[5];   // "RIFF"
    long dwFileSize;    // RIFF chunk size: data size + 36
    char cRiffType[5];  // "WAVE"
};

struct fmt_struct {
    long lChunkSize;   // 16
    char cChunkId[5];  // "fmt "
    std::int16_t wFormatTag;
    std::int16_t wChannels;
    long dwSamplesPerSec;  // the current sample rate, written by the rate list
    long dwAvgBytesPerSec;
    std::int16_t wBlockAlign;
    std::int16_t wBitsPerSample;
    char szFormatTag[256];  // never set or read; stays zero
};

struct wav_struct {
    long lChunkSize;           // data size: sample count * 3
    char cChunkId[5];          // "data"
    std::int32_t iWavData[3];  // the pattern words
};

struct Wav_Data {
    kova::Riff Riff;
    fmt_struct Format;
    wav_struct Data;
    std::int32_t iDuration;  // seconds
};

}  // namespace kova
