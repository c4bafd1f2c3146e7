// Generate end to end: the real save dialog answered by a helper thread, the
// file written, replaced, refused or failing midway.

#include "kova/generate.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files.h"
#include "harness.h"
#include "kova/status.h"
#include "res/resource.h"
#include "state.h"

namespace kova::win::test {
namespace {

std::vector<char> read_file(const std::string& path)
{
    const std::string bytes = kova::support::read_file(path);
    return {bytes.begin(), bytes.end()};
}

void write_file(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A Unix folder handed over by the test script, as Wine's Z: drive shows it.
std::string wine_folder(const char* variable)
{
    const char* unix_path = std::getenv(variable);
    if (!unix_path || !*unix_path)
        return {};
    std::string path = std::string("Z:") + unix_path;
    for (char& c : path) c = c == '/' ? '\\' : c;
    if (path.back() != '\\')
        path += '\\';
    return path;
}

// The core's own generation for the same settings, kept in memory: what the
// program's file must hold byte for byte.
class Memory_Output final : public Output {
public:
    std::size_t write(const unsigned char* data, std::size_t size) override
    {
        bytes.insert(bytes.end(), data, data + size);
        return size;
    }
    int close() override { return kOk; }
    std::vector<char> bytes;
};

std::vector<char> core_file(long rate, int seconds)
{
    Wav_Data wav{};
    wav.Format.dwSamplesPerSec = rate;
    wav.iDuration = seconds;
    Block_Buffer buffer;
    Memory_Output out;
    EXPECT_EQ(generate(wav, buffer, out), kOk);
    return out.bytes;
}

class Generating : public Main_Window {
protected:
    void SetUp() override
    {
        Main_Window::SetUp();
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        folder_ = std::string(temp) + "kova-win-test-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder_.c_str(), nullptr);
    }
    void TearDown() override
    {
        WIN32_FIND_DATAA found;
        const HANDLE search = FindFirstFileA((folder_ + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do DeleteFileA((folder_ + "\\" + found.cFileName).c_str());
            while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(folder_.c_str());
        Main_Window::TearDown();
    }

    std::string path(const char* name) const { return folder_ + "\\" + name; }

    // Presses the button, as the user does, while the helper answers.
    std::vector<Seen> generate(const std::vector<Step>& steps)
    {
        return answer_dialogs(steps, [&] { SendMessageA(g_resources.generate_button, BM_CLICK, 0, 0); });
    }

    std::string folder_;
};

TEST_F(Generating, WritesByteForByteWhatTheCoreGenerates)
{
    // Every rate, and the block boundaries: 10 s at 48 and 88.2 kHz end in a
    // shorter last block.
    struct Setting {
        int rate_index, duration_index;
        long rate;
        int seconds;
    };
    const Setting settings[] = {{0, 0, 44100, 1}, {1, 1, 48000, 10}, {2, 1, 88200, 10},
                                {3, 0, 96000, 1}, {4, 0, 176400, 1}, {5, 0, 192000, 1}};
    for (const Setting& setting : settings) {
        const std::string name =
            "kova-" + std::to_string(setting.rate) + "-" + std::to_string(setting.seconds) + ".wav";
        SCOPED_TRACE(name);
        choose(g_resources.sample_rate_list, setting.rate_index);
        choose(g_resources.duration_list, setting.duration_index);

        const auto seen = generate({{Answer::kSave, path(name.c_str())}});
        ASSERT_EQ(seen.size(), 1u) << "a box came up: " << (seen.size() > 1 ? seen[1].text : "");
        const auto written = read_file(path(name.c_str()));
        EXPECT_EQ(written.size(), 44u + static_cast<std::size_t>(setting.rate) * setting.seconds * 3)
            << "header and declared data";
        EXPECT_TRUE(written == core_file(setting.rate, setting.seconds))
            << "differs from the core's generation";
    }
}

TEST_F(Generating, CancelWritesNothingAndShowsNothing)
{
    const auto seen = generate({{Answer::kCancel, path("cancelled.wav")}});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].save_dialog);
    EXPECT_EQ(seen[0].owner, window_);
    EXPECT_FALSE(exists(path("cancelled.wav")));
}

TEST_F(Generating, NameWithoutExtensionGetsWavAndTheNextDialogOpensOnIt)
{
    auto seen = generate({{Answer::kSave, path("first")}});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(read_file(path("first.wav")).size(), 132344u) << "44.1 kHz for 1 s: header and 132,300 bytes";

    seen = generate({{Answer::kCancel, ""}});
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, "first.wav");
    EXPECT_EQ(lstrcmpiA(seen[0].folder.c_str(), folder_.c_str()), 0) << seen[0].folder;
}

TEST_F(Generating, ExistingFileIsReplacedWholeAfterTheOverwritePrompt)
{
    write_file(path("old.wav"), std::string(2000000, 'x'));
    const auto seen = generate({{Answer::kSave, path("old.wav")}, {Answer::kYes, ""}});
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(seen[1].has_yes) << "the prompt asks yes or no";
    const auto written = read_file(path("old.wav"));
    ASSERT_EQ(written.size(), 132344u);
    EXPECT_EQ(std::string(written.data(), 4), "RIFF");
}

TEST_F(Generating, FileHeldOpenGivesTheCreationBoxAndIsLeftAlone)
{
    write_file(path("held.wav"), "kept");
    const HANDLE held =
        CreateFileA(path("held.wav").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const auto seen = generate({{Answer::kSave, path("held.wav")}, {Answer::kYes, ""}, {Answer::kOk, ""}});
    CloseHandle(held);

    ASSERT_EQ(seen.size(), 3u);
    expect_error_box(seen[2], "\n###File creation failed!\n", "Wave Error");
    const auto content = read_file(path("held.wav"));
    EXPECT_EQ(std::string(content.begin(), content.end()), "kept");
}

TEST_F(Generating, WriteFailingMidwayGivesTheWriteBoxAndLeavesNoFile)
{
    const std::string full = wine_folder("KOVA_FULL_DIR");
    if (full.empty())
        GTEST_SKIP() << "KOVA_FULL_DIR is not set: this needs a folder on a 1 MiB file system, which "
                        "scripts/test-all.sh mounts (tmpfs, as root) and names in KOVA_FULL_DIR";

    // 48 kHz for 10 s needs 1,440,044 bytes; the folder holds one block, not two.
    choose(g_resources.sample_rate_list, 1);
    choose(g_resources.duration_list, 1);
    const std::string target = full + "full.wav";
    const auto seen = generate({{Answer::kSave, target}, {Answer::kOk, ""}});

    ASSERT_EQ(seen.size(), 2u);
    expect_error_box(seen[1], "\n###Writing the file failed!\n", "Wave Error");
    EXPECT_FALSE(exists(target)) << "the incomplete file must be deleted";
}

// A disk with no room left: the file is created, its header cannot be
// written. Whatever the status, a file that is not a whole test file is
// removed, so nothing of it stays behind.
TEST_F(Generating, HeaderFailingOnAFullDiskGivesTheFatalBoxAndLeavesNoFile)
{
    const std::string full = wine_folder("KOVA_FULL_DIR");
    if (full.empty())
        GTEST_SKIP() << "KOVA_FULL_DIR is not set: this needs a folder on a 1 MiB file system, which "
                        "scripts/test-all.sh mounts (tmpfs, as root) and names in KOVA_FULL_DIR";
    const std::string filler = full + "filler.bin";
    const HANDLE fill = CreateFileA(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(fill, INVALID_HANDLE_VALUE);
    const std::vector<char> chunk(4096, 0);
    DWORD written = 0;
    while (WriteFile(fill, chunk.data(), static_cast<DWORD>(chunk.size()), &written, nullptr) &&
           written > 0) {
    }
    CloseHandle(fill);

    const std::string target = full + "nothing.wav";
    const auto seen = generate({{Answer::kSave, target}, {Answer::kOk, ""}});
    DeleteFileA(filler.c_str());

    ASSERT_EQ(seen.size(), 2u);
    expect_error_box(seen[1], "\n###Fatal error occured!\n", "Wave Error");
    EXPECT_FALSE(exists(target)) << "a file without its header must be deleted";
}

}  // namespace
}  // namespace kova::win::test
