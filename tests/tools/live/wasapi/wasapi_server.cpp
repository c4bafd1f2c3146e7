#include "wasapi_server.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "unix_command.h"

namespace kova::test {

void Wasapi_Server::require(const char* driver)
{
    const char* server = std::getenv("KOVA_SOUND_SERVER");
    const char* audio = std::getenv("KOVA_WINE_AUDIO");
    if (!server || std::string(server) != "pulse" || !audio || std::string(audio) != driver)
        GTEST_SKIP()
            << "needs PulseAudio and Wine's " << driver
            << " driver: scripts/sound-server.sh pulse --realtime -- scripts/wine-ctest.sh win64 --audio "
            << driver << " -L sound-server-wasapi";
    ASSERT_EQ(std::atol(std::getenv("KOVA_SOUND_RATE")), 48000);
    ASSERT_EQ(session_.error(), "");
    // Wine's PulseAudio driver names them after the sink's description;
    // its ALSA driver has ALSA's default device, PulseAudio's defaults.
    const bool pulse = std::string(driver) == "pulse";
    sink_ = pulse ? "Null Output" : "Out: default";
    monitor_ = pulse ? "Monitor of Null Output" : "In: default";
}

Loop_Recorder::Loop_Recorder(std::uint64_t frames, std::size_t keep)
    : player_(48000, frames), kept_(keep * 8), keep_(keep)
{
}

void Loop_Recorder::stall_at(std::uint64_t at, std::chrono::milliseconds how_long)
{
    stall_at_ = at;
    stall_ = how_long;
}

bool Loop_Recorder::process(const live::Block& block) noexcept
{
    if (blocks_at_ >= stall_at_) {
        std::this_thread::sleep_for(stall_);
        stall_at_ = ~std::uint64_t{0};
    }
    if (block.gaps) {
        gaps_.fetch_or(block.gaps);
        std::uint64_t none = ~std::uint64_t{0};
        first_gap_at_.compare_exchange_strong(none, blocks_at_);
    }
    blocks_at_ += block.frames;
    const bool playing = block.out ? player_.process(block) : false;
    if (!block.in)
        return playing;
    channels_.store(block.in_channels);
    const std::size_t c = static_cast<std::size_t>(block.in_channels);
    const std::size_t have = kept_frames_.load(std::memory_order_relaxed);
    const std::size_t take = std::min<std::size_t>(block.frames, keep_ - have);
    // Room for up to 8 channels was made; more are not kept.
    if (c <= 8)
        std::memcpy(kept_.data() + have * c, block.in, take * c * sizeof(float));
    kept_frames_.store(have + take, std::memory_order_release);
    if (have + take < keep_)
        return true;
    done_.store(true);
    return false;
}

std::vector<float> Loop_Recorder::samples() const
{
    const std::size_t n =
        kept_frames_.load(std::memory_order_acquire) * static_cast<std::size_t>(channels_.load());
    return std::vector<float>(kept_.begin(), kept_.begin() + static_cast<std::ptrdiff_t>(n));
}

long server_underruns()
{
    // grep says 0 and fails when there is none.
    Unix_Command count("grep -cE \"Implicit underrun of|Underrun on\" \"$KOVA_SOUND_LOG\"");
    count.wait(std::chrono::seconds(10));
    return std::atol(count.output().c_str());
}

bool lost_here(bool flagged, bool exact, long server_underruns)
{
    return flagged || (!exact && server_underruns > 0);
}

Loop_Run run_loop(const live::wasapi::Stream_Request& request, float gain)
{
    Loop_Run run;
    while (run.runs < kRuns) {
        ++run.runs;
        const long underruns_before = server_underruns();
        auto stream = live::wasapi::Stream::open(request);
        if (!stream) {
            run.error = stream.error().message;
            return run;
        }
        Loop_Recorder loop(48000, 72000);
        if (auto started = stream->start(loop); !started) {
            run.error = started.error().message;
            return run;
        }
        if (!run_out(*stream, std::chrono::seconds(10)))
            run.error = "the loop did not end within 10 s";
        if (auto stopped = stream->stop(); !stopped && run.error.empty())
            run.error = stopped.error().message;
        run.samples = loop.samples();
        run.channels = loop.channels();
        run.gaps = loop.gaps();
        run.losses = stream->losses();
        run.drive = stream->drive();
        run.output_buffer_frames = stream->output_buffer_frames();
        run.period_frames = stream->period_frames();
        run.server_underruns = server_underruns() - underruns_before;
        run.pattern = find_pattern(run.samples, run.channels, gain);
        const bool exact = run.pattern.exact_frames == 48000 && run.pattern.silent_after;
        if (!run.error.empty() || !lost_here(run.gaps != 0, exact, run.server_underruns))
            break;
    }
    return run;
}

std::string describe(const live::wasapi::Losses& l)
{
    return "discontinuities " + std::to_string(l.discontinuities) + ", position jumps " +
           std::to_string(l.position_jumps) + ", late inputs " + std::to_string(l.late_inputs) +
           ", late outputs " + std::to_string(l.late_outputs) + ", overflows " + std::to_string(l.overflows) +
           ", host stalls " + std::to_string(l.host_stalls);
}

std::string describe(const Loop_Run& run)
{
    return "gap flags " + std::to_string(run.gaps) + ", server underruns " +
           std::to_string(run.server_underruns) + " after " + std::to_string(run.runs) + " runs; " +
           describe(run.losses);
}

}  // namespace kova::test
