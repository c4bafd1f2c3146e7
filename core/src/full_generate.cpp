#include "kova/full_generate.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "kova/full_signal.h"
#include "kova/pattern.h"
#include "kova/status.h"

namespace kova::full {
namespace {

constexpr int kBytes = 3;
constexpr std::uint64_t kRiffLimit = 0x7FFFFFFF;
constexpr std::uint32_t kSizeInDs64 = 0xFFFFFFFF;
constexpr unsigned char kPcmSubformat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                             0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::size_t frame_bytes(const Settings& s)
{
    return static_cast<std::size_t>(kBytes * s.channels);
}

bool extensible(const Settings& s)
{
    return s.channels > 2;
}

std::size_t fmt_size(const Settings& s)
{
    return extensible(s) ? 40 : 16;
}

// "RIFF"/"RF64", size, "WAVE"; ds64 for RF64; fmt; "data" and its size.
std::size_t size_without_ds64(const Settings& s)
{
    return 12 + 8 + fmt_size(s) + 8;
}

void put(unsigned char*& p, std::uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i) *p++ = static_cast<unsigned char>(v >> (8 * i) & 0xFF);
}

void put_id(unsigned char*& p, const char* id)
{
    std::memcpy(p, id, 4);
    p += 4;
}

// The table laid out as the file holds it: every channel's word, 24-bit
// little-endian, frame after frame.
std::vector<unsigned char> lay_out(const Settings& s)
{
    const auto code = code_bits();
    const int r = repeat(s.rate);
    std::vector<unsigned char> layout(static_cast<std::size_t>(kTableLength) * frame_bytes(s));
    for (int c = 1; c <= s.channels; ++c) {
        const auto table = channel_table(c, s.channels, r, code);
        unsigned char* p = layout.data() + static_cast<std::size_t>(kBytes * (c - 1));
        for (const std::int32_t w : table) {
            p[0] = static_cast<unsigned char>(w & 0xFF);
            p[1] = static_cast<unsigned char>(w >> 8 & 0xFF);
            p[2] = static_cast<unsigned char>(w >> 16 & 0xFF);
            p += frame_bytes(s);
        }
    }
    return layout;
}

// Frames [first, first + count) of the signal into out: each segment's run
// is one copy from the layout.
void fill(const Settings& s, const std::vector<unsigned char>& layout, std::uint16_t msg, std::uint64_t first,
          std::size_t count, unsigned char* out)
{
    const std::size_t frame = frame_bytes(s);
    while (count > 0) {
        const std::uint64_t f = first / kSegment;
        const auto j = static_cast<std::size_t>(first % kSegment);
        const std::size_t n = std::min(count, static_cast<std::size_t>(kSegment) - j);
        const std::size_t at = static_cast<std::size_t>(kOffsetStep * symbol(f, msg)) + j;
        std::memcpy(out, layout.data() + at * frame, n * frame);
        out += n * frame;
        first += n;
        count -= n;
    }
}

int run(const Settings& s, Block_Buffer& buffer, Output& out)
{
    std::vector<unsigned char> layout;
    try {
        buffer.resize(std::max(block_bytes(s.channels), header_size(s)));
        layout = lay_out(s);
    } catch (const std::bad_alloc&) {
        return kNoMemory;
    }
    const std::size_t header = header_size(s);
    serialise_header(s, buffer.data());
    if (out.write(buffer.data(), header) != header)
        return kFatal;

    const std::uint16_t msg = message(s.rate, s.seconds);
    const std::size_t frame = frame_bytes(s);
    const std::size_t block_frames = block_bytes(s.channels) / frame;
    const std::uint64_t total = sample_count(s);
    for (std::uint64_t done = 0; done < total;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block_frames, total - done));
        fill(s, layout, msg, done, n, buffer.data());
        // As for the pattern: a file with a gap is no test file.
        if (out.write(buffer.data(), n * frame) != n * frame)
            return kWriteFailed;
        done += n;
    }
    return kOk;
}

}  // namespace

std::uint64_t sample_count(const Settings& s)
{
    return static_cast<std::uint64_t>(s.rate) * static_cast<std::uint64_t>(s.seconds);
}

std::uint64_t data_size(const Settings& s)
{
    return sample_count(s) * frame_bytes(s);
}

bool needs_rf64(const Settings& s)
{
    return size_without_ds64(s) - 8 + data_size(s) > kRiffLimit;
}

std::size_t header_size(const Settings& s)
{
    return size_without_ds64(s) + (needs_rf64(s) ? 8 + 28 : 0);
}

std::uint64_t file_size(const Settings& s)
{
    return header_size(s) + data_size(s);
}

void serialise_header(const Settings& s, unsigned char* out)
{
    const bool rf64 = needs_rf64(s);
    const std::uint64_t riff = file_size(s) - 8;
    const std::uint64_t data = data_size(s);
    unsigned char* p = out;
    put_id(p, rf64 ? "RF64" : "RIFF");
    put(p, rf64 ? kSizeInDs64 : riff, 4);
    put_id(p, "WAVE");
    if (rf64) {
        put_id(p, "ds64");
        put(p, 28, 4);
        put(p, riff, 8);
        put(p, data, 8);
        put(p, sample_count(s), 8);
        put(p, 0, 4);  // no table of other chunk sizes
    }
    put_id(p, "fmt ");
    put(p, fmt_size(s), 4);
    put(p, extensible(s) ? 0xFFFE : 1, 2);
    put(p, static_cast<std::uint64_t>(s.channels), 2);
    put(p, static_cast<std::uint64_t>(s.rate), 4);
    put(p, static_cast<std::uint64_t>(s.rate) * frame_bytes(s), 4);
    put(p, frame_bytes(s), 2);
    put(p, 8 * kBytes, 2);
    if (extensible(s)) {
        put(p, 22, 2);
        put(p, 8 * kBytes, 2);
        // The first N speaker positions, in the order WAVE lists them.
        put(p, (std::uint64_t{1} << s.channels) - 1, 4);
        std::memcpy(p, kPcmSubformat, sizeof kPcmSubformat);
        p += sizeof kPcmSubformat;
    }
    put_id(p, "data");
    put(p, rf64 ? kSizeInDs64 : data, 4);
}

std::size_t block_bytes(int channels)
{
    const auto frame = static_cast<std::size_t>(kBytes * channels);
    return kBlockBytes - kBlockBytes % frame;
}

int generate(const Settings& s, Block_Buffer& buffer, Output& out)
{
    const int status = run(s, buffer, out);
    const int closed = out.close();
    return status == kOk ? closed : status;
}

}  // namespace kova::full
