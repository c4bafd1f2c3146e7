// Throughput of the pattern fill and of a whole generation with no disk
// behind it: what the generator itself costs on top of the writes.

#include <benchmark/benchmark.h>

#include "kova/generate.h"
#include "kova/pattern.h"
#include "kova/status.h"

namespace {

class Null_Output : public kova::Output {
public:
    std::size_t write(const unsigned char* data, std::size_t size) override
    {
        benchmark::DoNotOptimize(data);
        return size;
    }
    int close() override { return kova::kOk; }
};

void BM_FillBlock(benchmark::State& state)
{
    kova::Wav_Data wav{};
    wav.Format.dwSamplesPerSec = state.range(0);
    kova::set_pattern_words(wav);
    kova::Block_Buffer buffer(kova::kBlockBytes);
    const int cycles = kova::cycles_per_block(wav.Format.dwSamplesPerSec);
    for (auto _ : state) {
        benchmark::DoNotOptimize(kova::fill_block(wav, buffer.data(), cycles));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kova::kBlockBytes);
}
BENCHMARK(BM_FillBlock)->Arg(44100)->Arg(96000)->Arg(192000);

void BM_GenerateToNull(benchmark::State& state)
{
    kova::Wav_Data wav{};
    wav.Format.dwSamplesPerSec = state.range(0);
    wav.iDuration = static_cast<int>(state.range(1));
    kova::Block_Buffer buffer;
    Null_Output out;
    for (auto _ : state) {
        if (kova::generate(wav, buffer, out) != kova::kOk)
            state.SkipWithError("generation failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            (state.range(0) * state.range(1) * 3 + 44));
}
BENCHMARK(BM_GenerateToNull)->Args({48000, 60})->Args({192000, 3600})->Unit(benchmark::kMillisecond);

}  // namespace
