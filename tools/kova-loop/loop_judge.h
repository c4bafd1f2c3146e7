#pragma once

// The capturing side of kova-loop: the run judged by the same analysis as a
// file, from the capture's first frame until just after the run ends, and
// then each output's turn in the map looked for on every input, each in a
// window of its own placed from where the run ended.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "kova/analysis/capture_analyser.h"
#include "kova/live/drain_thread.h"
#include "loop_schedule.h"

namespace kova::loop {

class Loop_Judge : public live::Drain_Thread::Consumer, private analysis::Event_Sink {
public:
    Loop_Judge(const Loop_Schedule& schedule, int inputs);

    void take(const float* frames, std::size_t count, std::uint64_t at) override;

    // The map's last window has gone by, or nothing came back in time.
    bool done() const { return done_.load(std::memory_order_acquire); }

    // Once the drain has stopped (done or not):
    // the run's reports, over the frames the run was judged on;
    std::vector<analysis::Channel_Report> run_reports();
    std::uint64_t run_frames() const { return run_frames_; }
    // for each input, the outputs whose turn arrived on it, from 0; none
    // when the map was not measured to its end (the run stopped before).
    std::optional<std::vector<std::vector<int>>> map() const;

private:
    void on_event(const analysis::Event& event) override;
    void end_run();
    void take_window(const float* frames, std::size_t count, std::uint64_t at);

    Loop_Schedule schedule_;
    int inputs_;
    analysis::Capture_Analyser run_;
    std::optional<std::uint64_t> found_;  // where the run was first found, on any input
    std::uint64_t cut_;                   // where the run is no longer fed
    bool run_ended_ = false;
    std::vector<analysis::Channel_Report> run_reports_;
    std::uint64_t run_frames_ = 0;

    // The map: window k spans [windows_at_ + k * slot, + burst + 2 * margin).
    std::uint64_t windows_at_ = 0;
    std::uint64_t margin_;
    int window_ = 0;  // the one being fed
    std::unique_ptr<analysis::Capture_Analyser> window_analyser_;
    std::vector<std::vector<int>> map_;
    std::atomic<bool> done_{false};
};

}  // namespace kova::loop
