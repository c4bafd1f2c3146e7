#pragma once

// Follows the pattern through every channel of a capture, fed block by
// block as the samples lie (interleaved frames), in memory that does not
// grow with the capture's length. Findings are told as they are made to an
// event sink, if one is given; the report comes at the end. The full signal
// is looked for alongside: once a channel carries it, the capture is judged
// as the full signal's (full_analyser.h).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "kova/analysis/channel_report.h"
#include "kova/analysis/events.h"
#include "kova/analysis/sample_format.h"

namespace kova::analysis {

namespace detail {
class Tracker;
class Full_Analyser;
struct Raw_Table;
}  // namespace detail

class Capture_Analyser {
public:
    Capture_Analyser(long rate, int channels, const Sample_Format& format, Event_Sink* sink = nullptr);
    ~Capture_Analyser();
    Capture_Analyser(const Capture_Analyser&) = delete;
    Capture_Analyser& operator=(const Capture_Analyser&) = delete;

    // `frames` whole frames of interleaved samples in the format given.
    void feed(const void* frames, std::size_t count);

    // The report for each channel; the analyser is spent.
    std::vector<Channel_Report> finish();
    // The reports as they would stand if the capture ended now (for a live
    // input's status); the analysis goes on.
    std::vector<Channel_Report> so_far() const;

    std::uint64_t frames() const { return frames_; }

private:
    void feed_each(const unsigned char* data, std::size_t count);
    std::size_t match_frames(const std::vector<const detail::Raw_Table*>& tables,
                             const std::vector<int>& phases, const unsigned char* data, std::size_t count);

    // The full signal's findings, held until the pattern's analysis has
    // taken the same frames and told its own: they then follow the pattern's
    // in the same order however the frames came.
    struct Held_Events : Event_Sink {
        Event_Sink* sink = nullptr;
        std::vector<Event> events;
        void on_event(const Event& event) override { events.push_back(event); }
        void pass_on();
    };

    int channels_;
    Sample_Format format_;
    Held_Events full_events_;
    std::size_t frame_bytes_;
    std::vector<std::unique_ptr<detail::Tracker>> trackers_;
    std::unique_ptr<detail::Full_Analyser> full_;
    std::uint64_t frames_ = 0;
    // The frames every channel's table expects, laid out as they would lie.
    std::vector<unsigned char> expected_;
    std::vector<detail::Raw_Table> layout_tables_;
    std::vector<int> layout_phases_;
    int layout_period_ = 0;
};

}  // namespace kova::analysis
