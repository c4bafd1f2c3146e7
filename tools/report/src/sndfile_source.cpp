#include "sndfile_source.h"

#include <sndfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

namespace kova::report {
namespace {

using analysis::Encoding;

std::string container_name(int format)
{
    switch (format & SF_FORMAT_TYPEMASK) {
        case SF_FORMAT_AIFF:
            return "AIFF";
        case SF_FORMAT_FLAC:
            return "FLAC";
        case SF_FORMAT_CAF:
            return "CAF";
        default:
            break;
    }
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_TYPEMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.extension)
        return info.extension;
    return "other";
}

// The file's own width; libsndfile hands every integer over left-justified in
// 32 bits and every float at its own width.
bool sample_format(int format, analysis::Sample_Format& out)
{
    int bits;
    bool is_float = false;
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            bits = 8;
            break;
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_ALAC_16:
            bits = 16;
            break;
        case SF_FORMAT_ALAC_20:
            bits = 20;
            break;
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_ALAC_24:
            bits = 24;
            break;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_ALAC_32:
            bits = 32;
            break;
        case SF_FORMAT_FLOAT:
            bits = 32, is_float = true;
            break;
        case SF_FORMAT_DOUBLE:
            bits = 64, is_float = true;
            break;
        default:
            return false;
    }
    out.encoding = is_float ? Encoding::ieee_float : Encoding::signed_int;
    out.bytes = bits == 64 ? 8 : 4;
    out.bits = bits;
    out.big_endian = host_is_big_endian();
    return true;
}

// libsndfile reads an AIFF cut short up to where it ends, and says so only in
// its log: "SSND : 132308 (should be 60008)". 0 and all ones are what a
// writer that cannot seek back leaves there.
std::string cut_short(SNDFILE* sf)
{
    char log[8192] = {};
    sf_command(sf, SFC_GET_LOG_INFO, log, sizeof log);
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        unsigned long long declared = 0, actual = 0;
        char chunk[8] = {};
        if (std::sscanf(line.c_str(), " %7[A-Za-z] : %llu (should be %llu)", chunk, &declared, &actual) != 3)
            continue;
        if (std::string(chunk) == "SSND" && actual < declared && declared != 0 && declared != 0xFFFFFFFF)
            return "truncated: " + std::to_string(actual) + " of " + std::to_string(declared) + " data bytes";
    }
    return {};
}

class Sndfile_Source : public Source {
public:
    Sndfile_Source(std::unique_ptr<Byte_Input> input, SNDFILE* sf, Source_Format format)
        : input_(std::move(input)), sf_(sf), format_(std::move(format))
    {
    }
    ~Sndfile_Source() override { sf_close(sf_); }
    Sndfile_Source(const Sndfile_Source&) = delete;
    Sndfile_Source& operator=(const Sndfile_Source&) = delete;

    const Source_Format& format() const override { return format_; }

    Result<std::size_t> read(unsigned char* buffer, std::size_t max_frames) override
    {
        const auto n = static_cast<sf_count_t>(max_frames);
        sf_count_t got;
        if (format_.sample.encoding != Encoding::ieee_float)
            got = sf_readf_int(sf_, reinterpret_cast<int*>(buffer), n);
        else if (format_.sample.bytes == 4)
            got = sf_readf_float(sf_, reinterpret_cast<float*>(buffer), n);
        else
            got = sf_readf_double(sf_, reinterpret_cast<double*>(buffer), n);
        if (got > 0) {
            frames_ += static_cast<std::uint64_t>(got);
            return static_cast<std::size_t>(got);
        }
        // The end: of the frames, or of what there was of them.
        if (sf_error(sf_) != SF_ERR_NO_ERROR)
            return Error{sf_strerror(sf_)};
        if (format_.frames != 0 && frames_ < format_.frames)
            return Error{"truncated: " + std::to_string(frames_) + " of " + std::to_string(format_.frames) +
                         " frames"};
        return std::size_t{0};
    }

private:
    std::unique_ptr<Byte_Input> input_;  // owns the descriptor libsndfile reads
    SNDFILE* sf_;
    Source_Format format_;
    std::uint64_t frames_ = 0;
};

}  // namespace

Opened open_sndfile(std::unique_ptr<Byte_Input> input)
{
    SF_INFO info{};
    if (lseek(input->fd(), 0, SEEK_SET) != 0)
        return Error{std::strerror(errno)};
    SNDFILE* sf = sf_open_fd(input->fd(), SFM_READ, &info, SF_FALSE);
    if (!sf)
        return Error{sf_strerror(nullptr)};
    Source_Format f;
    std::string why;
    if (!sample_format(info.format, f.sample))
        why = "unsupported sample encoding (integer PCM, ALAC or float only)";
    else if (info.channels < 1 || info.samplerate < 1)
        why = "no channels or no sample rate";
    else
        why = cut_short(sf);
    if (!why.empty()) {
        sf_close(sf);
        return Error{why};
    }
    f.container = container_name(info.format);
    f.rate = info.samplerate;
    f.channels = info.channels;
    f.frames = info.frames > 0 && info.frames < SF_COUNT_MAX ? static_cast<std::uint64_t>(info.frames) : 0;
    return Opened{
        std::unique_ptr<Source>(std::make_unique<Sndfile_Source>(std::move(input), sf, std::move(f)))};
}

}  // namespace kova::report
