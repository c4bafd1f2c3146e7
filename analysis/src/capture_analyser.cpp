#include "kova/analysis/capture_analyser.h"

#include <algorithm>
#include <cstring>

#include "decode.h"
#include "tracker.h"

namespace kova::analysis {
namespace {

// Frames compared in one go while every channel holds its table.
constexpr std::size_t kCompareFrames = 4096;

int lcm(int a, int b)
{
    int x = a, y = b;
    while (y != 0) {
        const int t = x % y;
        x = y;
        y = t;
    }
    return a / x * b;
}

}  // namespace

Capture_Analyser::Capture_Analyser(long rate, int channels, const Sample_Format& format, Event_Sink* sink)
    : rate_(rate),
      channels_(channels),
      format_(format),
      frame_bytes_(static_cast<std::size_t>(channels) * static_cast<std::size_t>(format.bytes))
{
    for (int ch = 0; ch < channels; ++ch)
        trackers_.push_back(std::make_unique<detail::Tracker>(rate, format, ch, sink));
}

Capture_Analyser::~Capture_Analyser() = default;

void Capture_Analyser::feed(const void* frames, std::size_t count)
{
    const auto* data = static_cast<const unsigned char*>(frames);
    while (count > 0) {
        // While every channel holds a table, the frames are compared as they
        // lie, all channels at once.
        std::size_t matched = 0;
        std::vector<int> phases(static_cast<std::size_t>(channels_));
        std::vector<const detail::Raw_Table*> tables(static_cast<std::size_t>(channels_));
        bool all = true;
        int period = 1;
        for (int ch = 0; ch < channels_ && all; ++ch) {
            tables[static_cast<std::size_t>(ch)] = trackers_[static_cast<std::size_t>(ch)]->expected(phases[static_cast<std::size_t>(ch)]);
            all = tables[static_cast<std::size_t>(ch)] != nullptr;
            if (all)
                period = lcm(period, tables[static_cast<std::size_t>(ch)]->period);
        }
        if (all) {
            if (channels_ == 1) {
                const detail::Raw_Table& t = *tables[0];
                matched = detail::match_run(t, phases[0], {data, frame_bytes_}, count);
            } else {
                // Lay out `period` frames from the channels' current phases,
                // repeated to fill a compare block.
                const std::size_t block_bytes = (kCompareFrames + static_cast<std::size_t>(period)) * frame_bytes_;
                expected_.resize(block_bytes);
                for (std::size_t f = 0; f < kCompareFrames + static_cast<std::size_t>(period); ++f)
                    for (int ch = 0; ch < channels_; ++ch) {
                        const auto& t = *tables[static_cast<std::size_t>(ch)];
                        const int p = static_cast<int>((static_cast<std::size_t>(phases[static_cast<std::size_t>(ch)]) + f) %
                                                       static_cast<std::size_t>(t.period));
                        std::memcpy(expected_.data() + f * frame_bytes_ + static_cast<std::size_t>(ch) * static_cast<std::size_t>(format_.bytes),
                                    t.value[p], static_cast<std::size_t>(format_.bytes));
                    }
                // Whole blocks of kCompareFrames (a multiple of every period)
                // keep the phases; the block that differs is narrowed down.
                while (matched < count) {
                    const std::size_t n = std::min(count - matched, kCompareFrames);
                    if (std::memcmp(data + matched * frame_bytes_, expected_.data(), n * frame_bytes_) != 0) {
                        std::size_t f = 0;
                        while (f < n && std::memcmp(data + (matched + f) * frame_bytes_,
                                                    expected_.data() + f * frame_bytes_, frame_bytes_) == 0)
                            ++f;
                        matched += f;
                        break;
                    }
                    matched += n;
                }
            }
            if (matched > 0)
                for (auto& t : trackers_)
                    t->take_expected(matched);
            data += matched * frame_bytes_;
            count -= matched;
            frames_ += matched;
            if (count == 0)
                return;
        }
        // Then a stretch channel by channel, as far as a block.
        const std::size_t n = std::min(count, detail::Tracker::kBlock);
        feed_each(data, n);
        data += n * frame_bytes_;
        count -= n;
        frames_ += n;
    }
}

void Capture_Analyser::feed_each(const unsigned char* data, std::size_t count)
{
    for (int ch = 0; ch < channels_; ++ch) {
        auto& t = *trackers_[static_cast<std::size_t>(ch)];
        const unsigned char* first = data + static_cast<std::size_t>(ch) * static_cast<std::size_t>(format_.bytes);
        // A channel that holds its table takes what it can as it lies.
        std::size_t done = 0;
        while (done < count) {
            int phase = 0;
            if (const auto* table = t.expected(phase)) {
                const std::size_t run =
                    detail::match_run(*table, phase, {first + done * frame_bytes_, frame_bytes_}, count - done);
                t.take_expected(run);
                done += run;
                if (done == count)
                    break;
            }
            // One sample at least, then back to the table if there is one.
            std::size_t n = 1;
            int dummy = 0;
            if (!t.expected(dummy)) {
                n = count - done;
            }
            t.feed({first + done * frame_bytes_, frame_bytes_}, n);
            done += n;
        }
    }
}

std::vector<Channel_Report> Capture_Analyser::finish()
{
    std::vector<Channel_Report> reports;
    for (auto& t : trackers_)
        reports.push_back(t->finish());
    return reports;
}

}  // namespace kova::analysis
