// route_probe: plays the pattern on a device's outputs and records its inputs
// in one full-duplex stream, then says for each channel whether every
// captured sample is exactly the word sent, where the cycle broke, how many
// samples the route added or lost, and the round trip. It decides which
// sound-server route the live tests can trust, so it talks to PortAudio
// directly rather than through the library under test.
//
//   route_probe DEVICE RATE SECONDS [FRAMES_PER_BUFFER [LATENCY_MS [PERIODS]]]
//   route_probe --list
//
// Exit status: 0 exact on every channel, 1 not exact, 2 could not run.

#include <pa_linux_alsa.h>
#include <portaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr float kScale = 1.0f / 8388608.0f;  // 2^-23: word / 2^23 is exact
constexpr int kWords[3] = {0x000600, 0x000A00, 0x000E00};

struct Run {
    int channels = 0;
    long reps = 1;
    long long pattern_frames = 0;  // frames of pattern sent, then silence
    long long total_frames = 0;    // frames the stream runs for
    std::vector<float> captured;   // interleaved, sized before the start
    std::atomic<long long> out_frames{0};
    std::atomic<long long> in_frames{0};
    std::atomic<unsigned long> input_overflows{0}, output_underflows{0};
};

float sent(const Run& run, long long frame)
{
    if (frame >= run.pattern_frames)
        return 0.0f;
    return static_cast<float>(kWords[(frame / run.reps) % 3]) * kScale;
}

int callback(const void* input, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
             PaStreamCallbackFlags flags, void* user)
{
    auto& run = *static_cast<Run*>(user);
    if (flags & (paInputOverflow | paInputUnderflow))
        run.input_overflows.fetch_add(1, std::memory_order_relaxed);
    if (flags & (paOutputUnderflow | paOutputOverflow))
        run.output_underflows.fetch_add(1, std::memory_order_relaxed);

    auto* out = static_cast<float*>(output);
    const long long o = run.out_frames.load(std::memory_order_relaxed);
    for (unsigned long f = 0; f < frames; ++f)
        for (int c = 0; c < run.channels; ++c) *out++ = sent(run, o + static_cast<long long>(f));
    run.out_frames.store(o + static_cast<long long>(frames), std::memory_order_relaxed);

    const long long i = run.in_frames.load(std::memory_order_relaxed);
    const long long room = run.total_frames - i;
    const long long take = std::min<long long>(room, static_cast<long long>(frames));
    if (input && take > 0)
        std::memcpy(&run.captured[static_cast<std::size_t>(i * run.channels)], input,
                    static_cast<std::size_t>(take * run.channels) * sizeof(float));
    run.in_frames.store(i + take, std::memory_order_release);
    return i + take >= run.total_frames ? paComplete : paContinue;
}

int word_index(float value)
{
    for (int w = 0; w < 3; ++w)
        if (value == static_cast<float>(kWords[w]) * kScale)
            return w;
    return -1;
}

// Follows the cycle through one channel's capture. Where a sample is not the
// one expected next, the cycle is picked up again at that sample's word, so
// each break's shift is known only modulo the cycle, as on any periodic
// signal; the region's length against what was sent gives the net count.
bool analyse(const Run& run, int channel, long rate)
{
    const long long n = run.in_frames.load(std::memory_order_acquire);
    auto at = [&](long long f) { return run.captured[static_cast<std::size_t>(f * run.channels + channel)]; };
    long long first = -1, last = -1;
    for (long long f = 0; f < n; ++f)
        if (at(f) != 0.0f) {
            if (first < 0)
                first = f;
            last = f;
        }
    std::printf("  ch%d: ", channel + 1);
    if (first < 0) {
        std::printf("silence (%lld frames)\n", n);
        return false;
    }
    const long long length = last - first + 1;
    const long cycle = 3 * run.reps;
    long long pos = 0, breaks = 0, foreign = 0, zeros = 0;
    std::vector<long long> where;
    std::vector<long long> shifts;
    for (long long f = first; f <= last; ++f) {
        const float v = at(f);
        if (v == sent(run, pos)) {
            ++pos;
            continue;
        }
        ++breaks;
        if (where.size() < 8)
            where.push_back(f - first);
        const int w = word_index(v);
        if (w < 0) {
            (v == 0.0f ? zeros : foreign) += 1;
            if (shifts.size() < 8)
                shifts.push_back(0);
            continue;  // the next sample is still expected to be pos
        }
        // Nearest position from pos that holds word w at its first repetition
        // or the same repetition slot: take the first forward match.
        long s = 0;
        while (s < cycle && sent(run, pos + s) != v) ++s;
        if (shifts.size() < 8)
            shifts.push_back(s);
        pos += s + 1;
    }
    const bool in_place = at(first) == sent(run, 0);
    const bool exact = breaks == 0 && length == run.pattern_frames && in_place;
    std::printf(
        "%s  first word at frame %lld (round trip %.2f ms), region %lld frames (%+lld against %lld sent), "
        "%lld breaks, %lld foreign, %lld zeros inside\n",
        exact ? "EXACT" : "NOT EXACT", first, 1000.0 * static_cast<double>(first) / static_cast<double>(rate),
        length, length - run.pattern_frames, run.pattern_frames, breaks, foreign, zeros);
    if (!where.empty()) {
        std::printf("    first breaks at (frames from region start, forward shift mod %ld):", cycle);
        for (std::size_t k = 0; k < where.size(); ++k) std::printf(" %lld(%lld)", where[k], shifts[k]);
        std::printf("\n");
    }
    return exact;
}

void list_devices()
{
    for (PaDeviceIndex d = 0; d < Pa_GetDeviceCount(); ++d) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(d);
        std::printf("%2d  %-40s %-6s in %2d out %2d  %.0f Hz\n", d, info->name,
                    Pa_GetHostApiInfo(info->hostApi)->name, info->maxInputChannels, info->maxOutputChannels,
                    info->defaultSampleRate);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
        if (Pa_Initialize() != paNoError)
            return 2;
        list_devices();
        Pa_Terminate();
        return 0;
    }
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: route_probe DEVICE RATE SECONDS [FRAMES_PER_BUFFER [LATENCY_MS [PERIODS]]]\n");
        return 2;
    }
    const std::string device_name = argv[1];
    const long rate = std::atol(argv[2]);
    const double seconds = std::atof(argv[3]);
    const unsigned long fpb = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : paFramesPerBufferUnspecified;
    const double latency = argc > 5 ? std::atof(argv[5]) / 1000.0 : -1.0;
    if (argc > 6)
        PaAlsa_SetNumPeriods(std::atoi(argv[6]));

    if (Pa_Initialize() != paNoError) {
        std::fprintf(stderr, "route_probe: PortAudio did not start\n");
        return 2;
    }
    PaDeviceIndex device = paNoDevice;
    for (PaDeviceIndex d = 0; d < Pa_GetDeviceCount(); ++d)
        if (device_name == Pa_GetDeviceInfo(d)->name)
            device = d;
    if (device == paNoDevice) {
        std::fprintf(stderr, "route_probe: no device '%s'\n", device_name.c_str());
        list_devices();
        Pa_Terminate();
        return 2;
    }
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);

    Run run;
    run.channels = std::min(2, std::min(info->maxInputChannels, info->maxOutputChannels));
    run.reps = rate > 96000 ? 4 : rate > 48000 ? 2 : 1;
    run.pattern_frames = static_cast<long long>(seconds * static_cast<double>(rate));
    run.total_frames = run.pattern_frames + rate;  // a second of silence after it
    run.captured.assign(static_cast<std::size_t>(run.total_frames * run.channels), 0.0f);

    PaStreamParameters in{device, run.channels, paFloat32,
                          latency >= 0 ? latency : info->defaultLowInputLatency, nullptr};
    PaStreamParameters out{device, run.channels, paFloat32,
                           latency >= 0 ? latency : info->defaultLowOutputLatency, nullptr};
    PaStream* stream = nullptr;
    PaError err = Pa_OpenStream(&stream, &in, &out, static_cast<double>(rate), fpb, paClipOff | paDitherOff,
                                callback, &run);
    if (err != paNoError) {
        std::fprintf(stderr, "route_probe: cannot open '%s' at %ld Hz: %s\n", device_name.c_str(), rate,
                     Pa_GetErrorText(err));
        Pa_Terminate();
        return 2;
    }
    const PaStreamInfo* si = Pa_GetStreamInfo(stream);
    std::printf(
        "%s (%s), %d ch, %ld Hz (stream reports %.1f), frames per buffer %s, latency in %.1f ms out %.1f "
        "ms\n",
        info->name, Pa_GetHostApiInfo(info->hostApi)->name, run.channels, rate, si->sampleRate,
        argc > 4 ? argv[4] : "unspecified", si->inputLatency * 1000, si->outputLatency * 1000);
    err = Pa_StartStream(stream);
    if (err != paNoError) {
        std::fprintf(stderr, "route_probe: cannot start: %s\n", Pa_GetErrorText(err));
        Pa_CloseStream(stream);
        Pa_Terminate();
        return 2;
    }
    // Bounded: the stream should finish in its own length plus a few seconds.
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(static_cast<long long>(1000.0 * (seconds + 10.0)));
    while (Pa_IsStreamActive(stream) == 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Pa_StopStream(stream);
    Pa_CloseStream(stream);
    Pa_Terminate();

    std::printf(
        "  captured %lld of %lld frames; callbacks flagged input overflow %lu, output underflow %lu\n",
        run.in_frames.load(), run.total_frames, run.input_overflows.load(), run.output_underflows.load());
    bool exact = true;
    for (int c = 0; c < run.channels; ++c) exact = analyse(run, c, rate) && exact;
    return exact ? 0 : 1;
}
