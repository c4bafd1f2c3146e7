#include "check_reader.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sstream>
#include <vector>

#include "kova/analysis/channel_analyser.h"

namespace kova::cli {
namespace {

using Sndfile = std::unique_ptr<SNDFILE, int (*)(SNDFILE*)>;

// Raw reads in whole 12-sample cycles (the longest) of 3 bytes: 144 KiB.
constexpr std::size_t kRawFrames = 12 * 4096;
// Values per block, whatever the channel count: small enough (64 KiB of
// integers) to be compared while still in the cache they were read into.
constexpr std::size_t kBlockValues = 16 * 1024;

std::string container_name(int format)
{
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV: return "WAV";
    case SF_FORMAT_WAVEX: return "WAVEX";
    case SF_FORMAT_RF64: return "RF64";
    case SF_FORMAT_W64: return "W64";
    case SF_FORMAT_AIFF: return "AIFF";
    case SF_FORMAT_FLAC: return "FLAC";
    case SF_FORMAT_CAF: return "CAF";
    default: break;
    }
    SF_FORMAT_INFO info{};
    info.format = format & SF_FORMAT_TYPEMASK;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.extension)
        return info.extension;
    return "other";
}

// The width at which a sample format is read without loss; 0 if it cannot be.
bool sample_format(int format, analysis::Sample_Format& out, std::string& name)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8: out = {false, 8}; break;
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ALAC_16: out = {false, 16}; break;
    case SF_FORMAT_ALAC_20: out = {false, 20}; break;
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_ALAC_24: out = {false, 24}; break;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_ALAC_32: out = {false, 32}; break;
    case SF_FORMAT_FLOAT: out = {true, 32}; break;
    case SF_FORMAT_DOUBLE: out = {true, 64}; break;
    default: return false;
    }
    name = std::to_string(out.bits) + (out.is_float ? "-bit float" : "-bit int");
    return true;
}

// 24-bit PCM stored little-endian: compared byte for byte as it lies.
bool raw_little_24(const SF_INFO& info, SNDFILE* sf)
{
    const int major = info.format & SF_FORMAT_TYPEMASK;
    const bool little = major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_W64 ||
                        major == SF_FORMAT_RF64;
    const int endian = sf_command(sf, SFC_RAW_DATA_NEEDS_ENDSWAP, nullptr, 0);
    return little && endian == SF_FALSE && (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_24 &&
           info.channels == 1;
}

// libsndfile reads a file cut short up to where it ends, and says so only in
// its log: "data : 132300 (should be 59956)" (SSND for AIFF, riff for W64). Writers that
// cannot seek back leave 0 or a huge placeholder there; those are not cuts.
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
        const std::string name = chunk;
        constexpr unsigned long long kPlaceholder = 0x7FFFF000;
        if ((name == "data" || name == "SSND" || name == "riff") && actual < declared && declared != 0 &&
            declared < kPlaceholder)
            return "truncated: " + std::to_string(actual) + " of " + std::to_string(declared) + " data bytes";
    }
    return {};
}

void feed(analysis::Channel_Analyser& a, const std::int32_t* v, std::size_t n, std::size_t stride)
{
    a.feed_int(v, n, stride);
}
void feed(analysis::Channel_Analyser& a, const float* v, std::size_t n, std::size_t stride)
{
    a.feed_float(v, n, stride);
}
void feed(analysis::Channel_Analyser& a, const double* v, std::size_t n, std::size_t stride)
{
    a.feed_float(v, n, stride);
}

// Reads frames of interleaved samples with `read` (sf_readf_int, _float,
// _double) and gives each channel its own; returns the frames read.
template <typename Value, typename Read, typename Progress>
std::uint64_t read_blocks(SNDFILE* sf, Read read, std::vector<analysis::Channel_Analyser>& analysers,
                          const Progress& progress)
{
    const std::size_t channels = analysers.size();
    const std::size_t block = std::max<std::size_t>(1, kBlockValues / channels);
    std::vector<Value> values(block * channels);
    std::uint64_t frames = 0;
    sf_count_t n;
    while ((n = read(sf, values.data(), static_cast<sf_count_t>(block))) > 0) {
        for (std::size_t ch = 0; ch < channels; ++ch)
            feed(analysers[ch], values.data() + ch, static_cast<std::size_t>(n), channels);
        frames += static_cast<std::uint64_t>(n);
        progress(frames);
    }
    return frames;
}

}  // namespace

Capture read_capture(const std::string& path, const std::function<void(double)>& on_progress)
{
    Capture c;
    SF_INFO info{};
    Sndfile sf(path == "-" ? sf_open_fd(STDIN_FILENO, SFM_READ, &info, SF_FALSE)
                           : sf_open(path.c_str(), SFM_READ, &info),
               sf_close);
    if (!sf) {
        c.error = sf_strerror(nullptr);
        return c;
    }
    analysis::Sample_Format format;
    if (!sample_format(info.format, format, c.format.sample_format)) {
        c.error = "unsupported sample encoding (integer PCM, ALAC or float only)";
        return c;
    }
    if (info.channels < 1 || info.samplerate < 1) {
        c.error = "no channels or no sample rate";
        return c;
    }
    if (auto cut = cut_short(sf.get()); !cut.empty()) {
        c.error = cut;
        return c;
    }
    c.format.container = container_name(info.format);
    c.format.rate = info.samplerate;
    c.format.channels = info.channels;

    std::vector<analysis::Channel_Analyser> analysers(static_cast<std::size_t>(info.channels),
                                                   analysis::Channel_Analyser(info.samplerate, format));
    // A stream of unknown length reports the largest count there is, or, read
    // from a pipe, whatever placeholder its writer left in the header.
    // Below that, even at 8 bytes a sample, the size is a real one.
    constexpr sf_count_t kRealSamples = 0x7FFFF000 / 8;
    const bool known_length = info.frames > 0 && info.frames < SF_COUNT_MAX &&
                              (info.seekable || info.frames * info.channels < kRealSamples);
    std::uint64_t frames = 0;
    auto progress = [&](std::uint64_t done) {
        if (on_progress && known_length)
            on_progress(static_cast<double>(done) / static_cast<double>(info.frames));
    };

    if (raw_little_24(info, sf.get())) {
        std::vector<unsigned char> bytes(3 * kRawFrames);
        sf_count_t n;
        while ((n = sf_read_raw(sf.get(), bytes.data(), static_cast<sf_count_t>(bytes.size()))) > 0) {
            const auto got = static_cast<std::size_t>(n) / 3;
            analysers[0].feed_pcm24le(bytes.data(), got);
            frames += got;
            progress(frames);
        }
    } else if (format.is_float && format.bits == 32) {
        frames = read_blocks<float>(sf.get(), sf_readf_float, analysers, progress);
    } else if (format.is_float) {
        frames = read_blocks<double>(sf.get(), sf_readf_double, analysers, progress);
    } else {
        frames = read_blocks<std::int32_t>(sf.get(), sf_readf_int, analysers, progress);
    }
    c.format.frames = frames;

    if (sf_error(sf.get()) != SF_ERR_NO_ERROR) {
        c.error = sf_strerror(sf.get());
        return c;
    }
    // A file that ends before the length its header gives was cut short.
    if (known_length && frames < static_cast<std::uint64_t>(info.frames)) {
        c.error = "truncated: " + std::to_string(frames) + " of " + std::to_string(info.frames) + " frames";
        return c;
    }
    for (const auto& a : analysers)
        c.channels.push_back(a.finish());
    return c;
}

}  // namespace kova::cli
