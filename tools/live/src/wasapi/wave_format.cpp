#include "wave_format.h"

#include <ksmedia.h>

namespace kova::live::wasapi::detail {

namespace {

const GUID kPcm = {STATIC_KSDATAFORMAT_SUBTYPE_PCM};
const GUID kFloat = {STATIC_KSDATAFORMAT_SUBTYPE_IEEE_FLOAT};

DWORD usual_mask(int channels)
{
    switch (channels) {
        case 1:
            return SPEAKER_FRONT_CENTER;
        case 2:
            return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
        case 4:
            return KSAUDIO_SPEAKER_QUAD;
        case 6:
            return KSAUDIO_SPEAKER_5POINT1;
        case 8:
            return KSAUDIO_SPEAKER_7POINT1_SURROUND;
        default:
            return 0;
    }
}

bool is_extensible(const WAVEFORMATEX& format)
{
    return format.wFormatTag == WAVE_FORMAT_EXTENSIBLE &&
           format.cbSize >= sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
}

}  // namespace

WAVEFORMATEXTENSIBLE make_format(Sample_Encoding encoding, long rate, int channels, DWORD mask)
{
    WAVEFORMATEXTENSIBLE f{};
    const auto bytes = static_cast<WORD>(sample_bytes(encoding));
    f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    f.Format.nChannels = static_cast<WORD>(channels);
    f.Format.nSamplesPerSec = static_cast<DWORD>(rate);
    f.Format.wBitsPerSample = static_cast<WORD>(bytes * 8);
    f.Format.nBlockAlign = static_cast<WORD>(bytes * channels);
    f.Format.nAvgBytesPerSec = f.Format.nSamplesPerSec * f.Format.nBlockAlign;
    f.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    // All bits valid: 24 valid bits in a 32-bit container is read from the
    // low end by some hosts (Wine), 48 dB too loud.
    f.Samples.wValidBitsPerSample = f.Format.wBitsPerSample;
    f.dwChannelMask = mask ? mask : usual_mask(channels);
    f.SubFormat = encoding == Sample_Encoding::float32 ? kFloat : kPcm;
    return f;
}

DWORD channel_mask(const WAVEFORMATEX& format)
{
    return is_extensible(format) ? reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format).dwChannelMask : 0;
}

std::string describe_format(const WAVEFORMATEX& format)
{
    bool is_float = format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    bool is_pcm = format.wFormatTag == WAVE_FORMAT_PCM;
    unsigned valid = format.wBitsPerSample;
    if (is_extensible(format)) {
        const auto& x = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
        is_float = IsEqualGUID(x.SubFormat, kFloat) != 0;
        is_pcm = IsEqualGUID(x.SubFormat, kPcm) != 0;
        if (x.Samples.wValidBitsPerSample)
            valid = x.Samples.wValidBitsPerSample;
    }
    const std::string bits = std::to_string(valid) + "-bit ";
    if (is_float)
        return bits + "float";
    if (!is_pcm)
        return "format tag " + std::to_string(format.wFormatTag);
    std::string text = bits + "int";
    if (valid != format.wBitsPerSample)
        text += " in " + std::to_string(format.wBitsPerSample);
    return text;
}

}  // namespace kova::live::wasapi::detail
