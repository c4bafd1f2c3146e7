#pragma once

// What the analysis finds, told as it finds it, in the order of the samples:
// for a live input, where the report comes only at the end.

#include <cstdint>

namespace kova::analysis {

struct Event {
    enum class Kind {
        locked,        // the span begins: the pattern found at `position`
        level_change,  // the chain changed what it does to the words from `position`
        dropout,       // the cycle broke at `position` and resumed
        lost,          // no pattern from `position` on (so far)
        resampled,     // the pattern arrived through a resampler or another clock
    };
    Kind kind = Kind::locked;
    int channel = 0;  // from 0
    std::uint64_t position = 0;
    int repeat = 0;
    bool exact = false;  // locked or changed to the exact words
    double gain_factor = 1.0;
    double offset_steps = 0.0;
    std::uint64_t foreign = 0;  // dropout
    long long skipped = 0;      // dropout, modulo the cycle
    long family_hz = 0;         // resampled
    // The full signal's: a dropout's `skipped` is then exact (played again
    // where negative), and a resampled signal's frequency is its pilot's.
    bool full = false;
};

class Event_Sink {
public:
    virtual ~Event_Sink() = default;
    virtual void on_event(const Event& event) = 0;
};

}  // namespace kova::analysis
