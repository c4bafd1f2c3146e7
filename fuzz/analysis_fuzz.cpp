// The analysis fed arbitrary samples. The input's first bytes choose a rate,
// a channel count, a sample format and a split into blocks; the rest are the
// frames. They are fed once in one call and once in those blocks, and the
// two must report the same to the last bit and tell the same findings: the
// analysis promises not to depend on where a block ends. Midway, the report
// so far must be the same whether the frames up to there came in one call or
// in the blocks.
//
// Input: rate, channels, layout, bits, block count k, k block sizes in frames
// (16-bit little-endian), then the frames. scripts/fuzz-corpus.sh writes it.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kova/analysis/capture_analyser.h"
#include "report_compare.h"

namespace {

using kova::analysis::Capture_Analyser;
using kova::analysis::Encoding;
using kova::analysis::Event;
using kova::analysis::Event_Sink;
using kova::analysis::Sample_Format;

constexpr long kRates[] = {44100, 48000, 88200, 96000, 176400, 192000};
// Rates a file may declare although the pattern is never made at them. A few
// fixed ones: the analysis keeps tables per rate for the life of the process.
constexpr long kOddRates[] = {1,     3,     100,   8000,  11025,  14700,  16000,  22050,
                              32000, 44101, 47999, 64000, 352800, 384000, 768000, 2822400};

struct Layout {
    Encoding encoding;
    int bytes;
};
// Every width of every encoding the format describes, in either byte order.
constexpr Layout kLayouts[] = {
    {Encoding::signed_int, 1},   {Encoding::signed_int, 2},   {Encoding::signed_int, 3},
    {Encoding::signed_int, 4},   {Encoding::unsigned_int, 1}, {Encoding::unsigned_int, 2},
    {Encoding::unsigned_int, 3}, {Encoding::unsigned_int, 4}, {Encoding::ieee_float, 4},
    {Encoding::ieee_float, 8},
};

constexpr std::size_t kFixedHead = 5;

struct Case {
    long rate = 0;
    int channels = 0;
    Sample_Format format;
    std::vector<std::size_t> blocks;  // frames per call, over and over
    std::size_t frame_bytes = 0;
    std::size_t count = 0;              // frames
    std::vector<std::uint64_t> frames;  // aligned for 8-byte values, as a reader hands them over

    const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(frames.data()); }

    std::string describe() const
    {
        static const char* const kNames[] = {"signed", "unsigned", "float"};
        std::string s = "rate " + std::to_string(rate) + ", " + std::to_string(channels) + " ch, " +
                        kNames[static_cast<int>(format.encoding)] + " " + std::to_string(format.bytes) +
                        " bytes " + std::to_string(format.bits) + " bits " +
                        (format.big_endian ? "BE" : "LE") + ", " + std::to_string(count) + " frames, blocks";
        for (const auto b : blocks) s += " " + std::to_string(b);
        return s;
    }
};

bool parse(const std::uint8_t* data, std::size_t size, Case& c)
{
    if (size < kFixedHead)
        return false;
    // The six rates most of the time, an odd one now and then.
    c.rate = data[0] < 224 ? kRates[data[0] % 6] : kOddRates[(data[0] - 224) % 16];
    c.channels = 1 + data[1] % 8;
    const Layout& layout = kLayouts[(data[2] & 0x7F) % (sizeof kLayouts / sizeof kLayouts[0])];
    c.format.encoding = layout.encoding;
    c.format.bytes = layout.bytes;
    c.format.big_endian = (data[2] & 0x80) != 0;
    // Integers: any number of significant bits, all of them when the byte is 0.
    const int width = 8 * layout.bytes;
    c.format.bits = layout.encoding == Encoding::ieee_float ? width : width - data[3] % width;
    const std::size_t k = 1 + data[4] % 16;
    if (size < kFixedHead + 2 * k)
        return false;
    for (std::size_t i = 0; i < k; ++i)
        c.blocks.push_back(data[kFixedHead + 2 * i] | static_cast<std::size_t>(data[kFixedHead + 2 * i + 1])
                                                          << 8);

    const std::size_t head = kFixedHead + 2 * k;
    c.frame_bytes = static_cast<std::size_t>(c.channels) * static_cast<std::size_t>(c.format.bytes);
    c.count = (size - head) / c.frame_bytes;
    c.frames.resize((c.count * c.frame_bytes + 7) / 8);
    if (c.count > 0)
        std::memcpy(c.frames.data(), data + head, c.count * c.frame_bytes);
    // Blocks of no frames are fed as such, but something must move the
    // capture on.
    bool moves = false;
    for (const auto b : c.blocks) moves = moves || b > 0;
    if (!moves)
        c.blocks.push_back(c.count);
    return true;
}

class Recorder : public Event_Sink {
public:
    void on_event(const Event& event) override { events.push_back(event); }
    std::vector<Event> events;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Case c;
    if (!parse(data, size, c))
        return -1;  // not kept in the corpus
    const std::string fed = c.describe();

    Recorder whole_events;
    Capture_Analyser whole(c.rate, c.channels, c.format, &whole_events);
    whole.feed(c.data(), c.count);
    const auto whole_reports = whole.finish();

    Recorder split_events;
    Capture_Analyser split(c.rate, c.channels, c.format, &split_events);
    std::size_t done = 0;
    bool midway_seen = c.count == 0;
    for (std::size_t i = 0; done < c.count; ++i) {
        const std::size_t n = std::min(c.blocks[i % c.blocks.size()], c.count - done);
        split.feed(c.data() + done * c.frame_bytes, n);
        done += n;
        if (!midway_seen && done * 2 >= c.count) {
            midway_seen = true;
            // The same frames fed in one call.
            Capture_Analyser cut(c.rate, c.channels, c.format);
            cut.feed(c.data(), done);
            kova::fuzz::Report_Compare("so far in one call", "so far in blocks",
                                       fed + "; so far at " + std::to_string(done) + " frames")
                .reports(cut.so_far(), split.so_far());
        }
    }
    const auto split_reports = split.finish();

    kova::fuzz::Report_Compare compare("one call", "in blocks", fed);
    compare.reports(whole_reports, split_reports);
    compare.events(whole_events.events, split_events.events);
    return 0;
}
