// Generate end to end: the real save dialog answered by a helper thread, the
// file written, replaced, refused or failing midway.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "harness.h"
#include "res/resource.h"
#include "state.h"

namespace kova::win::test {
namespace {

std::vector<char> read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A Unix folder handed over by the test script, as Wine's Z: drive shows it.
std::string wine_folder(const char* variable)
{
    const char* unix_path = std::getenv(variable);
    if (!unix_path || !*unix_path)
        return {};
    std::string path = std::string("Z:") + unix_path;
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    if (path.back() != '\\')
        path += '\\';
    return path;
}

int index_of(const long* values, int count, long value)
{
    for (int i = 0; i < count; ++i)
        if (values[i] == value)
            return i;
    return -1;
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
            do
                DeleteFileA((folder_ + "\\" + found.cFileName).c_str());
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

TEST_F(Generating, WritesByteForByteWhatKovaGenWrites)
{
    const std::string references = wine_folder("KOVA_REFERENCE_DIR");
    if (references.empty())
        GTEST_SKIP() << "KOVA_REFERENCE_DIR is not set: scripts/test-all.sh makes the kova-gen references";

    const long rates[] = {44100, 48000, 88200, 96000, 176400, 192000};
    const long seconds[] = {1, 10, 60, 600, 3600};
    int compared = 0;
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((references + "kova-*Hz-*s.wav").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << "no reference files in " << references;
    do {
        long rate = 0, duration = 0;
        ASSERT_EQ(std::sscanf(found.cFileName, "kova-%ldHz-%lds.wav", &rate, &duration), 2) << found.cFileName;
        SCOPED_TRACE(found.cFileName);
        const int rate_index = index_of(rates, 6, rate), duration_index = index_of(seconds, 5, duration);
        ASSERT_GE(rate_index, 0);
        ASSERT_GE(duration_index, 0);
        choose(g_resources.sample_rate_list, rate_index);
        choose(g_resources.duration_list, duration_index);

        const auto seen = generate({{Answer::kSave, path(found.cFileName)}});
        ASSERT_EQ(seen.size(), 1u) << "a box came up: " << (seen.size() > 1 ? seen[1].text : "");
        const auto written = read_file(path(found.cFileName));
        EXPECT_EQ(written.size(), 44u + static_cast<std::size_t>(rate) * duration * 3) << "header and declared data";
        EXPECT_TRUE(written == read_file(references + found.cFileName)) << "differs from kova-gen's file";
        ++compared;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    EXPECT_GE(compared, 3);
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
    const HANDLE held = CreateFileA(path("held.wav").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
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
        GTEST_SKIP() << "KOVA_FULL_DIR is not set: scripts/test-all.sh mounts a 1 MiB tmpfs for this";

    // 48 kHz for 10 s needs 1,440,044 bytes; the folder holds one block, not two.
    choose(g_resources.sample_rate_list, 1);
    choose(g_resources.duration_list, 1);
    const std::string target = full + "full.wav";
    const auto seen = generate({{Answer::kSave, target}, {Answer::kOk, ""}});

    ASSERT_EQ(seen.size(), 2u);
    expect_error_box(seen[1], "\n###Writing the file failed!\n", "Wave Error");
    EXPECT_FALSE(exists(target)) << "the incomplete file must be deleted";
}

}  // namespace
}  // namespace kova::win::test
