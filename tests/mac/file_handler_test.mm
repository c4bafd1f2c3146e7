#import "kovaFileHandler.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#import "support.h"

using namespace kova_test;

namespace {

const Bytes kHeader = pattern_bytes(44, 1);

class MacFileHandler : public testing::Test {
protected:
    void SetUp() override
    {
        chooser = [kovaScriptedChooser install];
        handler = [[kovaFileHandler alloc] init];
    }
    void TearDown() override { [handler release]; }

    int create(const Bytes& bytes) { return [handler createWavFile:bytes.data() :static_cast<int>(bytes.size())]; }
    int append(const Bytes& bytes) { return [handler appendWavFile:bytes.data() :static_cast<int>(bytes.size())]; }
    std::string path() const
    {
        NSString* value = [handler valueForKey:@"path"];
        return value == nil ? std::string() : [value UTF8String];
    }

    Temp_Dir dir;
    kovaScriptedChooser* chooser = nil;
    kovaFileHandler* handler = nil;
};

TEST_F(MacFileHandler, CancelReturnsMinusTwoWritesNothingAndKeepsThePath)
{
    [chooser cancel];
    Stderr_Capture log;
    EXPECT_EQ(create(kHeader), -2);
    EXPECT_EQ(path(), "");

    const std::string first = dir.file("first.wav");
    [chooser answer:first];
    EXPECT_EQ(create(kHeader), 0);
    [chooser cancel];
    EXPECT_EQ(create(pattern_bytes(44, 9)), -2);
    EXPECT_EQ(path(), first);
    EXPECT_EQ(read_file(first), kHeader);
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ([chooser asked], 3);
}

TEST_F(MacFileHandler, CreateReplacesAnExistingFileWithExactlyTheGivenBytes)
{
    const std::string target = dir.file("old.wav");
    write_file(target, pattern_bytes(100000, 5));
    [chooser answer:target];
    EXPECT_EQ(create(kHeader), 0);
    EXPECT_EQ(read_file(target), kHeader);
    EXPECT_EQ(path(), target);
}

TEST_F(MacFileHandler, FailedCreateLogsReturnsMinusOneAndKeepsTheChosenPath)
{
    // A missing folder, and a folder where the file should go: neither can
    // be written, and the folder must survive the attempt.
    const std::string missing = dir.file("no-such-folder/out.wav");
    const std::string folder = dir.file("taken.wav");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);

    for (const std::string& target : {missing, folder}) {
        [chooser answer:target];
        Stderr_Capture log;
        EXPECT_EQ(create(kHeader), -1) << target;
        const std::string text = log.text();
        EXPECT_NE(text.find("] Writing File failed with error "), std::string::npos) << text;
        EXPECT_EQ(path(), target);
    }
    EXPECT_FALSE(exists(missing));
    struct stat st;
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(MacFileHandler, AppendAddsExactlyItsBytesAtTheEnd)
{
    const std::string target = dir.file("grow.wav");
    [chooser answer:target];
    ASSERT_EQ(create(kHeader), 0);

    const Bytes a = pattern_bytes(576000, 2);
    const Bytes b = pattern_bytes(1234, 3);
    EXPECT_EQ(append(a), 0);
    EXPECT_EQ(read_file(target).size(), 44u + a.size());
    EXPECT_EQ(append(b), 0);

    Bytes expected = kHeader;
    expected.insert(expected.end(), a.begin(), a.end());
    expected.insert(expected.end(), b.begin(), b.end());
    EXPECT_EQ(read_file(target), expected);
}

TEST_F(MacFileHandler, AppendWithoutAFileLogsAndReturnsMinusOne)
{
    Stderr_Capture before_create;
    EXPECT_EQ(append(kHeader), -1);
    EXPECT_EQ(count_lines(before_create.text(), "File does not exist!"), 1);

    const std::string target = dir.file("gone.wav");
    [chooser answer:target];
    ASSERT_EQ(create(kHeader), 0);
    ASSERT_EQ(unlink(target.c_str()), 0);

    Stderr_Capture after_delete;
    EXPECT_EQ(append(kHeader), -1);
    EXPECT_EQ(count_lines(after_delete.text(), "File does not exist!"), 1);
    EXPECT_FALSE(exists(target));
}

TEST_F(MacFileHandler, AppendThatCannotWriteLogsAndReturnsMinusOne)
{
    const std::string target = dir.file("broken.wav");
    [chooser answer:target];
    ASSERT_EQ(create(kHeader), 0);

    // The path now leads to a full device: open and seek work, the write
    // raises. Then to a folder, which cannot even be opened for updating.
    ASSERT_EQ(unlink(target.c_str()), 0);
    ASSERT_EQ(symlink("/dev/full", target.c_str()), 0);
    {
        Stderr_Capture log;
        EXPECT_EQ(append(pattern_bytes(576000, 4)), -1);
        EXPECT_EQ(count_lines(log.text(), "Appending to file failed!"), 1);
    }
    ASSERT_EQ(unlink(target.c_str()), 0);
    ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
    {
        Stderr_Capture log;
        EXPECT_EQ(append(kHeader), -1);
        EXPECT_EQ(count_lines(log.text(), "Appending to file failed!"), 1);
    }
}

TEST_F(MacFileHandler, FailingCloseLogsAndReturnsMinusOne)
{
    const std::string target = dir.file("late-error.wav");
    [chooser answer:target];
    ASSERT_EQ(create(kHeader), 0);
    Stderr_Capture log;
    {
        Close_Hook failing;
        EXPECT_EQ(append(pattern_bytes(576000, 6)), -1);
    }
    EXPECT_EQ(count_lines(log.text(), "Appending to file failed!"), 1);
}

TEST_F(MacFileHandler, NegativeLengthsAreRejected)
{
    Stderr_Capture log;
    EXPECT_EQ([handler createWavFile:kHeader.data() :-44], -1);
    EXPECT_EQ([chooser asked], 0) << "no panel for a call that cannot succeed";

    const std::string target = dir.file("kept.wav");
    [chooser answer:target];
    ASSERT_EQ(create(kHeader), 0);
    EXPECT_EQ([handler appendWavFile:kHeader.data() :-1], -1);
    EXPECT_EQ(read_file(target), kHeader);
    const std::string text = log.text();
    EXPECT_EQ(count_lines(text, "Rejected negative length: -44"), 1) << text;
    EXPECT_EQ(count_lines(text, "Rejected negative length: -1"), 1) << text;
}

}  // namespace
