#pragma once

// Where a family's cycle divides the capture's rate, the pattern a
// resampler left is a cycle too: the staircase of words, or the
// band-limited tone. Told apart here, before the span is judged.

#include "tone.h"
#include "word_model.h"

namespace kova::analysis::detail {

// The fundamental (14700 or 16000) whose cycle of this many samples is
// the rate; 0 where neither's is.
long family_of(int cycle, long rate);

enum class Band { staircase, tone, unsure };
// quantum: the capture's resolution, in 24-bit steps.
Band band_of(const Word_Model& words, long rate, double quantum);

// A tone that drifts less than this keeps the capture's time.
bool keeps_time(const Tone_Fit& tone);

// What a tone found where its family's cycle divides the rate must show to
// be taken as one: anything, a drift, or a drift or the harmonics of
// another rate.
enum class Tone_Need { any, drift, apart };
bool shows(const Tone_Fit& tone, Tone_Need need, long rate);

}  // namespace kova::analysis::detail
