// kova-check on the full signal after what real software does to it (sox,
// ffmpeg, GStreamer) and after damage made by hand. Every truth comes from
// what the chain was asked to do, or from the files themselves (whether a
// tool rounded or cut is read off its output against its input here), never
// from the analysis.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "files.h"
#include "report_text.h"
#include "run_process.h"

namespace fs = std::filesystem;

namespace {

class KovaCheckFull : public ::testing::Test {
public:
    static void SetUpTestSuite()
    {
        char name[] = "/tmp/kova-check-full-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        shell(std::string(KOVA_GEN_PATH) + " -q -s full -c 2 -r 48k -d 2 -o f2.wav && " + KOVA_GEN_PATH +
              " -q -s full -r 44.1k -d 10 -o f1.wav && " + KOVA_GEN_PATH +
              " -q -s full -c 8 -r 192k -d 1 -o f8.wav");
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    static void shell(const std::string& line)
    {
        const auto r = run_program("sh", {"-c", line}, dir_);
        ASSERT_EQ(r.exit_code, 0) << line << ": " << r.err;
    }
    static Run_Result check(const std::vector<std::string>& args)
    {
        return run_program(KOVA_CHECK_PATH, args, dir_);
    }
    // One channel's part of a file's JSON line.
    static std::string channel_json(const std::string& json, int channel)
    {
        const auto at = json.find("{\"channel\":" + std::to_string(channel) + ",");
        EXPECT_NE(at, std::string::npos) << json;
        const auto next = json.find("{\"channel\":", at + 1);
        return json.substr(at, next == std::string::npos ? std::string::npos : next - at);
    }
    // The samples of a file as 32-bit integers (sox: 16- and 24-bit words
    // left-justified), to read what a tool did.
    static std::vector<std::int32_t> samples(const std::string& file)
    {
        shell("sox " + file + " -t raw -e signed -b 32 -L " + file + ".raw");
        const auto bytes = kova::support::read_bytes(dir_ + "/" + file + ".raw");
        std::vector<std::int32_t> v(bytes.size() / 4);
        for (std::size_t i = 0; i < v.size(); ++i)
            v[i] = static_cast<std::int32_t>(bytes[4 * i] | bytes[4 * i + 1] << 8 | bytes[4 * i + 2] << 16 |
                                             static_cast<std::uint32_t>(bytes[4 * i + 3]) << 24);
        return v;
    }
    // What a tool's cut to `bits` did (after a gain): "truncated" where
    // every word went down to the grid below it, "rounded" where to the
    // nearest.
    static std::string cut_of(const std::string& source, const std::string& file, int bits, double gain = 1)
    {
        const auto a = samples(source), b = samples(file);
        EXPECT_EQ(a.size(), b.size());
        const double q = std::ldexp(1.0, 24 - bits);
        bool down = true, nearest = true;
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
            const double d = (static_cast<double>(b[i]) - gain * a[i]) / 256;  // 24-bit steps
            down = down && d <= 0 && d > -q;
            nearest = nearest && std::fabs(d) <= q / 2;
        }
        return down ? "truncated" : nearest ? "rounded" : "neither";
    }

    // The gain a least-squares fit of one channel's words puts on the
    // source's: sum(a b) / sum(a a).
    static double gain_of(const std::string& source, const std::string& file, int channel, int channels)
    {
        const auto a = samples(source), b = samples(file);
        double ab = 0, aa = 0;
        for (auto i = static_cast<std::size_t>(channel - 1); i < a.size() && i < b.size();
             i += static_cast<std::size_t>(channels)) {
            ab += static_cast<double>(a[i]) * b[i];
            aa += static_cast<double>(a[i]) * a[i];
        }
        return ab / aa;
    }

    static std::string dir_;
};

std::string KovaCheckFull::dir_;

}  // namespace

// Exact copies in every container and sample format kova-check reads: each
// channel its own source channel, every bit of every word, from source
// sample 0 to the last (2 s at 48 kHz: 95999).
TEST_F(KovaCheckFull, ExactCopiesAreBitPerfectInEveryContainer)
{
    shell(
        "ffmpeg -v error -i f2.wav -rf64 always -c:a pcm_s24le rf64.wav && sox f2.wav -t w64 f2.w64 && "
        "sox f2.wav f2.flac && sox f2.wav -e floating-point -b 32 float.wav && sox f2.wav -b 32 s32.wav && "
        "sox f2.wav f2.aiff");
    const auto r =
        check({"f2.wav", "rf64.wav", "f2.w64", "f2.flac", "float.wav", "s32.wav", "f2.aiff", "f8.wav"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    for (const char* f : {"f2.wav", "rf64.wav", "f2.w64", "f2.flac", "float.wav", "s32.wav", "f2.aiff"}) {
        expect_has(r.out, std::string(f) + "  full signal of 2 channels, 2 s at 48 kHz\n");
        expect_has(r.out, std::string(f) + "  ch2  bit-perfect  48 kHz  2 s (0 s \u2013 2 s)\n");
    }
    expect_has(r.out, "f8.wav  ch8  bit-perfect  192 kHz  1 s (0 s \u2013 1 s)\n");

    const auto j = check({"--json", "rf64.wav"}).out;
    expect_has(j, "\"container\":\"RF64\"");
    expect_has(j,
               "\"signal\":\"full\",\"source_channels\":2,\"source_seconds\":2,\"source_rate\":48000,"
               "\"missing_source_channels\":[]");
    expect_has(channel_json(j, 2), "\"source\":{\"channels\":2,\"channel\":2,\"mix\":[]}");
    expect_has(channel_json(j, 2), "\"positions\":{\"positioned\":true,\"first\":0,\"last\":95999");
    expect_has(channel_json(j, 2),
               "\"bits\":{\"compared\":96000,\"errors\":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
               "0,0,0,0,0,0],\"word_bits\":24,\"cut\":\"none\"");
}

// Fewer bits: the word length that came through, and how. 16-bit files
// hold 16 bits; GStreamer's S20LE and S18LE 20 and 18 of them in a 24-bit
// container; with dither the words land within a few steps of the grid, not
// on the nearest point, and with noise-shaped dither within more; after
// sox's x0.5 the words at that gain are cut as without it. ffmpeg keeps 32 bits even when told 20 (its
// output_sample_bits only scales the dither): finer than 24 bits, the words changed, no cut. ffmpeg's
// shibata dither (noise-shaped) comes with a gain of its own, about x0.99902: the gain, and the dither
// shaped at that gain. ffmpeg's x0.9 then sox's 16 bits with its default dither: the gain, and the
// dither at that gain.
TEST_F(KovaCheckFull, WordLengthAndDitherAreNamed)
{
    shell(
        "sox -D f2.wav -b 16 sox16.wav && sox f2.wav -b 16 sox16d.wav && "
        "ffmpeg -v error -i f2.wav -c:a pcm_s16le ff16.wav && "
        "ffmpeg -v error -i f2.wav -af aresample=osf=s16:dither_method=triangular -c:a pcm_s16le ff16d.wav "
        "&& "
        "sox f2.wav sox20d.wav dither -p 20 && "
        "ffmpeg -v error -i f2.wav -af aresample=osf=s32:output_sample_bits=20:dither_method=triangular "
        "-c:a pcm_s32le ff20d.wav");
    for (const char* bits : {"20", "18"})
        for (const char* dither : {"none", "tpdf"})
            shell(std::string(
                      "gst-launch-1.0 -q filesrc location=f2.wav ! wavparse ! audioconvert dithering=") +
                  dither + " ! audio/x-raw,format=S" + bits +
                  "LE ! audioconvert dithering=none ! audio/x-raw,format=S24LE ! wavenc ! "
                  "filesink location=gst" +
                  bits + dither + ".wav");
    // Dither shaped away from the low frequencies; a volume before the cut.
    shell(
        "gst-launch-1.0 -q filesrc location=f2.wav ! wavparse ! audioconvert dithering=tpdf "
        "noise-shaping=high "
        "! audio/x-raw,format=S16LE ! wavenc ! filesink location=gst16shaped.wav && "
        "sox f2.wav -b 16 sox16shaped.wav dither -s && sox -D f2.wav -b 16 half16.wav vol 0.5 && "
        "ffmpeg -v error -i f2.wav -af aresample=osf=s16:dither_method=shibata -c:a pcm_s16le "
        "ff16shaped.wav && ffmpeg -v error -i f2.wav -af volume=0.9 -c:a pcm_s24le v09.wav && "
        "sox v09.wav -b 16 v09d16.wav");

    struct Case {
        const char* file;
        const char* verdicts;
        int bits;
        std::string cut;
    } cases[] = {
        {"sox16.wav", "[\"truncated\"]", 16, cut_of("f2.wav", "sox16.wav", 16)},
        {"ff16.wav", "[\"truncated\"]", 16, cut_of("f2.wav", "ff16.wav", 16)},
        {"gst20none.wav", "[\"truncated\"]", 20, cut_of("f2.wav", "gst20none.wav", 20)},
        {"gst18none.wav", "[\"truncated\"]", 18, cut_of("f2.wav", "gst18none.wav", 18)},
        {"half16.wav", "[\"gain\",\"truncated\"]", 16, cut_of("f2.wav", "half16.wav", 16, 0.5)},
        {"sox16d.wav", "[\"altered\",\"truncated\"]", 16, "dithered"},
        {"ff16d.wav", "[\"altered\",\"truncated\"]", 16, "dithered"},
        {"gst20tpdf.wav", "[\"altered\",\"truncated\"]", 20, "dithered"},
        {"gst18tpdf.wav", "[\"altered\",\"truncated\"]", 18, "dithered"},
        {"gst16shaped.wav", "[\"altered\",\"truncated\"]", 16, "noise-shaped"},
        {"sox16shaped.wav", "[\"altered\",\"truncated\"]", 16, "noise-shaped"},
        {"ff16shaped.wav", "[\"gain\",\"altered\",\"truncated\"]", 16, "noise-shaped"},
        {"sox20d.wav", "[\"altered\",\"truncated\"]", 20, "dithered"},
        {"v09d16.wav", "[\"gain\",\"altered\",\"truncated\"]", 16, "dithered"},
        {"ff20d.wav", "[\"altered\"]", 24, "none"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_NE(c.cut, "neither");
        const auto j = check({"--json", c.file});
        EXPECT_EQ(j.exit_code, 1);
        for (int ch = 1; ch <= 2; ++ch) {
            const auto one = channel_json(j.out, ch);
            expect_has(one, std::string("\"verdicts\":") + c.verdicts);
            expect_has(one, "\"word_bits\":" + std::to_string(c.bits) + ",\"cut\":\"" + c.cut + "\"");
        }
    }
    const auto shaped = check({"--json", "ff16shaped.wav"}).out;
    for (int ch = 1; ch <= 2; ++ch)
        EXPECT_NEAR(number_after(channel_json(shaped, ch), "gain_factor"),
                    gain_of("f2.wav", "ff16shaped.wav", ch, 2), 2e-6);
    // The bits below the word length: wrong in about half the words, each.
    const auto one = channel_json(check({"--json", "sox16.wav"}).out, 1);
    const auto errors = one.substr(one.find("\"errors\":[") + 10);
    EXPECT_NEAR(std::strtod(errors.c_str(), nullptr), 48000, 1500);  // bit 0 of 96000 words
    expect_has(check({"ff20d.wav"}).out, "    samples finer than 24 bits (a float chain)\n");
    expect_has(check({"sox16.wav"}).out, "    16 of 24 bits came through, " +
                                             std::string(cut_of("f2.wav", "sox16.wav", 16) == "rounded"
                                                             ? "rounded to the nearest"
                                                             : "truncated (cut off, rounded down)") +
                                             "\n");
}

// Which source channel each channel carries: swapped, copied (the other
// missing), folded down with sox's 1/n, with chosen weights, or summed.
TEST_F(KovaCheckFull, ChannelsAreNamed)
{
    shell(
        "sox f2.wav swap.wav remix 2 1 && sox f2.wav dup.wav remix 1 1 && sox f2.wav fold.wav remix 1,2 && "
        "sox f2.wav weights.wav remix 1v0.7,2v0.3 && sox f2.wav -D sum.wav remix -m 1,2");
    const auto r = check({"swap.wav", "dup.wav", "fold.wav"});
    EXPECT_EQ(r.exit_code, 1);
    expect_has(r.out,
               "swap.wav  ch1  channels  48 kHz  2 s (0 s \u2013 2 s)\n"
               "    carries source channel 2 of 2, not its own\n");
    expect_has(r.out,
               "swap.wav  ch2  channels  48 kHz  2 s (0 s \u2013 2 s)\n"
               "    carries source channel 1 of 2, not its own\n");
    expect_has(r.out,
               "dup.wav  full signal of 2 channels, 2 s at 48 kHz; source channel 2 missing\n"
               "dup.wav  ch1  bit-perfect");
    expect_has(r.out,
               "dup.wav  ch2  channels  48 kHz  2 s (0 s \u2013 2 s)\n"
               "    carries source channel 1 of 2, not its own\n");
    expect_has(r.out,
               "fold.wav  ch1  channels  48 kHz  2 s (0 s \u2013 2 s)\n"
               "    a mix of source channels 1 x0.500000 + 2 x0.500000 of 2\n");
    // Eight channels: the last two swapped, and folded to two, four each at
    // x0.25 (sox's 1/n), the rounding to 24 bits no change of the mix.
    shell("sox f8.wav swap8.wav remix 1 2 3 4 5 6 8 7 && sox f8.wav fold8.wav remix 1,3,5,7 2,4,6,8");
    const auto eight = check({"swap8.wav", "fold8.wav"}).out;
    expect_has(eight,
               "swap8.wav  ch7  channels  192 kHz  1 s (0 s \u2013 1 s)\n"
               "    carries source channel 8 of 8, not its own\n");
    expect_has(eight, "swap8.wav  ch6  bit-perfect");
    expect_has(eight,
               "fold8.wav  ch2  channels  192 kHz  1 s (0 s \u2013 1 s)\n"
               "    a mix of source channels 2 x0.250000 + 4 x0.250000 + 6 x0.250000 + 8 x0.250000 of 8\n");
    expect_has(eight, "fold8.wav  ch1  channels  192 kHz");
    for (const auto& [file, a, b] : {std::tuple{"weights.wav", 0.7, 0.3}, {"sum.wav", 1.0, 1.0}}) {
        const auto j = check({"--json", file}).out;
        const auto mix = j.substr(j.find("\"mix\":["));
        EXPECT_NEAR(number_after(mix, "weight"), a, 1e-4) << file;
        EXPECT_NEAR(number_after(mix.substr(mix.find("},")), "weight"), b, 1e-4) << file;
        expect_has(j, "\"verdicts\":[\"channels\"]");
    }
}

// Volume: sox's x0.5 exactly, ffmpeg's -6 dB (10^(-6/20) = 0.501187), sox's
// x-1 the words inverted; ffmpeg's x2 (20 log10 2 = +6.02 dB) leaves every
// word even and none cut (the signal peaks at -20 dBFS).
TEST_F(KovaCheckFull, GainAndInversionAreMeasured)
{
    shell(
        "sox -D f2.wav half.wav vol 0.5 && ffmpeg -v error -i f2.wav -af volume=-6dB -c:a pcm_s24le db6.wav "
        "&& "
        "sox -D f2.wav inv.wav vol -1 && ffmpeg -v error -i f2.wav -af volume=2.0 -c:a pcm_s24le x2.wav");
    const auto r = check({"half.wav", "db6.wav", "inv.wav", "x2.wav"});
    expect_has(r.out, "half.wav  ch1  gain  48 kHz  2 s (0 s \u2013 2 s)\n    gain -6.02 dB (x0.500000)\n");
    expect_has(r.out, "db6.wav  ch2  gain  48 kHz  2 s (0 s \u2013 2 s)\n    gain -6.00 dB (x0.501187)\n");
    expect_has(r.out, "inv.wav  ch1  inverted  48 kHz  2 s (0 s \u2013 2 s)\n");
    expect_has(r.out, "x2.wav  ch2  gain  48 kHz  2 s (0 s \u2013 2 s)\n    gain +6.02 dB (x2.000000)\n");
}

// Resampled: 44.1 kHz through ffmpeg's and GStreamer's resamplers to 48 kHz
// (ratio 48000 / 44100 = 1.088435), and a clock 1 Hz fast (ffmpeg asetrate
// 48001, GStreamer's raw samples taken at 48001 Hz, each resampled back to
// 48000: +1 / 48000 = +20.83 ppm, ratio 48000 / 48001). Within the family,
// 48 kHz up to 192 kHz (ratio 4) and 192 kHz down to 48 kHz (ratio 0.25);
// 192 kHz sped up 300 ppm to 96 kHz (ratio 96000 / (192000 * 1.0003) = 0.499850).
// A clock 1000 ppm slow across the families: 44.1 kHz at sox's speed 0.999
// to 48 kHz, (0.999 - 1) * 10^6 = -1000 ppm, ratio 48000 / (44100 * 0.999)
// = 1.089525.
TEST_F(KovaCheckFull, ResamplingAndDriftAreMeasured)
{
    shell(
        "sox f2.wav -b 24 up192.wav rate -v 192k && sox f8.wav -b 24 down48.wav rate -v 48k && "
        "sox f8.wav -b 24 fast96.wav speed 1.0003 rate -v 96k");
    const auto within = check({"up192.wav", "down48.wav"}).out;
    expect_has(within,
               "up192.wav  ch2  resampled  192 kHz  2 s (0 s \u2013 2 s)\n"
               "    resampled: from 48 kHz (the 48 kHz family, its pilot at 12 kHz) to 192 kHz, "
               "ratio 4.000000\n");
    expect_has(within,
               "down48.wav  ch8  resampled  48 kHz  1 s (0 s \u2013 1 s)\n"
               "    resampled: from 192 kHz (the 48 kHz family, its pilot at 12 kHz) to 48 kHz, "
               "ratio 0.250000\n");
    const auto up = check({"--json", "up192.wav"}).out;
    expect_has(up, "\"family_rate\":48000,\"ratio\":4,\"drift_ppm\":");
    expect_has(up, "\"source_rate\":48000}");
    const auto fast96 = check({"--json", "fast96.wav"}).out;
    expect_has(fast96, "\"source_rate\":192000}");
    EXPECT_NEAR(number_after(fast96, "ratio"), 0.499850, 2e-6);
    EXPECT_NEAR(number_after(fast96, "drift_ppm"), 300, 0.1);
    shell("sox f1.wav -b 24 slow48.wav speed 0.999 rate -v 48k");
    const auto slow = check({"--json", "slow48.wav"}).out;
    expect_has(slow, "\"verdicts\":[\"resampled\"]");
    EXPECT_NEAR(number_after(slow, "drift_ppm"), -1000, 10);
    EXPECT_NEAR(number_after(slow, "ratio"), 1.089525, 2e-6);
    shell(
        "ffmpeg -v error -i f1.wav -ar 48000 -c:a pcm_s24le ff48.wav && "
        "gst-launch-1.0 -q filesrc location=f1.wav ! wavparse ! audioconvert ! audioresample ! "
        "audio/x-raw,rate=48000,format=S24LE ! wavenc ! filesink location=gst48.wav && "
        "ffmpeg -v error -i f2.wav -af asetrate=48001,aresample=48000 -c:a pcm_s24le fast.wav && "
        "sox f2.wav -t raw f2.raw && gst-launch-1.0 -q filesrc location=f2.raw ! rawaudioparse format=pcm "
        "pcm-format=s24le sample-rate=48001 num-channels=2 ! audioconvert ! audioresample ! "
        "audio/x-raw,rate=48000,format=S24LE ! wavenc ! filesink location=gstfast.wav");
    const auto r = check({"ff48.wav", "gst48.wav", "fast.wav"});
    EXPECT_EQ(r.exit_code, 1);
    // GStreamer's output is a sample short (479999 frames, its header says).
    for (const char* f :
         {"ff48.wav  ch1  resampled  48 kHz  10 s", "gst48.wav  ch1  resampled  48 kHz  partial 10 s"})
        expect_has(r.out, std::string(f) +
                              " (0 s \u2013 10 s)\n"
                              "    resampled: from the 44.1 kHz family (its pilot at 11.025 kHz) to "
                              "48 kHz, ratio 1.088435\n");
    // A file played at twice its rate, untouched (its header says 96 kHz):
    // the words right, the time not.
    std::string as96 = kova::support::read_file(dir_ + "/f2.wav");
    for (const auto& [at, value] : {std::pair{24, 96000u}, {28, 96000u * 6}})
        for (int k = 0; k < 4; ++k)
            as96[static_cast<std::size_t>(at + k)] = static_cast<char>(value >> (8 * k) & 0xFF);
    ASSERT_TRUE(kova::support::write_file(dir_ + "/as96.wav", as96));
    expect_has(check({"as96.wav"}).out,
               "as96.wav  ch1  altered  96 kHz  1 s (0 s \u2013 1 s)\n"
               "    made at 48 kHz, captured at 96 kHz: the rate changed without resampling\n");
    for (const char* f : {"fast.wav", "gstfast.wav"}) {
        SCOPED_TRACE(f);
        const auto j = check({"--json", f}).out;
        EXPECT_NEAR(number_after(j, "drift_ppm"), 20.83, 0.05);
        EXPECT_NEAR(number_after(j, "ratio"), 0.999979, 2e-6);
        expect_has(j, "\"verdicts\":[\"resampled\"]");
    }
}

// Damage by hand, one channel at 44.1 kHz (10 s, 441000 samples): 12345 cut
// from the start and 5000 from the end, 1000 lost at source 100000, source
// 199500-199999 played twice, 300 zeros put in at source 300000; two whole
// seconds lost at 3 s; one bit (bit 3 of sample 50000) flipped; breaks
// closer together than a window.
TEST_F(KovaCheckFull, EveryDropoutIsPlacedExactly)
{
    const std::string f = kova::support::read_file(dir_ + "/f1.wav");
    const std::string head = f.substr(0, 44), data = f.substr(44);
    const auto part = [&](std::size_t a, std::size_t b) { return data.substr(3 * a, 3 * (b - a)); };
    const auto wav = [&](const std::string& name, const std::string& body) {
        std::string h = head;
        for (int k = 0; k < 4; ++k) {
            h[4 + static_cast<std::size_t>(k)] = static_cast<char>((body.size() + 36) >> (8 * k) & 0xFF);
            h[40 + static_cast<std::size_t>(k)] = static_cast<char>(body.size() >> (8 * k) & 0xFF);
        }
        ASSERT_TRUE(kova::support::write_file(dir_ + "/" + name, h + body));
    };
    wav("hand.wav", part(12345, 100000) + part(101000, 200000) + part(199500, 300000) +
                        std::string(900, '\0') + part(300000, 436000));
    wav("seconds.wav", part(0, 3 * 44100) + part(5 * 44100, 441000));
    // Breaks closer than a window reads: one sample lost at 10, one at source
    // 200000 and 50 played again 199 samples on, one lost 9 from the end.
    wav("close.wav",
        part(0, 10) + part(11, 200000) + part(200001, 200200) + part(200150, 440990) + part(440991, 441000));
    std::string flipped = data;
    flipped[3 * 50000] = static_cast<char>(flipped[3 * 50000] ^ 8);
    wav("bit.wav", flipped);

    const auto r = check({"hand.wav", "seconds.wav", "bit.wav"});
    EXPECT_EQ(r.exit_code, 1);
    // Capture positions: 100000 - 12345 = 87655; + 99000 = 186655; + 100500 = 287155.
    expect_has(r.out,
               "hand.wav  ch1  dropouts+incomplete  44.1 kHz  partial 9.602 s (0 s \u2013 9.602 s)\n"
               "    dropouts: 3\n"
               "      at 87655 (1.988 s): 1000 lost, 0 inserted (resumes at source sample 101000)\n"
               "      at 186655 (4.233 s): 500 repeated, 0 inserted (resumes at source sample 199500)\n"
               "      at 287155 (6.511 s): 0 lost, 300 inserted (resumes at source sample 300000)\n"
               "    missing at the start: 12345 samples (0.28 s) of 10 s: the capture began late\n"
               "    missing at the end: 5000 samples (0.113 s) of 10 s: the capture ended early\n");
    expect_has(r.out,
               "seconds.wav  ch1  dropouts  44.1 kHz  partial 8 s (0 s \u2013 8 s)\n"
               "    dropouts: 1\n"
               "      at 132300 (3 s): 88200 lost, 0 inserted (resumes at source sample 220500)\n");
    expect_has(r.out, "bit.wav  ch1  altered  44.1 kHz  10 s (0 s \u2013 10 s)\n");
    // Capture positions: 10; 10 + 199989 = 199999; + 199 = 200198; + 240840 = 441038.
    expect_has(check({"close.wav"}).out,
               "    dropouts: 4\n"
               "      at 10 (0 s): 1 lost, 0 inserted (resumes at source sample 11)\n"
               "      at 199999 (4.535 s): 1 lost, 0 inserted (resumes at source sample 200001)\n"
               "      at 200198 (4.54 s): 50 repeated, 0 inserted (resumes at source sample 200150)\n"
               "      at 441038 (10.001 s): 1 lost, 0 inserted (resumes at source sample 440991)\n");
    expect_has(check({"--json", "bit.wav"}).out,
               "\"errors\":[0,0,0,1,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0]");
    // Only the cut ends: a piece of the file, passed on request.
    wav("piece.wav", part(44100, 88200));
    EXPECT_EQ(check({"--partial-ok", "piece.wav"}).exit_code, 0);
    expect_has(check({"piece.wav"}).out, "    missing at the start: 44100 samples (1 s) of 10 s");
}
