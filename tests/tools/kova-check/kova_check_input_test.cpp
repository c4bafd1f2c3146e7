// kova-check at its edges: containers from other writers on files and pipes,
// sizes left open or cut short, hostile input, options, a report that cannot
// be written, names and figures that must not break the output. Expected
// texts and figures are worked out by hand from the bytes each case holds.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "files.h"
#include "report_text.h"
#include "run_process.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWords[3] = {0x000600, 0x000A00, 0x000E00};

using kova::support::read_file;

void put_le(std::string& bytes, std::size_t at, std::uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i) & 0xFF);
}

std::string le(std::uint64_t value, int size)
{
    std::string s(static_cast<std::size_t>(size), '\0');
    put_le(s, 0, value, size);
    return s;
}

// WAVEFORMATEX; with valid_bits, WAVEFORMATEXTENSIBLE of subformat `tag`.
std::string fmt_body(int tag, int channels, long rate, int align, int bits, int valid_bits = 0)
{
    std::string f = le(valid_bits ? 0xFFFE : tag, 2) + le(channels, 2) + le(rate, 4) +
                    le(static_cast<std::uint64_t>(rate) * align, 4) + le(align, 2) + le(bits, 2);
    if (valid_bits)
        f += le(22, 2) + le(valid_bits, 2) + le(0, 4) + le(tag, 2) +
             std::string("\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 14);
    return f;
}

std::string riff_wav(const std::string& fmt, const std::string& data)
{
    const std::string body = "WAVEfmt " + le(fmt.size(), 4) + fmt + "data" + le(data.size(), 4) + data;
    return "RIFF" + le(body.size(), 4) + body;
}

void expect_one_error_line(const Run_Result& r, const std::string& start)
{
    EXPECT_EQ(r.exit_code, 2) << r.err;
    EXPECT_EQ(r.err.rfind(start, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out, "");
}

class KovaCheckInput : public ::testing::Test {
public:
    static void SetUpTestSuite()
    {
        char name[] = "/tmp/kova-check-input-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        // A reader that gives up early must not take the test down with it.
        std::signal(SIGPIPE, SIG_IGN);
        const auto r = run_program(KOVA_GEN_PATH, {"-q", "-r", "44100", "-d", "1", "-o", "k.wav"}, dir_);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        wav_ = read_file(dir_ + "/k.wav");
        ASSERT_EQ(wav_.size(), 44u + 132300u);
    }
    static void TearDownTestSuite()
    {
        std::signal(SIGPIPE, SIG_DFL);
        fs::remove_all(dir_);
    }

    static std::string path(const std::string& name) { return dir_ + "/" + name; }
    static void write(const std::string& name, const std::string& bytes)
    {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    static void shell(const std::string& command)
    {
        const auto r = run_program("sh", {"-c", command}, dir_);
        ASSERT_EQ(r.exit_code, 0) << command << ": " << r.err;
    }
    static Run_Result check(const std::vector<std::string>& args,
                            const std::function<void()>& before_exec = {})
    {
        return wait_for(start_program(KOVA_CHECK_PATH, args, dir_, before_exec));
    }
    // kova-check reading bytes from a pipe on its standard input; killed
    // (exit 142) should it still be running after 20 s.
    static Run_Result check_piped(const std::string& bytes, const std::vector<std::string>& args = {"-"})
    {
        int p[2];
        if (pipe(p) != 0)
            return {};
        const auto running = start_program(KOVA_CHECK_PATH, args, dir_, [&] {
            dup2(p[0], STDIN_FILENO);
            close(p[0]);
            close(p[1]);
            std::signal(SIGPIPE, SIG_DFL);
            alarm(20);
        });
        close(p[0]);
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(p[1], bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        close(p[1]);
        return wait_for(running);
    }
    // The same test file, piped and as a file, reads the same.
    static void expect_read(const std::string& name, const std::string& bytes, const std::string& format_line,
                            const std::string& channel_line, int exit_code = 0)
    {
        SCOPED_TRACE(name);
        write(name, bytes);
        const std::pair<std::string, Run_Result> runs[] = {{name, check({name})}, {"-", check_piped(bytes)}};
        for (const auto& [shown, r] : runs) {
            EXPECT_EQ(r.exit_code, exit_code) << r.err;
            expect_has(r.out, shown + "  " + format_line + "\n" + shown + "  " + channel_line + "\n");
        }
    }

    static std::string dir_;
    static std::string wav_;  // kova-gen's 44.1 kHz, 1 s file: 44 bytes of header, 132300 of data
};

std::string KovaCheckInput::dir_;
std::string KovaCheckInput::wav_;

const std::string kWhole = "ch1  bit-perfect  44.1 kHz  1 s (0 s \u2013 1 s)";

}  // namespace

// What writers that could not seek back leave in the header: the data runs to
// the end of the file or stream.
TEST_F(KovaCheckInput, SizesLeftOpenAreReadToTheEnd)
{
    std::string zero = wav_;
    put_le(zero, 4, 0, 4);
    put_le(zero, 40, 0, 4);
    expect_read("zero.wav", zero, "WAV 24-bit int  44.1 kHz  1 ch  44100 frames", kWhole);

    // ffmpeg into a pipe: WAV sizes of all ones, RF64's ds64 all zeros, W64
    // sizes of all ones and 2^63 - 1. sox: 0x7FFFEFFF, 2 GiB less a page
    // rounded down to whole frames.
    shell("ffmpeg -v error -i k.wav -c:a pcm_s24le -f wav - | cat > fw.wav");
    shell("ffmpeg -v error -i k.wav -c:a pcm_s24le -rf64 always -f wav - | cat > fr.wav");
    shell("ffmpeg -v error -i k.wav -c:a pcm_s24le -f w64 - | cat > f.w64");
    shell("sox k.wav -t wav - trim 0 44100s | cat > sox.wav");
    const std::string fw = read_file(path("fw.wav")), fr = read_file(path("fr.wav")),
                      w64 = read_file(path("f.w64")), sox = read_file(path("sox.wav"));
    ASSERT_EQ(fw.substr(fw.find("data") + 4, 4), std::string(4, '\xFF'));
    ASSERT_EQ(fr.substr(fr.find("ds64") + 8, 16), std::string(16, '\0'));
    ASSERT_EQ(w64.substr(w64.find("data") + 16, 8), std::string(7, '\xFF') + '\x7F');
    ASSERT_EQ(sox.substr(sox.find("data") + 4, 4), "\xFF\xEF\xFF\x7F");
    const std::pair<std::string, std::string> cases[] = {
        {fw, "WAVEX 24-bit int  44.1 kHz  1 ch  44100 frames"},
        {fr, "RF64 24-bit int  44.1 kHz  1 ch  44100 frames"},
        {w64, "W64 24-bit int  44.1 kHz  1 ch  44100 frames"},
        {sox, "WAVEX 24-bit int  44.1 kHz  1 ch  44100 frames"},
    };
    for (const auto& [bytes, format_line] : cases) {
        const auto r = check_piped(bytes);
        EXPECT_EQ(r.exit_code, 0) << format_line << ": " << r.err;
        expect_has(r.out, "-  " + format_line + "\n");
    }
}

// A header that declares more data than follows is an error, whatever the
// container and however large the size, on a file and on a pipe alike.
TEST_F(KovaCheckInput, CutShortIsTruncated)
{
    shell("ffmpeg -v error -i k.wav -c:a pcm_s24le -rf64 always rf64.wav");
    shell("sox k.wav sox.w64");
    const std::string rf64 = read_file(path("rf64.wav")), w64 = read_file(path("sox.w64"));
    // Payload starts after RF64's 8-byte and W64's 24-byte data chunk header.
    const std::size_t rf64_data = rf64.find("data") + 8, w64_data = w64.find("data") + 24;
    ASSERT_EQ(rf64.substr(rf64_data - 4, 4), std::string(4, '\xFF'));  // the size is in ds64

    // 5 GB declared in 64 bits (W64 counting its chunk header), 3 GB in a
    // WAV's 32; 132300 bytes there.
    std::string rf64_huge = rf64, w64_huge = w64, wav_huge = wav_;
    put_le(rf64_huge, rf64.find("ds64") + 16, 5000000000, 8);
    put_le(w64_huge, w64_data - 8, 5000000024, 8);
    put_le(wav_huge, 40, 3000000000, 4);
    const struct {
        std::string name, bytes, error;
    } cases[] = {
        {"rf64-cut.wav", rf64.substr(0, 100000), std::to_string(100000 - rf64_data) + " of 132300"},
        {"w64-cut.w64", w64.substr(0, 100000), std::to_string(100000 - w64_data) + " of 132300"},
        {"rf64-huge.wav", rf64_huge, "132300 of 5000000000"},
        {"w64-huge.w64", w64_huge, "132300 of 5000000000"},
        {"wav-huge.wav", wav_huge, "132300 of 3000000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write(c.name, c.bytes);
        const auto r = check({c.name});
        EXPECT_EQ(r.err, "kova-check: " + c.name + ": truncated: " + c.error + " data bytes\n");
        EXPECT_EQ(r.exit_code, 2);
        // On a pipe a 32-bit size near 4 GB is a placeholder (below).
        if (c.name == "wav-huge.wav")
            continue;
        const auto piped = check_piped(c.bytes);
        EXPECT_EQ(piped.err, "kova-check: -: truncated: " + c.error + " data bytes\n");
        EXPECT_EQ(piped.exit_code, 2);
    }
    const auto piped = check_piped(wav_huge);
    EXPECT_EQ(piped.exit_code, 0) << piped.err;
    expect_has(piped.out, "-  " + kWhole);
}

// Sample layouts our own parser decodes.
TEST_F(KovaCheckInput, SampleLayouts)
{
    // 8-bit WAV is offset binary: the words times 1024 are 0x18, 0x28, 0x38
    // in the top byte, stored as 0x98, 0xA8, 0xB8. 20 log10(1024) = 60.21 dB.
    std::string bytes8;
    for (int i = 0; i < 44100; ++i) bytes8 += static_cast<char>(0x80 + (kWords[i % 3] << 10 >> 16));
    expect_read("u8.wav", riff_wav(fmt_body(1, 1, 44100, 1, 8), bytes8),
                "WAV 8-bit int  44.1 kHz  1 ch  44100 frames", "ch1  gain  44.1 kHz  1 s (0 s \u2013 1 s)",
                1);
    expect_has(check({"u8.wav"}).out, "    gain +60.21 dB (x1024.000000)\n");

    // The words in 20 valid bits of 24, extensible, two channels, the second
    // silent: the kova-gen file's bytes interleaved with zeros.
    std::string stereo;
    for (std::size_t i = 44; i < wav_.size(); i += 3) stereo += wav_.substr(i, 3) + std::string(3, '\0');
    expect_read("v20.wav", riff_wav(fmt_body(1, 2, 44100, 6, 24, 20), stereo),
                "WAVEX 20-bit int  44.1 kHz  2 ch  44100 frames", kWhole);

    // 32-bit floats, big enough to need the exponent's full range: x2^664.
    // 20 log10(2^664) = 13280 x 0.30103 = 3997.68 dB; 2^664 has 200 digits.
    const std::string two_664 =
        "76545051729020975577310162521900618820659871603466655644272117978380005723696097587725"
        "18451263878452630863421445506126784340350787073554039129252153582464743456837708259182"
        "6884769598224146796816367616";
    std::string floats;
    for (int i = 0; i < 44100; ++i) {
        const double v = std::ldexp(kWords[i % 3], 664 - 23);
        std::uint64_t raw;
        std::memcpy(&raw, &v, 8);
        floats += le(raw, 8);
    }
    write("huge.wav", riff_wav(fmt_body(3, 1, 44100, 8, 64), floats));
    const auto text = check({"huge.wav"});
    EXPECT_EQ(text.exit_code, 1) << text.err;
    expect_has(text.out, "    gain +3997.68 dB (x" + two_664 + ".000000)\n");
    const auto json = check({"--json", "huge.wav"});
    expect_has(json.out, "\"gain_factor\":" + two_664 + ",\"gain_db\":3997.68,");
    write("huge.json", json.out);
    EXPECT_EQ(run_program("python3", {"-m", "json.tool", "huge.json"}, dir_).exit_code, 0) << json.out;
}

// Nothing but a WAV, RF64 or W64 stream reaches past the first bytes of a
// pipe, and by name nothing else reaches libsndfile: one line each.
TEST_F(KovaCheckInput, HostileInputIsOneLine)
{
    // A W64 header of the wrong GUID, on which libsndfile spins forever, and
    // bytes that its MPEG decoder overruns a buffer on.
    const char w64_bytes[] =
        "riff\x2e\x91\xcf\x11\xa5\xd6\x28\x61\xbb\x00\x00\x80"
        "\x32\x02\x00\x03\x00\x18\x00"
        "data\xf3\xac\xd3\x11\x8c\xd1\x00\xc0\x4f\x8e\xdb\x8a\x58\x0b"
        "\x00\x00\x00\x00\x00\x00\x00\x06\x00\x00\x0a\x00\x03\x00";
    const char mpeg_bytes[] = "\xff\xff\x00RWAV\x00\x00\x00\x00\x00";
    const std::string w64(w64_bytes, sizeof w64_bytes - 1), mpeg(mpeg_bytes, sizeof mpeg_bytes - 1);
    ASSERT_EQ(w64.size(), 55u);
    for (const auto& bytes : {w64, mpeg, wav_.substr(0, 30)}) {
        expect_one_error_line(check_piped(bytes), "kova-check: -: ");
        expect_one_error_line(check_piped(bytes, {"/dev/stdin"}), "kova-check: /dev/stdin: ");
    }
    EXPECT_EQ(check_piped(w64).err, "kova-check: -: not a WAV, RF64 or W64 stream\n");

    // AIFF is for files by name only.
    shell("sox k.wav k.aiff");
    expect_one_error_line(check_piped(read_file(path("k.aiff"))),
                          "kova-check: -: not a WAV, RF64 or W64 stream\n");

    write("mpeg.wav", mpeg);
    write("text.flac", "not audio\n");
    write("alaw.wav", riff_wav(fmt_body(6, 1, 8000, 1, 8), std::string(100, '\xD5')));
    write("nodata.wav", wav_.substr(0, 36));
    const struct {
        const char* name;
        std::string error;
    } cases[] = {
        {"mpeg.wav", "not a WAV, RF64, W64, AIFF, FLAC or CAF file"},
        {"text.flac", "not a WAV, RF64, W64, AIFF, FLAC or CAF file"},
        {"alaw.wav", "unsupported encoding: format tag 0x0006 (integer PCM or IEEE float only)"},
        {"nodata.wav", "no data chunk"},
    };
    for (const auto& c : cases)
        expect_one_error_line(check({c.name}), std::string("kova-check: ") + c.name + ": " + c.error + "\n");
}

// An expectation given must be one the generator can meet: any whole
// seconds kova-gen writes (16231 s at 44.1 kHz, 3728 s at 192 kHz), not
// only the five a span lasts without one.
TEST_F(KovaCheckInput, ExpectationsTakeWhatKovaGenMakes)
{
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{"--expect-rate", ""},
                                               {"--expect-duration", ""},
                                               {"--expect-duration", "0"},
                                               {"--expect-duration", "16232"},
                                               {"--expect-rate", "192k", "--expect-duration", "3729"}}) {
        args.emplace_back("k.wav");
        expect_one_error_line(check(args), "kova-check: ");
    }

    // A 2 s file: two seconds when asked for, else short of 10 s.
    ASSERT_EQ(run_program(KOVA_GEN_PATH, {"-q", "-r", "44100", "-d", "2", "-o", "k2.wav"}, dir_).exit_code,
              0);
    EXPECT_EQ(check({"--expect-duration", "2", "k2.wav"}).exit_code, 0);
    expect_has(check({"k2.wav"}).out, "k2.wav  ch1  incomplete  44.1 kHz  2 s");

    // Any spelling: the 1 s file fails each but the first.
    const struct {
        const char* duration;
        int exit_code;
        const char* expected;
    } cases[] = {{"1s", 0, ""}, {"90s", 1, "90 s"}, {"10m", 1, "10 min"}, {"16231", 1, "16231 s"}};
    for (const auto& c : cases) {
        const auto r = check({"--expect-duration", c.duration, "k.wav"});
        EXPECT_EQ(r.exit_code, c.exit_code) << c.duration << ": " << r.err;
        if (c.exit_code)
            expect_has(r.out, std::string("    expected ") + c.expected + "\n");
    }
}

// A report that could not be written is an error, not a silent success.
TEST_F(KovaCheckInput, LostOutputIsAnError)
{
    const auto full = [] {
        const int fd = open("/dev/full", O_WRONLY);
        dup2(fd, STDOUT_FILENO);
    };
    const auto closed = [] { close(STDOUT_FILENO); };
    const std::string no_space = "kova-check: cannot write to standard output: No space left on device\n";
    const std::string bad_fd = "kova-check: cannot write to standard output: Bad file descriptor\n";
    const struct {
        std::vector<std::string> args;
        std::function<void()> redirect;
        const std::string& error;
    } cases[] = {
        {{"k.wav"}, full, no_space},     {{"--json", "k.wav"}, closed, bad_fd}, {{"--help"}, full, no_space},
        {{"--version"}, closed, bad_fd}, {{"k.wav"}, closed, bad_fd},
    };
    for (const auto& c : cases) {
        const auto r = check(c.args, c.redirect);
        EXPECT_EQ(r.exit_code, 2) << c.args[0];
        EXPECT_EQ(r.err, c.error) << c.args[0];
    }
}

// A file's name is shown, never obeyed: no line broken, no screen cleared,
// and every JSON line parses whatever bytes the name holds.
TEST_F(KovaCheckInput, NamesCannotBreakTheOutput)
{
    const std::string control = "a\x1b[2Jb\nc.wav", latin1 = "x\xff\xfey.wav", utf8 = "\xc3\xa9t\xc3\xa9.wav";
    for (const auto& name : {control, latin1, utf8}) write(name, wav_);

    const auto text = check({control});
    EXPECT_EQ(text.out,
              "a\\x1b[2Jb\\nc.wav  WAV 24-bit int  44.1 kHz  1 ch  44100 frames\n"
              "a\\x1b[2Jb\\nc.wav  " +
                  kWhole + "\n");

    const auto json = check({"--json", control, latin1, utf8});
    EXPECT_EQ(json.exit_code, 0) << json.err;
    expect_has(json.out, "{\"file\":\"a\\u001b[2Jb\\u000ac.wav\",\"container\"");
    // Each byte outside UTF-8 is U+FFFD, and file_hex holds them all.
    expect_has(json.out,
               "{\"file\":\"x\\ufffd\\ufffdy.wav\",\"file_hex\":\"78fffe792e776176\",\"container\"");
    expect_has(json.out, "{\"file\":\"" + utf8 + "\",\"container\"");
    std::size_t lines = 0, end;
    for (std::size_t at = 0; (end = json.out.find('\n', at)) != std::string::npos; at = end + 1, ++lines) {
        write("line.json", json.out.substr(at, end - at));
        EXPECT_EQ(run_program("python3", {"-m", "json.tool", "line.json"}, dir_).exit_code, 0)
            << json.out.substr(at, end - at);
    }
    EXPECT_EQ(lines, 3u);
}
