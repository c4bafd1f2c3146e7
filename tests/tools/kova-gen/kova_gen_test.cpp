#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kova_gen_fixture.h"
#include "run_process.h"

using namespace kova_gen_test;

TEST_F(KovaGen, DefaultsWriteTheNamedFile)
{
    const auto r = run_kova_gen({}, dir_);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "kova-44100Hz-1s.wav: 44100 Hz, 1 s, 132344 bytes\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(listing(), std::vector<std::string>{"kova-44100Hz-1s.wav"});
    EXPECT_EQ(fs::file_size(in_dir("kova-44100Hz-1s.wav")), 132344u);

    const auto quiet = run_kova_gen({"-q", "-f"}, dir_);
    EXPECT_EQ(quiet.exit_code, 0);
    EXPECT_EQ(quiet.out, "");
}

TEST_F(KovaGen, FilesReadBackThroughLibsndfile)
{
    struct Case {
        const char* rate;
        const char* duration;
        int hz;
        long frames;
        int reps;
    } cases[] = {
        {"48k", "1s", 48000, 48000, 1},    {"88200", "1m", 88200, 5292000, 2},
        {"96k", "10", 96000, 960000, 2},   {"176.4k", "1", 176400, 176400, 4},
        {"192k", "3s", 192000, 576000, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.rate) + " " + c.duration);
        const std::string path = in_dir("f.wav");
        const auto r = run_kova_gen({"-q", "-f", "-r", c.rate, "-d", c.duration, "-o", path});
        ASSERT_EQ(r.exit_code, 0) << r.err;

        SF_INFO info{};
        SNDFILE* sf = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
        EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
        EXPECT_EQ(info.channels, 1);
        EXPECT_EQ(info.samplerate, c.hz);
        EXPECT_EQ(info.frames, c.frames);

        // libsndfile notes anything odd about the chunks in its log.
        char log[4096] = {};
        sf_command(sf, SFC_GET_LOG_INFO, log, sizeof log);
        EXPECT_EQ(std::string(log).find("Unknown"), std::string::npos) << log;

        // Integers come back left-justified in 32 bits.
        const int words[3] = {0x000600 << 8, 0x000A00 << 8, 0x000E00 << 8};
        std::vector<int> samples(static_cast<std::size_t>(info.frames));
        ASSERT_EQ(sf_read_int(sf, samples.data(), info.frames), info.frames);
        long wrong = 0;
        for (std::size_t i = 0; i < samples.size(); ++i) wrong += samples[i] != words[(i / c.reps) % 3];
        EXPECT_EQ(wrong, 0);
        sf_close(sf);
    }
}

TEST_F(KovaGen, StandardOutputGetsTheSameBytes)
{
    const auto file = run_kova_gen({"-r", "96k", "-d", "2", "-o", in_dir("a.wav")});
    ASSERT_EQ(file.exit_code, 0);
    const auto piped = run_kova_gen({"-r", "96k", "-d", "2", "-o", "-"});
    ASSERT_EQ(piped.exit_code, 0) << piped.err;
    EXPECT_EQ(piped.out.size(), 576044u);
    EXPECT_TRUE(piped.out == read_file(in_dir("a.wav")));
    // The summary keeps out of the data.
    EXPECT_NE(piped.err.find("-: 96000 Hz, 2 s, 576044 bytes"), std::string::npos) << piped.err;
}

TEST_F(KovaGen, ExistingFileIsReplacedOnlyWithForce)
{
    const std::string path = in_dir("keep.wav");
    write_file(path, "old content");

    const auto refused = run_kova_gen({"-o", path});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_TRUE(one_line_error(refused)) << refused.err;
    EXPECT_NE(refused.err.find(path), std::string::npos);
    EXPECT_EQ(read_file(path), "old content");

    const auto forced = run_kova_gen({"-q", "--force", "-o", path});
    EXPECT_EQ(forced.exit_code, 0) << forced.err;
    EXPECT_EQ(fs::file_size(path), 132344u);
    EXPECT_EQ(listing(), std::vector<std::string>{"keep.wav"});
}

TEST_F(KovaGen, DevicesAreWrittenInPlace)
{
    const auto full = run_kova_gen({"-o", "/dev/full"});
    EXPECT_EQ(full.exit_code, 1);
    EXPECT_EQ(full.err, "kova-gen: write failed: No space left on device\n");
    EXPECT_EQ(full.out, "");

    const auto null = run_kova_gen({"-q", "-r", "192k", "-d", "5", "-o", "/dev/null"});
    EXPECT_EQ(null.exit_code, 0) << null.err;

    struct stat st {};
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST_F(KovaGen, FailedWriteKeepsTheOldFileAndLeavesNothing)
{
    const std::string path = in_dir("old.wav");
    write_file(path, "previous take");
    // A 1 MB file-size limit makes the write fail after the first block.
    // SIGXFSZ keeps its default action, as under a shell's ulimit -f.
    const auto r = run_kova_gen({"-f", "-r", "192k", "-d", "10", "-o", path}, ".", [] {
        rlimit limit{1 << 20, 1 << 20};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "kova-gen: write failed: File too large\n");
    EXPECT_EQ(read_file(path), "previous take");
    EXPECT_EQ(listing(), std::vector<std::string>{"old.wav"});
}

TEST_F(KovaGen, ReadOnlyFolderIsAnError)
{
    write_file(in_dir("old.wav"), "previous take");
    ASSERT_EQ(chmod(dir_.c_str(), 0555), 0);
    // Root writes through permissions; an immutable folder stops it too.
    if (geteuid() == 0) {
        ASSERT_TRUE(set_immutable(dir_, true)) << "cannot mark " << dir_ << " immutable: " << strerror(errno);
    }
    const auto r = run_kova_gen({"-o", in_dir("x.wav")});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(one_line_error(r)) << r.err;
    EXPECT_EQ(r.err.rfind("kova-gen: cannot create " + in_dir("x.wav") + ": ", 0), 0u) << r.err;
    EXPECT_EQ(listing(), std::vector<std::string>{"old.wav"});

    // A file we may write is still not written in place: a failed run
    // would cost its content.
    const auto forced = run_kova_gen({"-f", "-o", in_dir("old.wav")});
    EXPECT_EQ(forced.exit_code, 1);
    EXPECT_TRUE(one_line_error(forced)) << forced.err;
    EXPECT_NE(forced.err.find("folder is not writable"), std::string::npos) << forced.err;
    EXPECT_EQ(read_file(in_dir("old.wav")), "previous take");
}

TEST_F(KovaGen, BadArgumentsAreUsageErrors)
{
    const std::vector<std::vector<std::string>> cases = {
        {"-r", "44"},
        {"-r", "22050"},
        {"-d", "0"},
        {"-d", "1x"},
        {"-d", "-5"},
        {"-r", "192k", "-d", "3729"},
        {"--bogus"},
        {"-r"},
        {"extra"},
        {"-o", ""},
        {"--output="},
        // The pattern is mono; the full signal has 1 to 8 channels.
        {"-c", "2"},
        {"-s", "noise"},
        {"-s", "full", "-c", "9"},
        {"-s", "full", "-c", "0"},
        {"-s", "full", "-r", "192k", "-d", "3729"},
    };
    for (const auto& args : cases) {
        const auto r = run_kova_gen(args, dir_);
        EXPECT_EQ(r.exit_code, 2) << args[0];
        EXPECT_TRUE(one_line_error(r)) << r.err;
    }
    EXPECT_NE(run_kova_gen({"-r", "44"}, dir_).err.find("unknown rate '44'"), std::string::npos);
    EXPECT_NE(run_kova_gen({"-d", "1x"}, dir_).err.find("bad duration '1x'"), std::string::npos);
    EXPECT_TRUE(listing().empty());
}

// The full signal: its own default name and summary, as many channels as
// asked, read back by libsndfile; -s pattern is the default, byte for byte.
// Eight channels of the longest 192 kHz file are 17,178,624,000 data bytes
// (192000 * 3728 * 24): RF64, whose header (104 bytes: 12, ds64 36, an
// extensible fmt 48, data 8) is all that is read of it here.
TEST_F(KovaGen, FullSignalFiles)
{
    const auto r = run_kova_gen({"-s", "full", "-c", "2", "-r", "48k"}, dir_);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "kova-full-2ch-48000Hz-1s.wav: full signal, 48000 Hz, 1 s, 2 ch, 288044 bytes\n");
    SF_INFO info{};
    SNDFILE* sf = sf_open(in_dir("kova-full-2ch-48000Hz-1s.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.frames, 48000);
    sf_close(sf);

    const auto pattern = run_kova_gen({"-q", "-s", "pattern", "-r", "96k", "-o", "-"});
    const auto plain = run_kova_gen({"-q", "-r", "96k", "-o", "-"});
    EXPECT_EQ(pattern.exit_code, 0);
    EXPECT_TRUE(pattern.out == plain.out);

    const auto head = run_program(
        "sh", {"-c", std::string(KOVA_GEN_PATH) + " -q -s full -c 8 -r 192k -d 3728 -o - | head -c 104"},
        dir_);
    ASSERT_EQ(head.out.size(), 104u);
    const auto le = [&](std::size_t at, int bytes) {
        std::uint64_t v = 0;
        for (int k = bytes; k-- > 0;)
            v = v << 8 | static_cast<unsigned char>(head.out[at + static_cast<std::size_t>(k)]);
        return v;
    };
    EXPECT_EQ(head.out.substr(0, 4), "RF64");
    EXPECT_EQ(head.out.substr(12, 4), "ds64");
    EXPECT_EQ(le(20, 8), 17178624096u);  // RIFF size: 104 - 8 + data
    EXPECT_EQ(le(28, 8), 17178624000u);
    EXPECT_EQ(le(36, 8), 715776000u);  // frames
    EXPECT_EQ(head.out.substr(96, 4), "data");
}

TEST_F(KovaGen, VersionAndList)
{
    const auto version = run_kova_gen({"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, "kova-gen (KOVA Generator) 1.1.0\n");

    const auto list = run_kova_gen({"--list"});
    EXPECT_EQ(list.exit_code, 0);
    for (const char* item : {"176400", "176.4 kHz", "3600", "1 Hour", "10 Seconds"})
        EXPECT_NE(list.out.find(item), std::string::npos) << item;
}
