#pragma once

// The listening side of kova-check: the capture, as the drain thread hands it
// over, fed to the same analysis as a file and, if asked, saved. The main
// thread, which talks to the user, takes the findings from here in turn:
// the events as they were made, and the report as it stands, made once per
// second of audio.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "kova/analysis/capture_analyser.h"
#include "kova/cli/error.h"
#include "kova/live/drain_thread.h"
#include "wav_writer.h"

namespace kova::check {

class Listen_Judge : public live::Drain_Thread::Consumer, private analysis::Event_Sink {
public:
    // expected_seconds: the duration the pattern should last, if known; else
    // any of the five. save, if given, is written as the frames come and
    // must outlive the drain.
    Listen_Judge(long rate, int channels, std::optional<int> expected_seconds, Wav_Writer* save);

    void take(const float* frames, std::size_t count, std::uint64_t at) override;

    // What has happened since the last call; for the main thread.
    struct News {
        std::vector<analysis::Event> events;
        std::optional<std::vector<analysis::Channel_Report>> so_far;  // only when a newer one was made
        std::uint64_t frames = 0;                                     // of the capture, when so_far was made
    };
    News news();

    // The pattern came and went: every channel that carried it has been
    // without it for a second, after a span as long as a whole run.
    bool pattern_ended() const;
    // Set when saving failed; the saving stopped there, the analysis did not.
    std::optional<cli::Error> save_error() const;

    // Once the drain has stopped: the reports for the capture as taken.
    std::vector<analysis::Channel_Report> finish();

private:
    void on_event(const analysis::Event& event) override;  // from within feed, on the drain thread
    // reports: as they stand after `frames` frames.
    bool ended(const std::vector<analysis::Channel_Report>& reports, std::uint64_t frames) const;

    long rate_;
    std::optional<int> expected_seconds_;
    Wav_Writer* save_;
    analysis::Capture_Analyser analyser_;
    std::uint64_t next_report_;

    mutable std::mutex mutex_;  // guards what follows
    std::vector<analysis::Event> events_;
    std::optional<std::vector<analysis::Channel_Report>> so_far_;
    std::uint64_t so_far_frames_ = 0;
    bool ended_ = false;
    std::optional<cli::Error> save_error_;
};

}  // namespace kova::check
