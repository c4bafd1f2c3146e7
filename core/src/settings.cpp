#include "kova/settings.h"

namespace kova {

const Rate_Choice kRates[kRateCount] = {
    {"44.1 kHz", 44100}, {"48 kHz", 48000},     {"88.2 kHz", 88200},
    {"96 kHz", 96000},   {"176.4 kHz", 176400}, {"192 kHz", 192000},
};

const Duration_Choice kDurations[kDurationCount] = {
    {"1 Second", 1}, {"10 Seconds", 10}, {"1 Minute", 60}, {"10 Minutes", 600}, {"1 Hour", 3600},
};

void select_sample_rate(Wav_Data& wav, long long index)
{
    if (index >= 0 && static_cast<unsigned long long>(index) < kRateCount)
        wav.Format.dwSamplesPerSec = kRates[index].rate;
}

void select_duration(Wav_Data& wav, long long index)
{
    if (index >= 0 && static_cast<unsigned long long>(index) < kDurationCount)
        wav.iDuration = kDurations[index].seconds;
}

void set_defaults(Wav_Data& wav)
{
    wav.Format.dwSamplesPerSec = kDefaultRate;
    wav.iDuration = kDefaultDuration;
}

}  // namespace kova
