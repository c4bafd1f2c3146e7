#pragma once

// Which simple change turns the three words into the values a capture holds:
// a flipped sign, a gain, a constant offset, or some mix of them.

namespace kova::analysis {

struct Levels {
    // The capture's values at each word, in 24-bit steps.
    double min[3];
    double max[3];
    double mean[3];
};

struct Change {
    bool fits = false;  // false: no such change explains the values (altered)
    bool inverted = false;
    bool gain = false;
    bool offset = false;
    double factor = 1.0;  // capture = word * factor + offset_steps
    double offset_steps = 0.0;
};

// quantum: the capture's own resolution in 24-bit steps. Every value must lie
// within half of it of the changed word, as rounding to it leaves them.
Change explain_levels(const Levels& levels, double quantum);

}  // namespace kova::analysis
