#pragma once

// The two choices a user makes: sample rate and duration, each picked from a
// fixed list by index, as the list controls report it.

#include <cstddef>

#include "kova/wav_data.h"

namespace kova {

struct Rate_Choice {
    const char* label;
    long rate;
};

struct Duration_Choice {
    const char* label;
    int seconds;
};

constexpr std::size_t kRateCount = 6;
constexpr std::size_t kDurationCount = 5;

extern const Rate_Choice kRates[kRateCount];
extern const Duration_Choice kDurations[kDurationCount];

constexpr long kDefaultRate = 44100;
constexpr int kDefaultDuration = 1;

// An index outside the list, such as the -1 a list control reports when
// nothing is selected, leaves the stored value as it was.
void select_sample_rate(Wav_Data& wav, long long index);
void select_duration(Wav_Data& wav, long long index);

// Stores 44100 Hz and 1 s, the values the lists show at index 0.
void set_defaults(Wav_Data& wav);

}  // namespace kova
