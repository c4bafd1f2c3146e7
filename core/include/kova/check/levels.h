#pragma once

// Which simple change turns the three words into the levels a capture holds:
// a flipped sign, a gain, a constant offset, or some mix of them.

namespace kova::check {

struct Levels {
    double mean[3];    // the average capture value at each word, in 24-bit steps
    double spread[3];  // largest - smallest value at each word
};

struct Change {
    bool fits = false;  // false: no such change explains the levels (altered)
    bool inverted = false;
    bool gain = false;
    bool offset = false;
    double factor = 1.0;  // capture = word * factor + offset_steps
    double offset_steps = 0.0;
};

// quantum: the capture's own resolution in 24-bit steps; a level may differ
// from the changed word by that much, since the chain rounds to it.
Change explain_levels(const Levels& levels, double quantum);

}  // namespace kova::check
