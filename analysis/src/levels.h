#pragma once

// Which simple change turns the three words into the values a capture holds:
// a flipped sign, a gain, a constant offset, or some mix of them, judged on
// the grid the values were rounded to.

namespace kova::analysis::detail {

struct Levels {
    // The capture's values at each word, in 24-bit steps.
    double min[3];
    double max[3];
    double mean[3];
    // The share of each word's values that are exactly the word.
    double exact[3];
};

struct Change {
    bool fits = false;  // false: no such change explains the values (altered)
    bool inverted = false;
    bool gain = false;
    bool offset = false;
    double factor = 1.0;  // capture = word * factor + offset_steps
    double offset_steps = 0.0;
};

// grid: the step the chain rounded to, in 24-bit steps (1 for a 24-bit or
// finer capture). A chain that truncates, rounds or rounds up leaves every
// value less than one step from the changed word, so that is the tolerance:
// a gain is a gain whatever the quantiser did. Where that lets a gain and an
// offset both fit, the one the values lie closer to is taken; where most of
// every word's values are still exactly the word, the level did not change.
Change explain_levels(const Levels& levels, double grid);

}  // namespace kova::analysis::detail
