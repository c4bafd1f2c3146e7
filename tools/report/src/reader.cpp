#include "kova/report/reader.h"

#include <algorithm>
#include <memory>

#include "kova/analysis/capture_analyser.h"
#include "kova/report/source.h"

namespace kova::report {
namespace {

// Bytes read at a time, whatever the layout: large enough that reading
// costs no more than the reading itself, small enough to stay in the cache
// the analysis goes over it in; each page of it is faulted in once, which a
// short file feels.
constexpr std::size_t kBlockBytes = 256 * 1024;

}  // namespace

Result<Capture> read_capture(const std::string& path, const std::function<void(double)>& on_progress,
                             analysis::Event_Sink* events)
{
    auto opened = open_source(path);
    if (!opened)
        return opened.error();
    Source& source = **opened;
    Capture c;
    const Source_Format& f = source.format();
    c.format.container = f.container;
    c.format.sample_format = sample_format_name(f.sample);
    c.format.rate = f.rate;
    c.format.channels = f.channels;

    // The analysis takes the frames as the source holds them, and decodes
    // them itself: nothing on the way can round a sample.
    analysis::Capture_Analyser analyser(f.rate, f.channels, f.sample, events);
    const std::size_t block = std::max<std::size_t>(1, kBlockBytes / frame_bytes(f));
    // Aligned for 8-byte values; not cleared, the source writes what is read.
    std::unique_ptr<std::uint64_t[]> buffer(new std::uint64_t[(block * frame_bytes(f) + 7) / 8]);
    auto* bytes = reinterpret_cast<unsigned char*>(buffer.get());
    std::uint64_t frames = 0;
    for (;;) {
        const auto n = source.read(bytes, block);
        if (!n)
            return n.error();
        if (*n == 0)
            break;
        analyser.feed(bytes, *n);
        frames += *n;
        if (on_progress && f.frames != 0)
            on_progress(static_cast<double>(frames) / static_cast<double>(f.frames));
    }
    c.format.frames = frames;
    c.channels = analyser.finish();
    return c;
}

}  // namespace kova::report
