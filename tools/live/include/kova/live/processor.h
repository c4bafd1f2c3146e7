#pragma once

// What a stream of any host API exchanges with the code that makes and takes
// the samples: blocks of interleaved float32 samples, on the audio thread.

namespace kova::live {

// One callback's worth of samples, interleaved. in is null on an output
// stream, out on an input stream.
struct Block {
    const float* in;
    int in_channels;
    float* out;
    int out_channels;
    unsigned long frames;
    unsigned gaps;  // Processor::kInputGap, kOutputGap
};

// Runs on the audio thread: must neither allocate nor block.
class Processor {
public:
    static constexpr unsigned kInputGap = 1;   // the host dropped or padded captured samples
    static constexpr unsigned kOutputGap = 2;  // the host played a gap or dropped samples sent

    virtual ~Processor() = default;
    // Fills block.out, reads block.in. False ends the stream once out has
    // been played.
    virtual bool process(const Block& block) noexcept = 0;
};

}  // namespace kova::live
