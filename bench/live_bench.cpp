// The live analysis's cost: a file kova-gen wrote, made into the float
// frames a sound device would hand over and pushed through the capture ring
// as fast as the analysis takes them, by a thread standing in for the audio
// callback; drained and judged by the same thread and analysis kova-check
// --listen uses (a report once per second of audio included). Prints the
// analysis thread's CPU time per second of audio, and the peak memory.
//
//   kova_live_bench FILE.wav CHANNELS exact|gain|noise
//
// FILE is the pattern (its one channel on every channel) or the full
// signal (kova-gen -s full -c CHANNELS: each channel its own).
//
// exact: the words as sent; gain: halved, a volume control (compared as it
// lies, like exact); noise: one step of noise on every sample, which makes
// the analysis summarise every block instead: the slowest path a live chain
// is likely to take.

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kova/live/capture.h"
#include "kova/live/drain_thread.h"
#include "kova/live/samples.h"
#include "listen_judge.h"

namespace {

constexpr std::size_t kCallbackFrames = 1024;  // what a host hands over at a time
constexpr long kRingSeconds = 2;               // as kova-check --listen

struct Source {
    std::FILE* file = nullptr;
    long rate = 0;
    int channels = 0;
    std::uint64_t frames = 0;
};

std::uint32_t le(const unsigned char* p, int n)
{
    std::uint32_t v = 0;
    for (int k = n - 1; k >= 0; --k) v = v << 8 | p[k];
    return v;
}

// A 24-bit WAV kova-gen wrote (the pattern, or the full signal of up to 8
// channels, whose fmt chunk may be the extensible one): its chunks walked
// to the data.
bool open_wav(const char* path, Source& s)
{
    unsigned char h[12];
    s.file = std::fopen(path, "rb");
    if (!s.file || std::fread(h, 1, 12, s.file) != 12 || std::memcmp(h, "RIFF", 4) != 0)
        return false;
    unsigned char chunk[8], fmt[16];
    while (std::fread(chunk, 1, 8, s.file) == 8) {
        const std::uint32_t size = le(chunk + 4, 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            s.frames = s.channels > 0 ? size / (3 * static_cast<std::uint32_t>(s.channels)) : 0;
            return s.frames > 0;
        }
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16 || std::fread(fmt, 1, 16, s.file) != 16 || le(fmt + 14, 2) != 24)
                return false;
            s.channels = static_cast<int>(le(fmt + 2, 2));
            s.rate = static_cast<long>(le(fmt + 4, 4));
            if (std::fseek(s.file, static_cast<long>(size - 16 + (size & 1)), SEEK_CUR) != 0)
                return false;
        } else if (std::fseek(s.file, static_cast<long>(size + (size & 1)), SEEK_CUR) != 0) {
            return false;
        }
    }
    return false;
}

// Stands in for the audio callback: a block at a time, waiting for room
// where a real callback would have lost it.
void produce(Source& s, kova::live::Capture& capture, int channels, const std::string& kind)
{
    const auto file_channels = static_cast<std::size_t>(s.channels);
    std::vector<unsigned char> raw(kCallbackFrames * 3 * file_channels);
    std::vector<float> frames(kCallbackFrames * static_cast<std::size_t>(channels));
    std::uint32_t noise = 12345;
    std::size_t n;
    while ((n = std::fread(raw.data(), 3 * file_channels, kCallbackFrames, s.file)) > 0) {
        for (std::size_t i = 0; i < n; ++i) {
            for (int c = 0; c < channels; ++c) {
                // Each channel its own where the file has as many (the full
                // signal); else the file's one channel on every one.
                const std::size_t at =
                    3 * (i * file_channels + (file_channels > 1 ? static_cast<std::size_t>(c) : 0));
                std::int32_t w = raw[at] | raw[at + 1] << 8 | raw[at + 2] << 16;
                if (w & 0x800000)
                    w -= 0x1000000;
                if (kind == "gain")
                    w /= 2;
                if (kind == "noise") {
                    noise = noise * 1664525u + 1013904223u;
                    w += static_cast<std::int32_t>(noise >> 30) - 1;  // -1, 0, 1 or 2 steps
                }
                frames[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                    kova::live::word_to_sample(w);
            }
        }
        while (capture.room() < n) std::this_thread::yield();
        capture.process({frames.data(), channels, nullptr, 0, n, 0});
    }
}

}  // namespace

int main(int argc, char** argv)
{
    Source s;
    if (argc != 4 || !open_wav(argv[1], s)) {
        std::fprintf(stderr,
                     "usage: kova_live_bench FILE.wav CHANNELS exact|gain|noise (a file kova-gen wrote)\n");
        return 2;
    }
    const int channels = std::atoi(argv[2]);
    const std::string kind = argv[3];
    if (s.channels > 1 && s.channels != channels) {
        std::fprintf(stderr, "kova_live_bench: a file of %d channels is played on as many\n", s.channels);
        return 2;
    }

    kova::live::Capture capture(channels, static_cast<std::size_t>(s.rate * kRingSeconds));
    kova::check::Listen_Judge judge(s.rate, channels, std::nullopt, nullptr);
    kova::live::Drain_Thread drain(capture, judge);
    const auto start = std::chrono::steady_clock::now();
    drain.start();
    std::atomic<bool> produced{false};
    std::thread producer([&] {
        produce(s, capture, channels, kind);
        produced.store(true, std::memory_order_release);
    });
    // The main thread takes the news as kova-check's does, now and then,
    // until the last block has gone in; the drain's stop then takes what
    // the capture held back (its last blocks, as a stream's end does).
    while (!produced.load(std::memory_order_acquire)) {
        judge.news();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    producer.join();
    drain.stop();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto reports = judge.finish();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double audio = static_cast<double>(s.frames) / static_cast<double>(s.rate);
    const double per_second = drain.cpu_seconds() / audio;
    std::string verdicts;
    for (const auto& r : reports)
        for (const auto& v : kova::analysis::verdict_names(r)) verdicts += (verdicts.empty() ? "" : " ") + v;
    std::printf(
        "%ld Hz, %d ch, %.0f s of audio, %s: analysis thread %.3f s CPU = %.2f ms per second of audio "
        "(%.2f %% of one core); wall %.2f s; peak RSS %ld kB; lost %zu frames; verdicts: %s\n",
        s.rate, channels, audio, kind.c_str(), drain.cpu_seconds(), per_second * 1000, per_second * 100, wall,
        usage.ru_maxrss, capture.overrun_frames(), verdicts.c_str());
    std::fclose(s.file);
    return capture.overrun_frames() == 0 ? 0 : 1;
}
