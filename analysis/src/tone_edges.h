#pragma once

// Where a resampler's tone holds against the samples the history keeps:
// chunk by chunk, and to the sample at its ends, with the ringing a
// resampler leaves around them.

#include <cstddef>
#include <cstdint>

#include "history.h"
#include "tone.h"

namespace kova::analysis::detail {

class Tone_Edges {
public:
    // scratch: room for the longest run asked about.
    Tone_Edges(const History& history, long rate, double* scratch)
        : history_(history), rate_(rate), scratch_(scratch)
    {
    }

    // The tone refitted to [from, from + n) is still most of what is there,
    // at about its size.
    bool holds(const Tone_Fit& tone, std::uint64_t from, std::size_t n) const;
    // The first sample of a tone that holds from chunk s on, no earlier
    // than limit.
    std::uint64_t start(const Tone_Fit& tone, std::uint64_t s, std::uint64_t limit) const;
    // One past the last sample of a tone that held up to chunk end e, no
    // earlier than floor.
    std::uint64_t end(const Tone_Fit& tone, std::uint64_t e, std::uint64_t floor) const;

private:
    double difference(const Tone_Fit& tone, std::uint64_t i, double other) const;

    const History& history_;
    long rate_;
    double* scratch_;
};

}  // namespace kova::analysis::detail
