// kova-check against what real software chains do to the pattern (sox,
// ffmpeg, GStreamer), and against damage made by hand: each fault named as
// an engineer would name it, never passed. Every truth is worked out here
// from what the chain was asked to do.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files.h"
#include "report_text.h"
#include "run_process.h"

namespace fs = std::filesystem;

namespace {

class KovaCheckChains : public ::testing::Test {
public:
    static void SetUpTestSuite()
    {
        char name[] = "/tmp/kova-check-chains-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        for (const auto& [rate, seconds] : {std::pair{"48000", "10"},
                                            {"44100", "10"},
                                            {"44100", "1"},
                                            {"48000", "1"},
                                            {"88200", "1"},
                                            {"96000", "1"},
                                            {"176400", "1"},
                                            {"192000", "1"}}) {
            const std::string file = std::string("k") + rate + "_" + seconds + ".wav";
            const auto r = run_program(KOVA_GEN_PATH, {"-q", "-r", rate, "-d", seconds, "-o", file}, dir_);
            ASSERT_EQ(r.exit_code, 0) << r.err;
        }
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    // A shell line in the test folder (pipelines of sox, ffmpeg, gst-launch).
    static void shell(const std::string& line)
    {
        const auto r = run_program("sh", {"-c", line}, dir_);
        ASSERT_EQ(r.exit_code, 0) << line << ": " << r.err;
    }
    static Run_Result check(const std::vector<std::string>& args)
    {
        return run_program(KOVA_CHECK_PATH, args, dir_);
    }

    static std::string slurp(const std::string& name) { return kova::support::read_file(dir_ + "/" + name); }
    // kova-gen's data starts after its 44-byte header; sizes are rewritten.
    static void write_wav(const std::string& name, const std::string& header, const std::string& data)
    {
        std::string h = header;
        const auto put = [&](std::size_t at, std::uint32_t v) {
            for (int k = 0; k < 4; ++k)
                h[at + static_cast<std::size_t>(k)] = static_cast<char>(v >> (8 * k) & 0xFF);
        };
        put(4, static_cast<std::uint32_t>(data.size() + 36));
        put(40, static_cast<std::uint32_t>(data.size()));
        ASSERT_TRUE(kova::support::write_file(dir_ + "/" + name, h + data));
    }

    static std::string dir_;
};

std::string KovaCheckChains::dir_;

}  // namespace

// Damage beside clean stretches is the capture's fault too: seconds 2 to 4
// halved (sox: each word exactly half) or sign-flipped, one sample changed.
TEST_F(KovaCheckChains, DamageBesideCleanStretchesFails)
{
    shell(
        "sox k48000_10.wav a.wav trim 0 2 && sox k48000_10.wav b.wav trim 2 2 && sox k48000_10.wav c.wav "
        "trim 4 && "
        "sox b.wav -D bh.wav vol 0.5 && sox b.wav -D bf.wav vol -1 && "
        "sox a.wav bh.wav c.wav halved.wav && sox a.wav bf.wav c.wav flipped.wav");
    // Sample 5, near the start (the third word, 00 0E 00), with its middle
    // byte made 0F: 256 steps high.
    std::string data = slurp("k48000_1.wav");
    data[44 + 3 * 5 + 1] = 0x0F;
    write_wav("one.wav", data.substr(0, 44), data.substr(44));

    const auto r = check({"halved.wav", "flipped.wav", "one.wav"});
    EXPECT_EQ(r.exit_code, 1);
    expect_has(r.out,
               "halved.wav  ch1  gain  48 kHz  10 s (0 s \u2013 10 s)\n"
               "    gain -6.02 dB (x0.500000)\n"
               "    3 stretches:\n"
               "      0 s \u2013 2 s  bit-perfect\n"
               "      2 s \u2013 4 s  gain -6.02 dB (x0.500000)\n"
               "      4 s \u2013 10 s  bit-perfect\n");
    expect_has(r.out, "flipped.wav  ch1  inverted  48 kHz  10 s (0 s \u2013 10 s)\n");
    expect_has(r.out, "      2 s \u2013 4 s  inverted\n");
    expect_has(r.out, "one.wav  ch1  altered  48 kHz  1 s (0 s \u2013 1 s)\n");
    expect_has(
        r.out,
        "    altered: 1 samples differ, largest 256, RMS 1.168 (24-bit steps)\n");  // 256 / sqrt(48000)
}

// Samples lost or added: a whole cycle cut mid-stream (the pattern cannot
// tell where), the start cut mid-cycle, and 1000 cut with 480 zeros put in
// their place, which the length makes exact.
TEST_F(KovaCheckChains, LostSamplesAreCounted)
{
    const std::string k = slurp("k48000_10.wav"), header = k.substr(0, 44), data = k.substr(44);
    write_wav("cycle.wav", header, data.substr(0, 3 * 240000) + data.substr(3 * 240003));
    write_wav("late.wav", header, data.substr(3 * 1001));
    write_wav("gap.wav", header,
              data.substr(0, 3 * 100000) + std::string(3 * 480, '\0') + data.substr(3 * 101000));
    // Silence inserted and nothing lost (underruns): twice in whole cycles, once not.
    write_wav("under30.wav", header,
              data.substr(0, 3 * 100000) + std::string(3 * 30, '\0') + data.substr(3 * 100000, 3 * 200000) +
                  std::string(3 * 30, '\0') + data.substr(3 * 300000));
    write_wav("under200.wav", header,
              data.substr(0, 3 * 100000) + std::string(3 * 200, '\0') + data.substr(3 * 100000));

    const auto r = check({"cycle.wav", "late.wav", "gap.wav", "under30.wav", "under200.wav"});
    EXPECT_EQ(r.exit_code, 1);
    expect_has(r.out,
               "cycle.wav  ch1  incomplete  48 kHz  partial 10 s (0 s \u2013 10 s)\n"
               "    3 samples short of 10 s in whole cycles, at an end or inside: the pattern cannot tell "
               "where\n");
    // 1001 = 3 * 333 + 2: the first sample has phase 2, so the start is cut,
    // and the 999 more go there too.
    expect_has(r.out,
               "late.wav  ch1  incomplete  48 kHz  partial 9.979 s (0 s \u2013 9.979 s)\n"
               "    missing at the start: 1001 samples (0.021 s) of 10 s: the capture began late\n");
    expect_has(r.out,
               "gap.wav  ch1  dropouts  48 kHz  partial 9.989 s (0 s \u2013 9.989 s)\n"
               "    dropouts: 1\n"
               "      at 100000 (2.083 s): 1000 lost, 480 inserted\n");
    expect_has(r.out,
               "under30.wav  ch1  dropouts  48 kHz  partial 10.001 s (0 s \u2013 10.001 s)\n"
               "    dropouts: 2\n"
               "      at 100000 (2.083 s): 0 lost, 30 inserted\n"
               "      at 300030 (6.251 s): 0 lost, 30 inserted\n"
               "    length 480060 samples, +60 against 10 s\n");
    expect_has(r.out,
               "under200.wav  ch1  dropouts  48 kHz  partial 10.004 s (0 s \u2013 10.004 s)\n"
               "    dropouts: 1\n"
               "      at 100000 (2.083 s): 0 lost, 200 inserted\n"
               "    length 480200 samples, +200 against 10 s\n");

    // A piece of a file, otherwise exact, passes when that is what was asked.
    const auto piece = check({"--partial-ok", "late.wav"});
    EXPECT_EQ(piece.exit_code, 0) << piece.out;
    EXPECT_EQ(check({"--partial-ok", "gap.wav"}).exit_code, 1);
}

// A volume control is a gain whatever its quantiser did, and whatever
// lossless container follows: ffmpeg's -6 dB is x0.501187, which its 24-bit
// output truncates (769.82 -> 769) and its 32-bit and float outputs keep;
// sox then carries the truncated 24-bit words into 32-bit and float
// containers unchanged. Deep exact gains (sox x1/128, x1/256: 12, 20, 28
// and 6, 10, 14) keep the words apart, so they are gains too.
TEST_F(KovaCheckChains, VolumeControlsAreGains)
{
    shell(
        "for c in s24le s32le f32le; do ffmpeg -v error -i k48000_1.wav -af volume=-6dB -c:a pcm_$c "
        "v_$c.wav; done");
    shell(
        "sox v_s24le.wav -e signed-integer -b 32 t_s32.wav && sox v_s24le.wav -e floating-point -b 32 "
        "t_f32.wav");
    shell("sox k48000_1.wav -D d42.wav vol 0.0078125 && sox k48000_1.wav -D d48.wav vol 0.00390625");
    for (const char* f : {"v_s24le.wav", "v_s32le.wav", "v_f32le.wav", "t_s32.wav", "t_f32.wav"}) {
        const auto r = check({"--json", f});
        EXPECT_EQ(r.exit_code, 1);
        expect_has(r.out, "\"verdicts\":[\"gain\"]");
        EXPECT_NEAR(number_after(r.out, "gain_db"), -6.0, 0.01) << f;
        EXPECT_EQ(number_after(r.out, "offset_steps"), 0) << f;
    }
    const auto deep = check({"d42.wav", "d48.wav"});
    expect_has(deep.out,
               "d42.wav  ch1  gain  48 kHz  1 s (0 s \u2013 1 s)\n    gain -42.14 dB (x0.007812)\n");
    expect_has(deep.out,
               "d48.wav  ch1  gain  48 kHz  1 s (0 s \u2013 1 s)\n    gain -48.16 dB (x0.003906)\n");
}

// The DC moved or removed, the steps between the words kept: an offset,
// with what a filter or codec did to the shape called altered. sox's
// dcshift of 2^-12 is 2048 steps, past where the words overlap; a 10 Hz
// high-pass settles at the words less their mean, 2560, give or take its
// rounding; Opus removes the DC and changes the shape.
TEST_F(KovaCheckChains, DcChangesAreOffsets)
{
    shell("sox k48000_1.wav -D dc.wav dcshift 0.000244140625 && sox k48000_1.wav -D hp.wav highpass 10");
    shell(
        "ffmpeg -v error -i k48000_1.wav -c:a libopus -b:a 256k o.opus && "
        "ffmpeg -v error -i o.opus -c:a pcm_s24le opus.wav");
    const auto dc = check({"dc.wav"});
    expect_has(dc.out, "dc.wav  ch1  offset  48 kHz  1 s (0 s \u2013 1 s)\n    offset +2048 steps\n");

    const auto hp = check({"--json", "hp.wav"});
    expect_has(hp.out, "\"verdicts\":[\"offset\",\"altered\"]");
    EXPECT_NEAR(number_after(hp.out, "offset_steps"), -2560, 1.0);

    const auto opus = check({"--json", "opus.wav"});
    expect_has(opus.out, "\"verdicts\":[\"offset\",\"altered\"]");
    expect_has(opus.out, "\"dropouts\":{\"count\":0,");
    EXPECT_NEAR(number_after(opus.out, "offset_steps"), -2560, 256);
}

// Noise-shaped dither moves samples by several 16-bit steps, but nothing is
// lost or added: altered, never dropouts. At 96 kHz its noise is louder than
// the difference between neighbouring words, which must not make the words
// look one sample long (a rate changed without resampling).
TEST_F(KovaCheckChains, NoiseShapedDitherIsAltered)
{
    for (const std::string rate : {"48000_10", "96000_1"})
        shell("gst-launch-1.0 -q filesrc location=k" + rate +
              ".wav ! wavparse ! "
              "audioconvert dithering=tpdf noise-shaping=high ! audio/x-raw,format=S16LE ! wavenc ! "
              "filesink location=ns" +
              rate + ".wav");
    const auto r = check({"--json", "ns48000_10.wav"});
    EXPECT_EQ(r.exit_code, 1);
    expect_has(r.out, "\"verdicts\":[\"altered\"],\"first\":0,\"last\":479999,");
    expect_has(r.out, "\"dropouts\":{\"count\":0,");
    EXPECT_GT(number_after(r.out, "differing"), 0);

    const auto r96 = check({"--json", "ns96000_1.wav"});
    EXPECT_EQ(r96.exit_code, 1);
    expect_has(r96.out, "\"verdicts\":[\"altered\"],\"first\":0,\"last\":95999,");
    expect_has(r96.out, "\"repeat\":2,\"repeat_fits\":true");
}

// A 44.1 kHz file through a 48 kHz mixer (sox, ffmpeg, GStreamer): the
// cycle of the 44.1 kHz family, 14.7 kHz, at 48 kHz: ratio 48000 / 44100.
// And a source clock 48001 / 48000 fast resampled into the capture: the
// pattern arrives 20.83 ppm faster.
TEST_F(KovaCheckChains, ResamplingIsNamed)
{
    shell(
        "sox k44100_10.wav sox.wav rate 48000 && "
        "ffmpeg -v error -i k44100_10.wav -af aresample=48000 -c:a pcm_s24le ff.wav && "
        "gst-launch-1.0 -q filesrc location=k44100_10.wav ! wavparse ! audioconvert ! audioresample ! "
        "audio/x-raw,rate=48000 ! audioconvert ! audio/x-raw,format=S24LE ! wavenc ! filesink "
        "location=gst.wav");
    for (const char* f : {"sox.wav", "ff.wav", "gst.wav"}) {
        const auto r = check({"--json", f});
        EXPECT_EQ(r.exit_code, 1) << f;
        expect_has(r.out, "\"verdicts\":[\"resampled\"]");
        expect_has(r.out, "\"resampling\":{\"family_hz\":14700,\"family_rate\":44100,\"ratio\":1.088435,");
    }
    shell("ffmpeg -v error -i k48000_10.wav -af asetrate=48001,aresample=48000 -c:a pcm_s24le drift.wav");
    const auto drift = check({"--json", "drift.wav"});
    expect_has(drift.out, "\"verdicts\":[\"resampled\"]");
    EXPECT_NEAR(number_after(drift.out, "drift_ppm"), 1e6 / 48000, 1.0);
}

// The span must last one of the five durations, judged against the shortest
// that holds it. A second lost in one buffer of 48000 frames (ffmpeg) or
// muted (sox) leaves 9 s: 48000 short of 10 s, in whole cycles, at an end
// or inside, or at the end where the capture ends with the pattern. So too
// 0.5 s of silence then 5.019 s (240912 samples) running to the capture's
// end: 480000 - 240912 = 239088 missing there, a piece --partial-ok passes.
TEST_F(KovaCheckChains, SpansLastOneOfTheDurations)
{
    shell(
        "ffmpeg -v error -i k48000_10.wav -filter_complex \"[0]atrim=end_sample=240000[a];"
        "[0]atrim=start_sample=288000,asetpts=PTS-STARTPTS[b];[a][b]concat=n=2:v=0:a=1\" -c:a pcm_s24le "
        "lost.wav && "
        "sox -n -r 48000 -b 24 -c 1 s1.wav trim 0 1 && sox k48000_10.wav t.wav trim 48000s && "
        "sox s1.wav t.wav muted.wav && "
        "sox s1.wav h.wav trim 0 24000s && sox k48000_10.wav p.wav trim 0 240912s && sox h.wav p.wav "
        "ended.wav");
    const auto r = check({"lost.wav", "muted.wav", "ended.wav"});
    EXPECT_EQ(r.exit_code, 1);
    expect_has(
        r.out,
        "lost.wav  ch1  incomplete  48 kHz  9 s (0 s \u2013 9 s)\n"
        "    48000 samples (1 s) short of 10 s in whole cycles, at an end or inside: the pattern cannot "
        "tell where\n");
    expect_has(r.out,
               "muted.wav  ch1  incomplete  48 kHz  9 s (1 s \u2013 10 s)\n"
               "    missing at the end: 48000 samples (1 s) of 10 s: the capture ended early\n");
    expect_has(r.out,
               "ended.wav  ch1  incomplete  48 kHz  partial 5.019 s (0.5 s \u2013 5.519 s)\n"
               "    missing at the end: 239088 samples (4.981 s) of 10 s: the capture ended early\n");
    EXPECT_EQ(check({"--partial-ok", "ended.wav"}).exit_code, 0);
}

// A dropout's counts come from the span's length alone, whatever duration
// it is judged against: 25 deleted (sox) are 25 lost, with or without
// --expect-duration 10s. One sample repeated after each of seconds 1 to 9
// jumps the cycle by 2 of 3 each time; 480009 samples hold 9 more than
// 10 s, so each is one inserted, nothing lost.
TEST_F(KovaCheckChains, DropoutCountsComeFromTheLength)
{
    shell(
        "sox k48000_10.wav a.wav trim 0 200000s && sox k48000_10.wav b.wav trim 200025s && "
        "sox a.wav b.wav del25.wav");
    const std::string k = slurp("k48000_10.wav"), data = k.substr(44);
    std::string repeated;
    for (std::size_t s = 0; s < 10; ++s)
        repeated +=
            data.substr(3 * 48000 * s, 3 * 48000) + (s < 9 ? data.substr(3 * (48000 * s + 47999), 3) : "");
    write_wav("repeated.wav", k.substr(0, 44), repeated);

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"del25.wav"}, {"--expect-duration", "10s", "del25.wav"}})
        expect_has(check(args).out, "    dropouts: 1\n      at 200000 (4.167 s): 25 lost, 0 inserted\n");
    const auto r = check({"repeated.wav"});
    expect_has(r.out,
               "repeated.wav  ch1  dropouts  48 kHz  partial 10 s (0 s \u2013 10 s)\n    dropouts: 9\n");
    expect_has(r.out, "      at 48000 (1 s): 0 lost, 1 inserted\n");
    expect_has(r.out, "      at 384007 (8 s): 0 lost, 1 inserted\n");
    EXPECT_EQ(r.out.find("added somewhere"), std::string::npos) << r.out;
    expect_has(check({"--json", "repeated.wav"}).out,
               "{\"position\":96001,\"time_s\":2.000021,\"foreign\":0,\"skipped\":-1,\"net\":1,\"lost\":0,"
               "\"lost_exact\":true,\"inserted\":1}");
}

// A 32-bit container shows what the 24-bit grid hides: a sample is its word
// only when its low byte is zero too. ffmpeg's x1.0002 turns 1536 into
// 1536.31 steps (393295 / 256), sox's +0.001 dB is x1.000115 (10^(0.001/20)),
// ffmpeg's dcshift of 4e-8 adds 4e-8 * 2^31 = 85.9 units of 2^-8 step,
// which it truncates to 85: 0.332 steps. In float the same gain is kept.
// Where the header says only 24 of the 32 bits are valid, the low byte says
// nothing and the words pass.
TEST_F(KovaCheckChains, ChangesBelowTheStepOfAWiderContainerAreNamed)
{
    shell(
        "ffmpeg -v error -i k48000_1.wav -af volume=1.0002 -c:a pcm_s32le vol32.wav && "
        "ffmpeg -v error -i k48000_1.wav -af volume=1.0002 -c:a pcm_f32le volf.wav && "
        "sox k48000_1.wav -b 32 gain32.wav gain 0.001 && "
        "ffmpeg -v error -i k48000_1.wav -af dcshift=4e-8 -c:a pcm_s32le dc32.wav");
    for (const auto& [file, factor] :
         {std::pair{"vol32.wav", 1.0002}, {"volf.wav", 1.0002}, {"gain32.wav", 1.000115}}) {
        const auto r = check({"--json", file});
        EXPECT_EQ(r.exit_code, 1) << file;
        expect_has(r.out, "\"verdicts\":[\"gain\"]");
        EXPECT_NEAR(number_after(r.out, "gain_factor"), factor, 2e-6) << file;
    }
    const auto dc = check({"--json", "dc32.wav"});
    expect_has(dc.out, "\"verdicts\":[\"offset\"]");
    EXPECT_NEAR(number_after(dc.out, "offset_steps"), 85.0 / 256, 1e-6);
    // 20 log10(1.0002) = 0.001737 dB: shown, not rounded to 0.
    expect_has(check({"vol32.wav"}).out, "    gain +0.0017 dB (x1.000200)\n");

    // wValidBitsPerSample (bytes 38-39 of ffmpeg's extensible header) made 24.
    std::string data = slurp("vol32.wav");
    ASSERT_EQ(data.substr(38, 2), std::string("\x20\x00", 2));
    data[38] = 24;
    ASSERT_TRUE(kova::support::write_file(dir_ + "/valid24.wav", data));
    const auto valid24 = check({"valid24.wav"});
    EXPECT_EQ(valid24.exit_code, 0) << valid24.out;
    expect_has(valid24.out, "valid24.wav  WAVEX 24-bit int  48 kHz  1 ch  48000 frames\n");
}

// Samples changed here and there leave the words' level as it was: altered,
// with their count. Every sample one step up is an offset of +1, not a gain
// that rounds to it. Made by hand from the 10 s file, 480,000 samples, 24-bit
// little-endian after a 44-byte header.
TEST_F(KovaCheckChains, SmallChangesAreNotGains)
{
    const std::string k = slurp("k48000_10.wav"), header = k.substr(0, 44);
    const auto raised = [&](const std::string& name, auto pick) {
        std::string data = k.substr(44);
        for (std::size_t i = 0; i < data.size() / 3; ++i)
            if (pick(i))
                data[3 * i] = 1;  // one step: the low byte is 00 in every word
        write_wav(name, header, data);
    };
    raised("every1000.wav", [](std::size_t i) { return i % 1000 == 0; });
    raised("two.wav", [](std::size_t i) { return i == 10 || i == 20000; });
    raised("last.wav", [](std::size_t i) { return i == 479999; });
    raised("all.wav", [](std::size_t) { return true; });

    for (const auto& [file, differing] : {std::pair{"every1000.wav", 480}, {"two.wav", 2}, {"last.wav", 1}}) {
        const auto r = check({"--json", file});
        EXPECT_EQ(r.exit_code, 1) << file;
        expect_has(r.out, "\"verdicts\":[\"altered\"],\"first\":0,\"last\":479999,");
        EXPECT_EQ(number_after(r.out, "differing"), differing) << file;
        EXPECT_EQ(number_after(r.out, "max_difference"), 1) << file;
    }
    const auto r = check({"all.wav"});
    expect_has(r.out, "all.wav  ch1  offset  48 kHz  10 s (0 s \u2013 10 s)\n    offset +1 steps\n");
}

// Noise as loud as the pattern next to it lands near a word's level now and
// then; that sample is not the pattern. 2 s of pseudo-random noise of
// +-4096 steps before and after the 10 s file, the sample just before the
// pattern set 100 steps above the word its phase would hold (its last,
// 0x000E00) and the one just after 100 below the first (0x000600).
TEST_F(KovaCheckChains, NoiseBesideThePatternStaysOutside)
{
    unsigned state = 12345;
    const auto noise = [&](std::size_t n) {
        std::string out;
        for (std::size_t i = 0; i < n; ++i) {
            state = state * 1103515245u + 12345u;
            const int v = static_cast<int>(state >> 16 & 0x1FFF) - 4096;
            for (int b = 0; b < 3; ++b) out += static_cast<char>(v >> (8 * b) & 0xFF);
        }
        return out;
    };
    const auto put = [](std::string& s, std::size_t at, int v) {
        for (int b = 0; b < 3; ++b)
            s[3 * at + static_cast<std::size_t>(b)] = static_cast<char>(v >> (8 * b) & 0xFF);
    };
    const std::string k = slurp("k48000_10.wav");
    std::string before = noise(96000), after = noise(96000);
    put(before, 95999, 0xE00 + 100);
    put(after, 0, 0x600 - 100);
    write_wav("noisy.wav", k.substr(0, 44), before + k.substr(44) + after);

    const auto r = check({"--json", "noisy.wav"});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    expect_has(r.out, "\"verdicts\":[\"bit-perfect\"],\"first\":96000,\"last\":575999,");
    expect_has(r.out, "\"before\":{\"samples\":96000,\"silent\":false,");
    expect_has(r.out, "\"after\":{\"samples\":96000,\"silent\":false,");
}

namespace {

// The JSON line of one file in a run over several.
std::string line_of(const std::string& out, const std::string& file)
{
    const auto at = out.find("{\"file\":\"" + file + "\"");
    EXPECT_NE(at, std::string::npos) << file << " missing in " << out;
    return at == std::string::npos ? std::string() : out.substr(at, out.find('\n', at) - at);
}

// Resampled from `source` to the file's rate, faster by `ppm`: the family is
// the source's, the ratio the capture's rate over the source's sped up. A
// drift under 0.1 ppm is below what the report names (a second of dithered
// 16-bit words measures a clock within a few hundredths of a ppm: 0.03 rms
// over 200 of sox's dithers, 0.08 at most), so that is the least tolerance.
void expect_resampled(const std::string& json, long source, long rate, double ppm)
{
    SCOPED_TRACE(json.substr(0, 40));
    expect_has(json, "\"verdicts\":[\"resampled\"]");
    expect_has(json, std::string("\"family_rate\":") + (source % 44100 == 0 ? "44100" : "48000"));
    expect_has(json, "\"source_rate\":" + std::to_string(source) + "}");
    EXPECT_NEAR(number_after(json, "ratio"), static_cast<double>(rate) / source / (1 + ppm * 1e-6), 1e-6);
    EXPECT_NEAR(number_after(json, "drift_ppm"), ppm, std::max(0.01 * std::fabs(ppm), 0.1));
}

const long kRates[] = {44100, 48000, 88200, 96000, 176400, 192000};

}  // namespace

// Every rate to every other (sox's best quality), up and down, within the
// family and across: what is left is the family's tone and the harmonics
// the lower rate holds, each scaled as the source's hold scaled it, which
// tells the rate it was made at.
TEST_F(KovaCheckChains, EveryRatioBetweenTheRatesIsNamed)
{
    std::vector<std::string> files;
    for (const long from : kRates) {
        const std::string k = "k" + std::to_string(from) + "_1.wav";
        for (const long to : kRates)
            if (to != from) {
                files.push_back("r" + std::to_string(from) + "_" + std::to_string(to) + ".wav");
                shell("sox " + k + " -b 24 " + files.back() + " rate -v " + std::to_string(to));
            }
    }
    std::vector<std::string> args{"--json"};
    args.insert(args.end(), files.begin(), files.end());
    const auto r = check(args);
    EXPECT_EQ(r.exit_code, 1);
    for (const auto& f : files) {
        const long from = std::stol(f.substr(1)), to = std::stol(f.substr(f.find('_') + 1));
        expect_resampled(line_of(r.out, f), from, to, 0);
    }
}

// Within a family through other resamplers: ffmpeg's soxr and its own,
// GStreamer's, and libsamplerate's best through ALSA's rate plugin (into a
// file, no sound card); and sox's into 16 bits, dithered.
TEST_F(KovaCheckChains, ResamplingWithinAFamilyIsNamedWhateverTheResampler)
{
    shell("ffmpeg -v error -y -i k48000_1.wav -af aresample=96000:resampler=soxr -c:a pcm_s24le soxr.wav");
    shell("ffmpeg -v error -y -i k192000_1.wav -af aresample=44100 -c:a pcm_s24le swr.wav");
    shell(
        "gst-launch-1.0 -q filesrc location=k96000_1.wav ! wavparse ! audioconvert ! audioresample ! "
        "audio/x-raw,rate=48000 ! audioconvert ! audio/x-raw,format=S24LE ! wavenc ! filesink "
        "location=gst.wav");
    shell(
        "mkdir -p alsa && printf '%s\\n' 'pcm.file { type file; slave.pcm \"null\"; file \"alsa.raw\"; "
        "format \"raw\" }' 'pcm.up { type rate; slave { pcm { type plug; slave.pcm \"file\" }; rate 192000; "
        "format S32_LE } converter \"samplerate_best\" }' > alsa/.asoundrc && "
        "HOME=$PWD/alsa sox -q k48000_1.wav -b 32 -t alsa up && "
        "sox -t raw -r 192000 -e signed -b 32 -c 1 alsa.raw -b 24 alsa.wav");
    shell("sox -R k96000_1.wav -b 16 sox16.wav rate -v 48000");
    const auto r = check({"--json", "soxr.wav", "swr.wav", "gst.wav", "alsa.wav", "sox16.wav"});
    EXPECT_EQ(r.exit_code, 1);
    expect_resampled(line_of(r.out, "soxr.wav"), 48000, 96000, 0);
    expect_resampled(line_of(r.out, "swr.wav"), 192000, 44100, 0);
    expect_resampled(line_of(r.out, "gst.wav"), 96000, 48000, 0);
    expect_resampled(line_of(r.out, "alsa.wav"), 48000, 192000, 0);
    expect_resampled(line_of(r.out, "sox16.wav"), 96000, 48000, 0);
}

// A clock apart, up to 1000 ppm either way, at the rates of both families:
// sox's speed 1.001 plays the pattern 1000 ppm fast, ffmpeg's asetrate
// 48005 (or 47952) takes 48 kHz for that rate, (48005 / 48000 - 1) 10^6 =
// +104.17 ppm (-1000 ppm), and with aresample=48000 from 44101 the pattern
// crosses families 22.68 ppm fast.
TEST_F(KovaCheckChains, ClockDriftIsNamedUpTo1000Ppm)
{
    struct Case {
        const char* source;
        long rate;
        const char* speed;
        double ppm;
    };
    const Case sox_cases[] = {{"k44100_1.wav", 44100, "1.001", 1000},
                              {"k96000_1.wav", 96000, "0.999", -1000},
                              {"k192000_1.wav", 192000, "1.001", 1000}};
    std::vector<std::string> args{"--json"};
    for (const auto& c : sox_cases) {
        args.push_back(std::string("speed") + std::to_string(c.rate) + ".wav");
        shell(std::string("sox ") + c.source + " -b 24 " + args.back() + " speed " + c.speed + " rate -v " +
              std::to_string(c.rate));
    }
    for (const char* s : {"48005", "47952"})
        shell(std::string("ffmpeg -v error -y -i k48000_10.wav -af asetrate=") + s +
              ",aresample=48000 -c:a pcm_s24le asetrate" + s + ".wav");
    shell("ffmpeg -v error -y -i k44100_10.wav -af asetrate=44101,aresample=48000 -c:a pcm_s24le across.wav");
    for (const char* f : {"asetrate48005.wav", "asetrate47952.wav", "across.wav"}) args.push_back(f);
    const auto r = check(args);
    EXPECT_EQ(r.exit_code, 1);
    for (const auto& c : sox_cases)
        expect_resampled(line_of(r.out, "speed" + std::to_string(c.rate) + ".wav"), c.rate, c.rate, c.ppm);
    expect_resampled(line_of(r.out, "asetrate48005.wav"), 48000, 48000, 5e6 / 48000);
    expect_resampled(line_of(r.out, "asetrate47952.wav"), 48000, 48000, -48e6 / 48000);
    expect_resampled(line_of(r.out, "across.wav"), 44100, 48000, 1e6 / 44100);
}

// A resampler rings ahead of what it is given: 1.5 s of digital silence,
// then the pattern, come out as silence up to a few hundred samples before
// 1.5 s (72000 samples at 48 kHz, 144000 at 96 kHz), then the ringing and
// the pattern, which the span takes as one.
TEST_F(KovaCheckChains, ResamplerOnsetBelongsToTheSpan)
{
    shell(
        "sox -n -r 44100 -b 24 -c 1 s44.wav trim 0 1.5 && sox s44.wav k44100_10.wav -b 24 on48.wav rate "
        "48000");
    shell(
        "sox -n -r 48000 -b 24 -c 1 s48.wav trim 0 1.5 && sox s48.wav k48000_1.wav s48k.wav && "
        "ffmpeg -v error -y -i s48k.wav -af aresample=96000:resampler=soxr -c:a pcm_s24le on96.wav");
    const auto r = check({"--json", "on48.wav", "on96.wav"});
    for (const auto& [file, onset] : {std::pair{"on48.wav", 72000.0}, {"on96.wav", 144000.0}}) {
        const std::string json = line_of(r.out, file);
        expect_has(json, "\"verdicts\":[\"resampled\"]");
        expect_has(json,
                   "\"before\":{\"samples\":" +
                       json.substr(json.find("\"first\":") + 8,
                                   json.find(',', json.find("\"first\":")) - json.find("\"first\":") - 8) +
                       ",\"silent\":true");
        expect_has(json, "\"after\":{\"samples\":0,");
        EXPECT_LE(number_after(json, "first"), onset) << file;
        EXPECT_GE(number_after(json, "first"), onset - 512) << file;
    }
}
