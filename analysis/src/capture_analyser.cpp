#include "kova/analysis/capture_analyser.h"

#include <algorithm>
#include <cstring>

#include "decode.h"
#include "full_analyser.h"
#include "tracker.h"

namespace kova::analysis {
namespace {

// Frames compared in one go while every channel holds its table: whole
// cycles of every length (1, 3, 6, 12), so that a block leaves the phases
// as they were.
constexpr std::size_t kCompareFrames = 12 * 341;

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
    : channels_(channels),
      format_(format),
      frame_bytes_(static_cast<std::size_t>(channels) * static_cast<std::size_t>(format.bytes))
{
    for (int ch = 0; ch < channels; ++ch)
        trackers_.push_back(std::make_unique<detail::Tracker>(rate, format, ch, sink));
    full_events_.sink = sink;
    full_ = std::make_unique<detail::Full_Analyser>(rate, channels, format, sink ? &full_events_ : nullptr);
}

void Capture_Analyser::Held_Events::pass_on()
{
    for (const auto& e : events) sink->on_event(e);
    events.clear();
}

Capture_Analyser::~Capture_Analyser() = default;

void Capture_Analyser::feed(const void* frames, std::size_t count)
{
    const auto* data = static_cast<const unsigned char*>(frames);
    const auto n_channels = static_cast<std::size_t>(channels_);
    // The full signal's analysis takes this call's blocks as one, and keeps
    // what it may look back at when the call ends, however it ends.
    struct End_Feed {
        detail::Full_Analyser& full;
        Held_Events& events;
        ~End_Feed()
        {
            full.end_feed();
            if (events.sink)
                events.pass_on();
        }
    } end_feed{*full_, full_events_};
    std::vector<int> phases(n_channels);
    std::vector<const detail::Raw_Table*> tables(n_channels);
    while (count > 0) {
        if (full_->claimed()) {
            // The pattern's analysis has nothing more to say: its memory goes.
            trackers_.clear();
            expected_ = {};
            layout_tables_ = {};
            full_->feed(data, count);
            frames_ += count;
            return;
        }
        // While every channel holds a table, the frames are compared as they
        // lie, all channels at once.
        bool all = true;
        for (std::size_t ch = 0; ch < n_channels; ++ch) {
            tables[ch] = trackers_[ch]->expected(phases[ch]);
            all = all && tables[ch] != nullptr;
        }
        if (all) {
            const std::size_t matched =
                n_channels == 1 ? detail::match_run(*tables[0], phases[0], {data, frame_bytes_}, count)
                                : match_frames(tables, phases, data, count);
            if (matched > 0) {
                for (auto& t : trackers_) t->take_expected(matched);
                full_->skip(matched, tables, phases);
            }
            data += matched * frame_bytes_;
            count -= matched;
            frames_ += matched;
            if (count == 0)
                return;
        }
        // Then a stretch channel by channel, as far as a block.
        const std::size_t n = std::min(count, detail::Tracker::kBlock);
        // The pattern's analysis sees no further than where the full
        // signal was found.
        for (std::size_t ch = 0; ch < n_channels; ++ch) full_->set_pattern_held(ch, tables[ch] != nullptr);
        feed_each(data, full_->feed(data, n));
        if (full_events_.sink)
            full_events_.pass_on();
        data += n * frame_bytes_;
        count -= n;
        frames_ += n;
    }
}

std::size_t Capture_Analyser::match_frames(const std::vector<const detail::Raw_Table*>& tables,
                                           const std::vector<int>& phases, const unsigned char* data,
                                           std::size_t count)
{
    const std::size_t n_channels = tables.size();
    const auto bytes = static_cast<std::size_t>(format_.bytes);
    // The frames laid out once for these tables; where in them the current
    // phases fall is found again on each call.
    int period = 1;
    for (const auto* t : tables) period = lcm(period, t->period);
    auto offset_in_layout = [&]() -> int {
        if (layout_tables_.size() != n_channels || layout_period_ != period)
            return -1;
        for (std::size_t ch = 0; ch < n_channels; ++ch)
            if (!(layout_tables_[ch] == *tables[ch]))
                return -1;
        for (int o = 0; o < period; ++o) {
            bool fits = true;
            for (std::size_t ch = 0; ch < n_channels && fits; ++ch)
                fits = (layout_phases_[ch] + o) % tables[ch]->period == phases[ch];
            if (fits)
                return o;
        }
        return -1;
    };
    int offset = offset_in_layout();
    if (offset < 0) {
        layout_tables_.clear();
        for (const auto* t : tables) layout_tables_.push_back(*t);
        layout_phases_ = phases;
        layout_period_ = period;
        const std::size_t frames = kCompareFrames + static_cast<std::size_t>(period);
        expected_.resize(frames * frame_bytes_);
        for (std::size_t f = 0; f < frames; ++f)
            for (std::size_t ch = 0; ch < n_channels; ++ch) {
                const auto& t = *tables[ch];
                const auto p =
                    (static_cast<std::size_t>(phases[ch]) + f) % static_cast<std::size_t>(t.period);
                std::memcpy(expected_.data() + f * frame_bytes_ + ch * bytes, t.value[p], bytes);
            }
        offset = 0;
    }
    const unsigned char* expected = expected_.data() + static_cast<std::size_t>(offset) * frame_bytes_;
    // Whole blocks of kCompareFrames (a multiple of every period) keep the
    // phases; the block that differs is narrowed down.
    std::size_t matched = 0;
    while (matched < count) {
        const std::size_t n = std::min(count - matched, kCompareFrames);
        if (std::memcmp(data + matched * frame_bytes_, expected, n * frame_bytes_) != 0) {
            std::size_t f = 0;
            while (f < n && std::memcmp(data + (matched + f) * frame_bytes_, expected + f * frame_bytes_,
                                        frame_bytes_) == 0)
                ++f;
            return matched + f;
        }
        matched += n;
    }
    return matched;
}

void Capture_Analyser::feed_each(const unsigned char* data, std::size_t count)
{
    for (int ch = 0; ch < channels_; ++ch) {
        auto& t = *trackers_[static_cast<std::size_t>(ch)];
        const unsigned char* first =
            data + static_cast<std::size_t>(ch) * static_cast<std::size_t>(format_.bytes);
        // A channel that holds its table takes what it can as it lies.
        std::size_t done = 0;
        while (done < count) {
            int phase = 0;
            if (const auto* table = t.expected(phase)) {
                const std::size_t run = detail::match_run(
                    *table, phase, {first + done * frame_bytes_, frame_bytes_}, count - done);
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

std::vector<Channel_Report> Capture_Analyser::so_far() const
{
    if (full_->claimed())
        return full_->so_far();
    std::vector<Channel_Report> reports;
    for (const auto& t : trackers_) reports.push_back(t->so_far());
    return reports;
}

std::vector<Channel_Report> Capture_Analyser::finish()
{
    auto full = full_->finish();
    if (full_events_.sink)
        full_events_.pass_on();
    if (full_->claimed() || trackers_.empty())
        return full;
    std::vector<Channel_Report> reports;
    for (auto& t : trackers_) reports.push_back(t->finish());
    return reports;
}

}  // namespace kova::analysis
