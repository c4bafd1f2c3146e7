#include "wave_source.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace kova::report {
namespace {

using analysis::Encoding;

enum class Kind { riff, rf64, w64 };

constexpr unsigned char kW64Riff[16] = {'r',  'i',  'f',  'f',  0x2E, 0x91, 0xCF, 0x11,
                                        0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
// Every other W64 GUID is a chunk's four letters followed by these.
constexpr unsigned char kW64Tail[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1,
                                        0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
// An extensible format's subformat GUID is a format tag followed by these.
constexpr unsigned char kSubformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                              0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr std::uint16_t kTagPcm = 1;
constexpr std::uint16_t kTagFloat = 3;
constexpr std::uint16_t kTagExtensible = 0xFFFE;
// As many as libsndfile took: each channel has an analyser of its own.
constexpr unsigned kMaxChannels = 1024;

// What a writer that cannot seek back leaves in a 64-bit size: 0, or all ones
// whether signed or not.
constexpr std::uint64_t kOpen64 = 0x7FFFFFFFFFFFFFFF;
// ... and in a 32-bit one on a stream: 0, all ones, or a size just short of
// 2 GiB (sox 0x7FFFEFFF, arecord 0x7FFFFFFF). A file is checked against what
// it holds instead.
constexpr std::uint32_t kStreamPlaceholder32 = 0x7FFF0000;

std::uint16_t le16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t le32(const unsigned char* p)
{
    return le16(p) | static_cast<std::uint32_t>(le16(p + 2)) << 16;
}
std::uint64_t le64(const unsigned char* p)
{
    return le32(p) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
}

bool is(const unsigned char* p, const char* id)
{
    return std::memcmp(p, id, 4) == 0;
}

// A W64 GUID's four letters, or none when it is not one of the family.
std::string w64_id(const unsigned char* guid)
{
    if (std::memcmp(guid + 4, kW64Tail, sizeof kW64Tail) != 0)
        return {};
    return std::string(reinterpret_cast<const char*>(guid), 4);
}

struct Header {
    Kind kind = Kind::riff;
    bool extensible = false;
    bool have_format = false;
    Source_Format format;
    std::optional<std::uint64_t> ds64_data;  // RF64's 64-bit data size
};

std::string container(const Header& h)
{
    switch (h.kind) {
        case Kind::rf64:
            return "RF64";
        case Kind::w64:
            return "W64";
        case Kind::riff:
            break;
    }
    return h.extensible ? "WAVEX" : "WAV";
}

// The fmt chunk: WAVEFORMATEX, or WAVEFORMATEXTENSIBLE with a PCM or float
// subformat. Empty when it describes samples we read.
std::string parse_format(const unsigned char* p, std::size_t size, Header& h)
{
    if (size < 16)
        return "fmt chunk of " + std::to_string(size) + " bytes (16 at least)";
    std::uint16_t tag = le16(p);
    const unsigned channels = le16(p + 2);
    const std::uint32_t rate = le32(p + 4);
    const unsigned block_align = le16(p + 12);
    const unsigned bits = le16(p + 14);
    unsigned valid_bits = 0;
    h.extensible = tag == kTagExtensible;
    if (h.extensible) {
        if (size < 40)
            return "extensible fmt chunk of " + std::to_string(size) + " bytes (40 at least)";
        valid_bits = le16(p + 18);
        if (std::memcmp(p + 26, kSubformatTail, sizeof kSubformatTail) != 0)
            return "unsupported encoding: extensible subformat is not PCM or IEEE float";
        tag = le16(p + 24);
    }
    if (tag != kTagPcm && tag != kTagFloat) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%04x", tag);
        return std::string("unsupported encoding: format tag ") + hex + " (integer PCM or IEEE float only)";
    }
    if (channels == 0 || rate == 0)
        return "no channels or no sample rate";
    if (channels > kMaxChannels)
        return std::to_string(channels) + " channels (at most " + std::to_string(kMaxChannels) + ")";
    if (block_align == 0 || block_align % channels != 0)
        return "block align " + std::to_string(block_align) + " does not hold " + std::to_string(channels) +
               " channels";
    const unsigned bytes = block_align / channels;
    const bool is_float = tag == kTagFloat;
    const bool fits = is_float ? (bytes == 4 || bytes == 8) && bits == 8 * bytes
                               : bytes <= 4 && bits >= 1 && bits <= 8 * bytes;
    if (!fits)
        return "unsupported sample size: " + std::to_string(bits) + " bits in " + std::to_string(bytes) +
               (is_float ? " bytes (floats: 32 or 64 bits)" : " bytes (integers: up to 32 bits)");
    // Valid bits say how many of the sample's bits carry it; 0 leaves them all.
    const unsigned significant = valid_bits != 0 && !is_float ? valid_bits : bits;
    if (significant > bits)
        return std::to_string(valid_bits) + " valid bits in " + std::to_string(bits) + "-bit samples";

    auto& f = h.format;
    f.rate = static_cast<long>(rate);
    f.channels = static_cast<int>(channels);
    f.sample.encoding = is_float     ? Encoding::ieee_float
                        : bytes == 1 ? Encoding::unsigned_int
                                     : Encoding::signed_int;
    f.sample.bytes = static_cast<int>(bytes);
    f.sample.bits = static_cast<int>(is_float ? 8 * bytes : significant);
    f.sample.big_endian = false;
    h.have_format = true;
    return {};
}

class Wave_Source : public Source {
public:
    Wave_Source(std::unique_ptr<Byte_Input> input, Source_Format format,
                std::optional<std::uint64_t> declared)
        : input_(std::move(input)), format_(std::move(format)), declared_(declared)
    {
    }

    const Source_Format& format() const override { return format_; }

    Result<std::size_t> read(unsigned char* buffer, std::size_t max_frames) override
    {
        const std::size_t frame = frame_bytes(format_);
        std::size_t want = max_frames * frame;
        if (declared_)
            want = static_cast<std::size_t>(std::min<std::uint64_t>(want, *declared_ - got_));
        const std::size_t got = input_->read(buffer, want);
        got_ += got;
        const std::size_t frames = got / frame;
        if (frames > 0)
            return frames;
        // The end: of the data, or of what there was of it.
        if (input_->error() != 0)
            return Error{std::strerror(input_->error())};
        if (declared_ && got_ < *declared_)
            return Error{"truncated: " + std::to_string(got_) + " of " + std::to_string(*declared_) +
                         " data bytes"};
        return std::size_t{0};
    }

private:
    std::unique_ptr<Byte_Input> input_;
    Source_Format format_;
    std::optional<std::uint64_t> declared_;  // none: to the end of the input
    std::uint64_t got_ = 0;
};

// The data chunk's length from its size field (W64: counting the chunk's
// own 24 bytes); none where the writer left a placeholder, and the data runs
// to the end of the input.
std::optional<std::uint64_t> data_length(const Header& h, std::uint64_t field, bool stream)
{
    if (h.kind == Kind::w64)
        return field == 0 || field >= kOpen64 ? std::nullopt : std::optional<std::uint64_t>(field - 24);
    if (h.kind == Kind::rf64 && field == 0xFFFFFFFF) {
        if (!h.ds64_data || *h.ds64_data == 0 || *h.ds64_data >= kOpen64)
            return std::nullopt;
        return h.ds64_data;
    }
    if (field == 0 || field == 0xFFFFFFFF || (stream && field >= kStreamPlaceholder32))
        return std::nullopt;
    return field;
}

class Header_Reader {
public:
    explicit Header_Reader(Byte_Input& in) : in_(in) {}

    bool take(unsigned char* out, std::size_t n)
    {
        if (in_.read(out, n) == n)
            return true;
        fail();
        return false;
    }
    bool skip(std::uint64_t n)
    {
        if (in_.skip(n) == n)
            return true;
        fail();
        return false;
    }
    std::optional<Error> error;

private:
    void fail()
    {
        if (!error)
            error = Error{in_.error() != 0 ? std::strerror(in_.error()) : "truncated header"};
    }
    Byte_Input& in_;
};

}  // namespace

bool looks_like_wave(const unsigned char* bytes, std::size_t count)
{
    return (count >= 4 && (is(bytes, "RIFF") || is(bytes, "RF64"))) ||
           (count >= sizeof kW64Riff && std::memcmp(bytes, kW64Riff, sizeof kW64Riff) == 0);
}

Opened open_wave(std::unique_ptr<Byte_Input> input)
{
    const auto fail = [](std::string why) { return Opened{Error{std::move(why)}}; };
    const auto failed = [](const Header_Reader& r) { return Opened{*r.error}; };
    Header_Reader in(*input);
    Header h;
    unsigned char head[40];
    if (!in.take(head, 12))
        return failed(in);
    if (is(head, "RIFF") || is(head, "RF64")) {
        h.kind = is(head, "RIFF") ? Kind::riff : Kind::rf64;
        if (!is(head + 8, "WAVE"))
            return fail("a RIFF file, but not WAVE");
    } else {
        h.kind = Kind::w64;
        if (!in.take(head + 12, 28))
            return failed(in);
        if (w64_id(head + 24) != "wave")
            return fail("a W64 file, but not WAVE");
    }
    const bool stream = !input->remaining();
    const std::size_t header_size = h.kind == Kind::w64 ? 24 : 8;

    for (;;) {
        unsigned char chunk[24];
        if (!in.take(chunk, header_size))
            return input->error() != 0 ? failed(in) : fail("no data chunk");
        std::string id;
        std::uint64_t field;  // the size as written
        std::uint64_t size;   // of the body
        std::uint64_t pad;
        if (h.kind == Kind::w64) {
            id = w64_id(chunk);
            field = le64(chunk + 16);
            const bool open_data = id == "data" && (field == 0 || field >= kOpen64);
            if (field < 24 && !open_data)
                return fail("W64 chunk of " + std::to_string(field) + " bytes (24 at least)");
            size = open_data ? 0 : field - 24;
            pad = (8 - field % 8) % 8;
        } else {
            id.assign(reinterpret_cast<const char*>(chunk), 4);
            field = size = le32(chunk + 4);
            pad = size & 1;
        }

        if (id == "data") {
            if (!h.have_format)
                return fail("data chunk before the fmt chunk");
            const auto declared = data_length(h, field, stream);
            auto& f = h.format;
            f.container = container(h);
            f.frames = declared ? *declared / frame_bytes(f) : 0;
            if (const auto left = input->remaining(); declared && left && *left < *declared)
                return fail("truncated: " + std::to_string(*left) + " of " + std::to_string(*declared) +
                            " data bytes");
            return Opened{std::unique_ptr<Source>(
                std::make_unique<Wave_Source>(std::move(input), std::move(h.format), declared))};
        }
        if (id == "fmt ") {
            unsigned char body[40] = {};
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof body));
            if (!in.take(body, n))
                return failed(in);
            if (auto why = parse_format(body, static_cast<std::size_t>(size), h); !why.empty())
                return fail(why);
            if (!in.skip(size - n + pad))
                return failed(in);
        } else if (id == "ds64" && h.kind == Kind::rf64) {
            unsigned char body[16];
            if (size < 24 || !in.take(body, 16))
                return in.error ? failed(in) : fail("ds64 chunk of " + std::to_string(size) + " bytes");
            h.ds64_data = le64(body + 8);
            if (!in.skip(size - 16 + pad))
                return failed(in);
        } else if (!in.skip(size + pad)) {
            return failed(in);
        }
    }
}

}  // namespace kova::report
