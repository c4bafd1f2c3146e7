#include "kova/header.h"

#include <cstdio>
#include <cstring>

#include "kova/status.h"

namespace kova {
namespace {

void put_u16(unsigned char* out, std::uint16_t v)
{
    out[0] = static_cast<unsigned char>(v & 0xFF);
    out[1] = static_cast<unsigned char>(v >> 8);
}

void put_u32(unsigned char* out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}

// Only the low 32 bits of a long go into the file; every value fits in 31.
void put_long(unsigned char* out, long v)
{
    put_u32(out, static_cast<std::uint32_t>(v));
}

void put_id(unsigned char* out, const char (&id)[5])
{
    std::memcpy(out, id, 4);
}

void set_id(char (&field)[5], const char* id)
{
    std::memset(field, 0, sizeof field);
    std::memcpy(field, id, 4);
}

}  // namespace

std::int32_t sample_count(const Wav_Data& wav)
{
    // The header holds a 32-bit product; wrap as the 32-bit multiply would.
    const auto rate = static_cast<std::uint32_t>(wav.Format.dwSamplesPerSec);
    return static_cast<std::int32_t>(rate * static_cast<std::uint32_t>(wav.iDuration));
}

int build_header(Wav_Data& wav, std::int32_t samples, const Line_Sink& log)
{
    if (log)
        log("Initializing Header...\n");

    set_id(wav.Riff.cChunkId, "RIFF");
    set_id(wav.Riff.cRiffType, "WAVE");
    set_id(wav.Format.cChunkId, "fmt ");
    set_id(wav.Data.cChunkId, "data");

    wav.Riff.lChunkSize = 4;
    wav.Format.lChunkSize = 16;
    wav.Format.wFormatTag = 1;  // PCM
    wav.Format.wChannels = 1;
    wav.Format.wBlockAlign = kBytesPerSample;
    wav.Format.wBitsPerSample = 8 * kBytesPerSample;
    wav.Format.dwAvgBytesPerSec = wav.Format.dwSamplesPerSec * kBytesPerSample;

    wav.Data.lChunkSize = static_cast<std::int32_t>(data_size(samples));
    wav.Riff.dwFileSize = wav.Data.lChunkSize + kRiffOverhead;

    if (log) {
        char line[64];
        std::snprintf(line, sizeof line, "Riff file size: %d\n", static_cast<int>(wav.Riff.dwFileSize));
        log(line);
    }
    return kOk;
}

void serialise_header(const Wav_Data& wav, unsigned char* out)
{
    put_id(out + 0, wav.Riff.cChunkId);
    put_long(out + 4, wav.Riff.dwFileSize);
    put_id(out + 8, wav.Riff.cRiffType);
    put_id(out + 12, wav.Format.cChunkId);
    put_long(out + 16, wav.Format.lChunkSize);
    put_u16(out + 20, static_cast<std::uint16_t>(wav.Format.wFormatTag));
    put_u16(out + 22, static_cast<std::uint16_t>(wav.Format.wChannels));
    put_long(out + 24, wav.Format.dwSamplesPerSec);
    put_long(out + 28, wav.Format.dwAvgBytesPerSec);
    put_u16(out + 32, static_cast<std::uint16_t>(wav.Format.wBlockAlign));
    put_u16(out + 34, static_cast<std::uint16_t>(wav.Format.wBitsPerSample));
    put_id(out + 36, wav.Data.cChunkId);
    put_long(out + 40, wav.Data.lChunkSize);
}

}  // namespace kova
