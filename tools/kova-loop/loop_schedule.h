#pragma once

// What kova-loop plays, in output frames:
//
//   0.5 s of silence     the chain wakes up and locks onto the stream
//   the pattern          on every output at once, for the duration asked:
//                        what is judged, and what the latency is read from
//   0.25 s of silence
//   the channel map      for each output in turn, 0.2 s of the pattern on it
//                        alone, then 0.1 s of silence
//
// With the full signal the run is that signal, each output its own channel
// of it, and no map follows: each input's report names its source channel.
//
// The map comes after the run rather than before it, so that the run is
// judged from the stream's first frame like any recording, and a chain that
// is slow to start costs the lead-in, not the map. Every boundary falls on
// a whole number of cycles at every rate (a multiple of 0.05 s).

#include <cstdint>

namespace kova::loop {

struct Loop_Schedule {
    Loop_Schedule(long rate, int seconds, int outputs, bool full = false);

    long rate;
    int seconds;
    int outputs;
    bool full;              // the full signal
    int turns;              // outputs in the map: none for the full signal
    std::uint64_t lead_in;  // silence before the run
    std::uint64_t run;      // the pattern on every output
    std::uint64_t gap;      // silence after it
    std::uint64_t burst;    // one output's turn in the map
    std::uint64_t slot;     // a turn and the silence after it

    std::uint64_t run_start() const { return lead_in; }
    std::uint64_t run_end() const { return lead_in + run; }
    // Output k's turn, from 0.
    std::uint64_t burst_start(int k) const { return run_end() + gap + static_cast<std::uint64_t>(k) * slot; }
    // Everything has been sent.
    std::uint64_t end() const { return burst_start(turns); }
};

}  // namespace kova::loop
