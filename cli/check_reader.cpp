#include "check_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "check_feed.h"
#include "check_source.h"

namespace kova::cli {
namespace {

using analysis::Encoding;
using analysis::Sample_Format;

// Mono 24-bit PCM in whole 12-sample cycles (the longest) of 3 bytes: 144 KiB,
// compared as it lies.
constexpr std::size_t kRawFrames = 12 * 4096;
// Values per block otherwise, whatever the channel count: small enough (64 KiB
// of integers) to be compared while still in the cache they were decoded into.
constexpr std::size_t kBlockValues = 16 * 1024;

bool raw_little_24(const Source_Format& f)
{
    return f.channels == 1 && f.sample.encoding == Encoding::signed_int && f.sample.bytes == 3 &&
           !f.sample.big_endian;
}

template <std::size_t Bytes, bool Big>
std::uint64_t unsigned_at(const unsigned char* p)
{
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < Bytes; ++k)
        v |= static_cast<std::uint64_t>(p[Big ? Bytes - 1 - k : k]) << (8 * k);
    return v;
}

template <std::size_t Bytes, bool Big>
void to_ints(const unsigned char* raw, std::size_t n, bool offset_binary, std::int32_t* out)
{
    const std::uint32_t flip = offset_binary ? 0x80000000u : 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto v = static_cast<std::uint32_t>(unsigned_at<Bytes, Big>(raw + i * Bytes));
        out[i] = static_cast<std::int32_t>((v << (32 - 8 * Bytes)) ^ flip);
    }
}

template <typename Float, bool Big>
void to_floats(const unsigned char* raw, std::size_t n, Float* out)
{
    for (std::size_t i = 0; i < n; ++i) {
        const auto bits = unsigned_at<sizeof(Float), Big>(raw + i * sizeof(Float));
        std::conditional_t<sizeof(Float) == 4, std::uint32_t, std::uint64_t> same;
        same = static_cast<decltype(same)>(bits);
        std::memcpy(&out[i], &same, sizeof(Float));
    }
}

template <bool Big>
void to_ints(const Sample_Format& f, const unsigned char* raw, std::size_t n, std::int32_t* out)
{
    const bool offset_binary = f.encoding == Encoding::unsigned_int;
    switch (f.bytes) {
    case 1: to_ints<1, Big>(raw, n, offset_binary, out); break;
    case 2: to_ints<2, Big>(raw, n, offset_binary, out); break;
    case 3: to_ints<3, Big>(raw, n, offset_binary, out); break;
    default: to_ints<4, Big>(raw, n, offset_binary, out); break;
    }
}

// The one place raw frames become what today's analysers take: integers
// left-justified in 32 bits, or floats. A block already laid out that way
// (as libsndfile hands it over, or 32-bit PCM and floats on this host) is
// read straight into the values fed.
class Decoder {
public:
    Decoder(const Source_Format& f, std::size_t frames) : f_(f)
    {
        const auto& s = f.sample;
        const std::size_t n = frames * static_cast<std::size_t>(f.channels);
        native_ = !raw_little_24(f) && s.big_endian == host_is_big_endian() &&
                  (s.encoding == Encoding::ieee_float || (s.encoding == Encoding::signed_int && s.bytes == 4));
        if (s.encoding != Encoding::ieee_float)
            ints_.resize(n);
        else if (s.bytes == 4)
            singles_.resize(n);
        else
            doubles_.resize(n);
        if (!native_)
            raw_.resize((n * static_cast<std::size_t>(s.bytes) + 7) / 8);
    }

    // Where the source puts a block: room for `frames`, aligned for 8-byte values.
    unsigned char* buffer()
    {
        if (!native_)
            return reinterpret_cast<unsigned char*>(raw_.data());
        if (!ints_.empty())
            return reinterpret_cast<unsigned char*>(ints_.data());
        if (!singles_.empty())
            return reinterpret_cast<unsigned char*>(singles_.data());
        return reinterpret_cast<unsigned char*>(doubles_.data());
    }

    void feed(Channel_Feed& feed, std::size_t frames)
    {
        const auto* raw = reinterpret_cast<const unsigned char*>(raw_.data());
        if (raw_little_24(f_)) {
            feed.pcm24le(raw, frames);
            return;
        }
        const std::size_t n = frames * static_cast<std::size_t>(f_.channels);
        const bool big = f_.sample.big_endian;
        if (!ints_.empty()) {
            if (!native_)
                big ? to_ints<true>(f_.sample, raw, n, ints_.data())
                    : to_ints<false>(f_.sample, raw, n, ints_.data());
            feed.ints(ints_.data(), frames);
        } else if (!singles_.empty()) {
            if (!native_)
                big ? to_floats<float, true>(raw, n, singles_.data())
                    : to_floats<float, false>(raw, n, singles_.data());
            feed.floats(singles_.data(), frames);
        } else {
            if (!native_)
                big ? to_floats<double, true>(raw, n, doubles_.data())
                    : to_floats<double, false>(raw, n, doubles_.data());
            feed.floats(doubles_.data(), frames);
        }
    }

private:
    const Source_Format& f_;
    bool native_ = false;
    std::vector<std::uint64_t> raw_;  // as the source holds it, when it must be decoded
    std::vector<std::int32_t> ints_;
    std::vector<float> singles_;
    std::vector<double> doubles_;
};

}  // namespace

Capture read_capture(const std::string& path, const std::function<void(double)>& on_progress)
{
    Capture c;
    auto opened = open_source(path);
    if (!opened.source) {
        c.error = opened.error;
        return c;
    }
    Source& source = *opened.source;
    const Source_Format& f = source.format();
    c.format.container = f.container;
    c.format.sample_format = sample_format_name(f.sample);
    c.format.rate = f.rate;
    c.format.channels = f.channels;

    const auto channels = static_cast<std::size_t>(f.channels);
    const std::size_t block =
        raw_little_24(f) ? kRawFrames : std::max<std::size_t>(1, kBlockValues / channels);
    Channel_Feed feed(f.rate, f.channels, f.sample.encoding == Encoding::ieee_float, f.sample.bits);
    Decoder decoder(f, block);
    std::uint64_t frames = 0;
    std::size_t n;
    while ((n = source.read(decoder.buffer(), block)) > 0) {
        decoder.feed(feed, n);
        frames += n;
        if (on_progress && f.frames != 0)
            on_progress(static_cast<double>(frames) / static_cast<double>(f.frames));
    }
    c.format.frames = frames;
    c.error = source.error();
    if (c.error.empty())
        c.channels = feed.finish();
    return c;
}

}  // namespace kova::cli
