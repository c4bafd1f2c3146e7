// kova-check against captures that sox makes from kova-gen's files. Every
// expected verdict and figure is worked out by hand from what sox was asked
// to do, never taken from kova-check's own output.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
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

// Lines of text that must all appear, in this order, in the report.
void expect_lines(const std::string& text, const std::vector<std::string>& lines)
{
    std::size_t at = 0;
    for (const auto& line : lines) {
        const auto found = text.find(line + "\n", at);
        EXPECT_NE(found, std::string::npos) << "missing: " << line << "\nin:\n" << text;
        if (found != std::string::npos)
            at = found + line.size();
    }
}

class KovaCheck : public ::testing::Test {
public:
    static void SetUpTestSuite()
    {
        char name[] = "/tmp/kova-check-test-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        // The test files themselves: 1 s at three rates, one per rate class.
        for (const char* rate : {"44100", "88200", "192000"}) {
            const auto r = run_program(
                KOVA_GEN_PATH, {"-q", "-r", rate, "-d", "1", "-o", std::string("k") + rate + ".wav"}, dir_);
            ASSERT_EQ(r.exit_code, 0) << r.err;
        }
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    static void sox(const std::vector<std::string>& args)
    {
        const auto r = run_program("sox", args, dir_);
        ASSERT_EQ(r.exit_code, 0) << "sox failed: " << r.err;
    }
    static Run_Result check(const std::vector<std::string>& args, const std::string& stdin_path = {})
    {
        return run_program(KOVA_CHECK_PATH, args, dir_, stdin_path);
    }

    static std::string dir_;
};

std::string KovaCheck::dir_;

struct Capture_Case {
    const char* name;                   // file sox writes
    std::vector<std::string> sox_args;  // before the output name; "" marks where it goes
    std::vector<std::string> lines;     // expected in the text report
    int exit_code;
};

void make(const Capture_Case& c)
{
    std::vector<std::string> args;
    for (const auto& a : c.sox_args) args.push_back(a.empty() ? c.name : a);
    KovaCheck::sox(args);
}

}  // namespace

// Any lossless container and sample format carries the words exactly: the
// 16-bit capture too, since their low byte is zero.
TEST_F(KovaCheck, FormatConversionsAreBitPerfect)
{
    const std::vector<Capture_Case> cases = {
        {"c.flac",
         {"k88200.wav", ""},
         {"c.flac  FLAC 24-bit int  88.2 kHz  1 ch  88200 frames",
          "c.flac  ch1  bit-perfect  88.2 kHz  1 s (0 s \u2013 1 s)"},
         0},
        {"c.aiff",
         {"k44100.wav", ""},
         {"c.aiff  AIFF 24-bit int  44.1 kHz  1 ch  44100 frames",
          "c.aiff  ch1  bit-perfect  44.1 kHz  1 s (0 s \u2013 1 s)"},
         0},
        {"c32.wav",
         {"k192000.wav", "-b", "32", "-e", "signed-integer", ""},
         {"c32.wav  WAVEX 32-bit int  192 kHz  1 ch  192000 frames",
          "c32.wav  ch1  bit-perfect  192 kHz  1 s (0 s \u2013 1 s)"},
         0},
        {"cf.wav",
         {"k192000.wav", "-b", "32", "-e", "floating-point", ""},
         {"cf.wav  WAV 32-bit float  192 kHz  1 ch  192000 frames",
          "cf.wav  ch1  bit-perfect  192 kHz  1 s (0 s \u2013 1 s)"},
         0},
        {"cd.wav",
         {"k44100.wav", "-b", "64", "-e", "floating-point", ""},
         {"cd.wav  WAV 64-bit float  44.1 kHz  1 ch  44100 frames",
          "cd.wav  ch1  bit-perfect  44.1 kHz  1 s (0 s \u2013 1 s)"},
         0},
        {"c.w64",
         {"k44100.wav", ""},
         {"c.w64  W64 24-bit int  44.1 kHz  1 ch  44100 frames",
          "c.w64  ch1  bit-perfect  44.1 kHz  1 s (0 s \u2013 1 s)"},
         0},
        // sox writes 24-bit WAV as WAVE_FORMAT_EXTENSIBLE (checked below).
        {"cx.wav",
         {"k88200.wav", ""},
         {"cx.wav  WAVEX 24-bit int  88.2 kHz  1 ch  88200 frames",
          "cx.wav  ch1  bit-perfect  88.2 kHz  1 s (0 s \u2013 1 s)"},
         0},
        {"c16.wav",
         {"k44100.wav", "-D", "-b", "16", ""},
         {"c16.wav  WAV 16-bit int  44.1 kHz  1 ch  44100 frames",
          "c16.wav  ch1  bit-perfect  44.1 kHz  1 s (0 s \u2013 1 s)"},
         0},
    };
    std::vector<std::string> names;
    for (const auto& c : cases) {
        make(c);
        names.push_back(c.name);
    }
    std::ifstream x(dir_ + "/cx.wav", std::ios::binary);
    unsigned char head[22] = {};
    x.read(reinterpret_cast<char*>(head), sizeof head);
    ASSERT_EQ(head[20] | head[21] << 8, 0xFFFE) << "sox no longer writes WAVE_FORMAT_EXTENSIBLE";

    const auto r = check(names);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const auto& c : cases) expect_lines(r.out, c.lines);
}

// The whole of every file kova-gen writes, at each rate class's repeat.
TEST_F(KovaCheck, KovaGenFilesAreWholeAndBitPerfect)
{
    const auto r = check({"--json", "--expect-duration", "1s", "k44100.wav", "k88200.wav", "k192000.wav"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    expect_has(
        r.out,
        "\"file\":\"k44100.wav\",\"container\":\"WAV\",\"sample_format\":\"24-bit int\",\"rate\":44100,"
        "\"channel_count\":1,\"frames\":44100,\"pass\":true");
    expect_has(r.out,
               "\"verdicts\":[\"bit-perfect\"],\"first\":0,\"last\":44099,\"start_s\":0,\"end_s\":1,"
               "\"length\":44100,\"repeat\":1,\"repeat_fits\":true,\"duration_s\":1");
    expect_has(r.out,
               "\"last\":88199,\"start_s\":0,\"end_s\":1,\"length\":88200,\"repeat\":2,\"repeat_fits\":true");
    expect_has(
        r.out,
        "\"last\":191999,\"start_s\":0,\"end_s\":1,\"length\":192000,\"repeat\":4,\"repeat_fits\":true");
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3);

    // An 88.2 kHz file labelled 44.1 kHz, and a 44.1 kHz one labelled
    // 176.4 kHz: every word exact, but at a repeat the rate does not hold.
    // The rate changed without resampling: a failure.
    sox({"-r", "44100", "k88200.wav", "slow.wav"});
    sox({"-r", "176400", "k44100.wav", "fast.wav"});
    const auto wrong = check({"slow.wav", "fast.wav"});
    EXPECT_EQ(wrong.exit_code, 1);
    expect_lines(wrong.out,
                 {"slow.wav  ch1  altered  44.1 kHz  2 s (0 s \u2013 2 s)",
                  "    repeat 2 does not fit 44.1 kHz: the words last 2 samples, as at 88.2 kHz and 96 kHz; "
                  "the rate changed without resampling",
                  "fast.wav  ch1  altered  176.4 kHz  partial 0.25 s (0 s \u2013 0.25 s)",
                  "    repeat 1 does not fit 176.4 kHz: the words last 1 sample, as at 44.1 kHz and 48 kHz; "
                  "the rate changed without resampling"});

    // Rates the pattern is never made at, the same samples relabelled: the
    // words fit 32 kHz's repeat, but no file of the pattern has it.
    sox({"-r", "32000", "k44100.wav", "r32000.wav"});
    sox({"-r", "8000", "k88200.wav", "r8000.wav"});
    sox({"-r", "1", "k44100.wav", "r1.wav"});
    const auto odd = check({"r32000.wav", "r8000.wav"});
    EXPECT_EQ(odd.exit_code, 1);
    expect_lines(
        odd.out,
        {"r32000.wav  ch1  altered  32 kHz  partial 1.378 s (0 s – 1.378 s)",  // 44100 / 32000
         "    32 kHz is not a rate the pattern is made at: the words last 1 sample, as at 44.1 kHz and "
         "48 kHz; the rate changed without resampling",
         "r8000.wav  ch1  altered  8 kHz  partial 11.025 s (0 s – 11.025 s)",  // 88200 / 8000
         "    8 kHz is not a rate the pattern is made at: the words last 2 samples, as at 88.2 kHz and "
         "96 kHz; the rate changed without resampling"});
    const auto one = check({"--json", "r1.wav"});
    EXPECT_EQ(one.exit_code, 1);
    expect_has(one.out, "\"rate\":1,");
    expect_has(one.out, "\"pass\":false,\"pattern_rate\":false,");
    expect_has(one.out, "\"verdicts\":[\"altered\"],\"first\":0,\"last\":44099,");
    expect_has(one.out, "\"repeat\":1,\"repeat_fits\":false,");
}

// Silence around the pattern, a mono file played on a stereo device, and a
// fade: the pattern changed where it fades.
TEST_F(KovaCheck, RegionAndChannels)
{
    sox({"k44100.wav", "pad.wav", "pad", "0.5", "0.25"});
    sox({"-M", "k44100.wav", "k44100.wav", "both.wav"});
    sox({"k44100.wav", "silent.wav", "vol", "0"});
    sox({"-M", "silent.wav", "k44100.wav", "one.wav"});
    // Linear fades of 0.1 s (4410 samples) in and out: at gain (4410 - k) / 4410
    // the third word is off by 3584 k / 4410 steps, over half a step for any
    // k > 0, so exact only from sample 4410 to the fade-out at 39690.
    sox({"k44100.wav", "-D", "fade.wav", "fade", "t", "0.1", "-0", "0.1"});

    const auto r = check({"pad.wav", "both.wav", "one.wav"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    // 0.5 s of silence is 22050 samples; 1 s of pattern ends at 1.5 s.
    expect_lines(r.out, {
                            "pad.wav  WAVEX 24-bit int  44.1 kHz  1 ch  77175 frames",
                            "pad.wav  ch1  bit-perfect  44.1 kHz  1 s (0.5 s \u2013 1.5 s)",
                            "both.wav  WAVEX 24-bit int  44.1 kHz  2 ch  44100 frames",
                            "both.wav  ch1  bit-perfect  44.1 kHz  1 s (0 s \u2013 1 s)",
                            "both.wav  ch2  bit-perfect  44.1 kHz  1 s (0 s \u2013 1 s)",
                            "one.wav  ch1  absent",
                            "one.wav  ch2  bit-perfect  44.1 kHz  1 s (0 s \u2013 1 s)",
                        });
    const auto json = check({"--json", "pad.wav"});
    expect_has(json.out, "\"first\":22050,\"last\":66149,\"start_s\":0.5,\"end_s\":1.5,\"length\":44100");
    expect_has(json.out,
               "\"before\":{\"samples\":22050,\"silent\":true,\"peak\":0},"
               "\"after\":{\"samples\":11025,\"silent\":true,\"peak\":0}");

    // Where the pattern fades it is there, changed: altered, with the
    // stretch that is exact in the middle.
    const auto fade = check({"--json", "fade.wav"});
    EXPECT_EQ(fade.exit_code, 1);
    expect_has(fade.out, "\"verdicts\":[\"altered\"]");
    expect_has(fade.out, "\"verdicts\":[\"bit-perfect\"]");
    expect_has(fade.out, "\"dropouts\":{\"count\":0,");
}

// Changes of level, each checked against figures worked out by hand.
TEST_F(KovaCheck, ChangesOfLevel)
{
    // -0.1 dB is x0.988553: 1536, 2560, 3584 round to 1518, 2531, 3543, whose
    // least-squares factor 21509120 / 21757952 = 0.988564 is -0.0999 dB.
    // -6.02 dB is x0.500035: the words round to exactly half, -6.0206 dB.
    // dcshift 2^-14 of full scale is 2^23 / 2^14 = 512 steps.
    const std::vector<Capture_Case> cases = {
        {"inv.wav",
         {"k44100.wav", "", "vol", "-1"},
         {"inv.wav  ch1  inverted  44.1 kHz  1 s (0 s \u2013 1 s)"},
         1},
        {"g01.wav",
         {"k88200.wav", "-D", "", "gain", "-0.1"},
         {"g01.wav  ch1  gain  88.2 kHz  1 s (0 s \u2013 1 s)", "    gain -0.10 dB (x0.988564)"},
         1},
        {"g6.wav",
         {"k44100.wav", "-D", "", "gain", "-6.02"},
         {"g6.wav  ch1  gain  44.1 kHz  1 s (0 s \u2013 1 s)", "    gain -6.02 dB (x0.500000)"},
         1},
        {"dc.wav",
         {"k192000.wav", "-D", "", "dcshift", "0.00006103515625"},
         {"dc.wav  ch1  offset  192 kHz  1 s (0 s \u2013 1 s)", "    offset +512 steps"},
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        make(c);
        const auto r = check({c.name});
        EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
        expect_lines(r.out, c.lines);
    }
    const auto json = check({"--json", "g01.wav", "g6.wav", "dc.wav"});
    expect_has(json.out, "\"verdicts\":[\"gain\"]");
    expect_has(json.out, "\"gain_db\":-0.1,");
    expect_has(json.out, "\"gain_factor\":0.5,\"gain_db\":-6.02,");
    expect_has(json.out, "\"verdicts\":[\"offset\"]");
    expect_has(json.out, "\"offset_steps\":512,");
}

// Dither and resampling leave the pattern recognisable but not exact.
TEST_F(KovaCheck, AlteredCaptures)
{
    // TPDF dither of +-1 16-bit step, rounded: -1, 0 or +1 step (256 in 24-bit
    // steps), off zero with probability 1/4, so about 11025 of 44100 samples
    // differ and the RMS difference is 256 * sqrt(1/4) = 128.
    sox({"k44100.wav", "-b", "16", "dith.wav", "dither"});
    const auto d = check({"--json", "dith.wav"});
    EXPECT_EQ(d.exit_code, 1);
    expect_has(d.out, "\"verdicts\":[\"altered\"],\"first\":0,\"last\":44099");
    expect_has(d.out, "\"max_difference\":256,");
    const auto differing = std::stol(d.out.substr(d.out.find("\"differing\":") + 12));
    const auto rms = std::stod(d.out.substr(d.out.find("\"rms_difference\":") + 17));
    EXPECT_NEAR(differing, 11025, 600);
    EXPECT_NEAR(rms, 128, 5);

    // 88.2 kHz to 44.1 kHz keeps the mean (2560) and the 14.7 kHz fundamental
    // of the two-sample steps, sampled half a step late: 3584, 2048, 2048. Not
    // the words at a gain but what a resampler leaves of an 88.2 kHz file:
    // the fundamental at cos(30 degrees) of the words' against the same mean.
    sox({"k88200.wav", "rs.wav", "rate", "44100"});
    const auto r = check({"--json", "rs.wav"});
    EXPECT_EQ(r.exit_code, 1);
    expect_has(r.out, "\"verdicts\":[\"resampled\"]");
    expect_has(r.out, "\"family_rate\":44100,\"ratio\":0.5,");
    expect_has(r.out, "\"source_rate\":88200}");
}

// Samples deleted or zeros inserted in the middle; the cycle tells the jump
// modulo its length, the length the rest.
TEST_F(KovaCheck, Dropouts)
{
    sox({"k44100.wav", "head.wav", "trim", "0", "22050s"});
    sox({"k44100.wav", "tail.wav", "trim", "22150s"});
    sox({"k44100.wav", "rest.wav", "trim", "22050s"});
    sox({"k44100.wav", "zeros.wav", "trim", "0", "100s", "vol", "0"});
    sox({"head.wav", "tail.wav", "del.wav"});
    sox({"head.wav", "zeros.wav", "rest.wav", "ins.wav"});
    sox({"head.wav", "zeros.wav", "tail.wav", "zeroed.wav"});
    sox({"del.wav", "-D", "gdel.wav", "gain", "-6.02"});

    const auto r = check({"del.wav", "ins.wav", "zeroed.wav", "gdel.wav"});
    EXPECT_EQ(r.exit_code, 1);
    // 100 deleted at 0.5 s: the cycle jumps by 100 mod 3 = 1, and the span is
    // 100 short of 1 s, all lost there. 100 zeros inserted: 100 foreign
    // samples, then the cycle goes on unmoved, 100 over 1 s.
    expect_lines(r.out, {
                            "del.wav  ch1  dropouts  44.1 kHz  partial 0.998 s (0 s \u2013 0.998 s)",
                            "    dropouts: 1",
                            "      at 22050 (0.5 s): 100 lost, 0 inserted",
                            "    length 44000 samples, -100 against 1 s",
                            "ins.wav  ch1  dropouts  44.1 kHz  partial 1.002 s (0 s \u2013 1.002 s)",
                            "      at 22050 (0.5 s): 0 lost, 100 inserted",
                            "    length 44200 samples, +100 against 1 s",
                            // 100 zeroed in place: the cycle goes on where it would have been.
                            "zeroed.wav  ch1  dropouts  44.1 kHz  1 s (0 s \u2013 1 s)",
                            "      at 22050 (0.5 s): 100 samples replaced",
                            "gdel.wav  ch1  gain+dropouts  44.1 kHz  partial 0.998 s (0 s \u2013 0.998 s)",
                            "    gain -6.02 dB (x0.500000)",
                        });
    const auto json = check({"--json", "del.wav"});
    expect_has(json.out,
               "\"dropouts\":{\"count\":1,\"first\":[{\"position\":22050,\"time_s\":0.5,\"foreign\":0,"
               "\"skipped\":1,\"net\":-1,\"lost\":100,\"lost_exact\":true,\"inserted\":0}]}");
    expect_has(json.out, "\"duration_s\":null,\"nearest_duration_s\":1,\"length_difference\":-100");
}

TEST_F(KovaCheck, NoiseIsAbsent)
{
    sox({"-n", "-r", "44100", "-b", "24", "noise.wav", "synth", "1", "whitenoise", "vol", "0.5"});
    const auto r = check({"noise.wav"});
    EXPECT_EQ(r.exit_code, 1);
    expect_lines(r.out, {"noise.wav  ch1  absent"});
    const auto json = check({"--json", "noise.wav"}).out;
    expect_has(json, "\"pass\":false,");
    expect_has(json, "\"channels\":[{\"channel\":1,\"verdicts\":[\"absent\"]}]}");
}

// A file that cannot be read is one line and exit 2; the others are still checked.
TEST_F(KovaCheck, UnreadableFilesAreOneLineEach)
{
    const std::string wav = kova::support::read_file(dir_ + "/k44100.wav");
    std::ofstream(dir_ + "/empty.wav");
    std::ofstream(dir_ + "/text.wav") << "not audio at all\n";
    std::ofstream(dir_ + "/cut.wav", std::ios::binary) << wav.substr(0, 60000);
    std::ofstream(dir_ + "/head.wav", std::ios::binary) << wav.substr(0, 30);

    const auto r = check({"missing.wav", "empty.wav", "k44100.wav", "text.wav", "cut.wav", "head.wav"});
    EXPECT_EQ(r.exit_code, 2);
    expect_lines(r.out, {"k44100.wav  ch1  bit-perfect  44.1 kHz  1 s (0 s \u2013 1 s)"});
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 5) << r.err;
    for (const char* name : {"missing.wav", "empty.wav", "text.wav", "cut.wav", "head.wav"})
        expect_has(r.err, std::string("kova-check: ") + name + ": ");
    // 60000 bytes hold 59956 of the 132300 data bytes the header declares.
    expect_has(r.err, "kova-check: cut.wav: truncated: 59956 of 132300 data bytes\n");

    // The same cut reaching standard input.
    const auto piped = check({"-"}, dir_ + "/cut.wav");
    EXPECT_EQ(piped.exit_code, 2);
    EXPECT_EQ(piped.err, "kova-check: -: truncated: 59956 of 132300 data bytes\n");
}

TEST_F(KovaCheck, OptionsAndStandardInput)
{
    const auto piped = check({"--expect-rate", "44.1k", "--expect-duration", "1", "-"}, dir_ + "/k44100.wav");
    EXPECT_EQ(piped.exit_code, 0) << piped.err;
    expect_lines(piped.out, {"-  ch1  bit-perfect  44.1 kHz  1 s (0 s \u2013 1 s)"});

    const auto rate = check({"--expect-rate", "48000", "k44100.wav"});
    EXPECT_EQ(rate.exit_code, 1);
    expect_lines(rate.out, {"    expected 48 kHz"});
    const auto duration = check({"--expect-duration", "10s", "k44100.wav"});
    EXPECT_EQ(duration.exit_code, 1);
    expect_lines(duration.out, {"    expected 10 s"});

    const auto version = check({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, "kova-check (KOVA Generator) 1.1.0\n");

    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {"--expect-rate", "22050", "k44100.wav"},
                                               {"--expect-duration", "1x", "k44100.wav"},
                                               {"--bogus", "x"}}) {
        const auto r = check(args);
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.err.rfind("kova-check: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "");
    }
}
