#import "kovaAppDelegate.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#import "kovaFileHandler.h"
#include "kova/pattern.h"
#include "kova/settings.h"
#import "support.h"

using namespace kova_test;

namespace {

// The window, lists, button, menu and delegate as the application gets them:
// from the interface description it ships.
class MacAppDelegate : public testing::Test {
protected:
    void SetUp() override
    {
        chooser = [kovaScriptedChooser install];
        NSDictionary* table = [NSDictionary dictionaryWithObject:NSApp forKey:NSNibOwner];
        ASSERT_TRUE([NSBundle loadNibFile:@KOVA_MAC_XIB externalNameTable:table withZone:NSDefaultMallocZone()]);
        delegate = (kovaAppDelegate*)[NSApp delegate];
        ASSERT_TRUE([delegate isKindOfClass:[kovaAppDelegate class]]);
        [[NSNotificationCenter defaultCenter] postNotificationName:NSApplicationDidFinishLaunchingNotification
                                                            object:NSApp];
    }

    // Picks an entry as the user does: select it, then the list's action.
    static void choose(NSComboBox* box, NSInteger index)
    {
        if (index < 0)
            [box deselectItemAtIndex:[box indexOfSelectedItem]];
        else
            [box selectItemAtIndex:index];
        [box sendAction:[box action] to:[box target]];
    }

    std::string generate(const std::string& name)
    {
        const std::string path = dir.file(name);
        [chooser answer:path];
        [delegate generateFile];
        return path;
    }

    std::string kova_gen(long rate, int seconds)
    {
        const std::string path = dir.file("kova-gen-" + std::to_string(rate) + "-" + std::to_string(seconds) + ".wav");
        const std::string command = std::string("'") + KOVA_GEN_PATH + "' -q -f -r " + std::to_string(rate) +
                                    " -d " + std::to_string(seconds) + " -o '" + path + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return path;
    }

    Temp_Dir dir;
    kovaScriptedChooser* chooser = nil;
    kovaAppDelegate* delegate = nil;
};

std::vector<std::string> items(NSComboBox* box)
{
    std::vector<std::string> texts;
    for (NSInteger i = 0; i < [box numberOfItems]; ++i)
        texts.push_back([[[box itemObjectValueAtIndex:i] description] UTF8String]);
    return texts;
}

NSMenuItem* find_item(NSMenu* menu, SEL action)
{
    for (NSInteger i = 0; i < [menu numberOfItems]; ++i) {
        NSMenuItem* item = [menu itemAtIndex:i];
        if ([item action] == action)
            return item;
        if ([item hasSubmenu]) {
            NSMenuItem* found = find_item([item submenu], action);
            if (found != nil)
                return found;
        }
    }
    return nil;
}

TEST_F(MacAppDelegate, LaunchShowsTheFirstEntriesAndGeneratesWithTheDefaults)
{
    std::vector<std::string> rates, durations;
    for (const auto& r : kova::kRates)
        rates.push_back(r.label);
    for (const auto& d : kova::kDurations)
        durations.push_back(d.label);
    EXPECT_EQ(items([delegate SamplerateBox]), rates);
    EXPECT_EQ(items([delegate DurationBox]), durations);

    EXPECT_EQ([[delegate SamplerateBox] indexOfSelectedItem], 0);
    EXPECT_EQ([[delegate DurationBox] indexOfSelectedItem], 0);
    EXPECT_STREQ([[[delegate SamplerateBox] stringValue] UTF8String], "44.1 kHz");
    EXPECT_STREQ([[[delegate DurationBox] stringValue] UTF8String], "1 Second");

    Stderr_Capture log;
    const std::string file = generate("defaults.wav");
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(read_file(file).size(), 44u + 44100u * 3u);
    EXPECT_EQ(read_file(file), read_file(kova_gen(44100, 1)));
}

TEST_F(MacAppDelegate, ListActionsSetTheRateAndDurationAndIgnoreNoSelection)
{
    choose([delegate SamplerateBox], 3);
    choose([delegate DurationBox], 1);
    const Bytes chosen = read_file(generate("chosen.wav"));

    // Nothing selected: the list reports -1, and the settings stay.
    choose([delegate SamplerateBox], -1);
    choose([delegate DurationBox], -1);
    ASSERT_EQ([[delegate SamplerateBox] indexOfSelectedItem], -1);
    const Bytes unchanged = read_file(generate("unchanged.wav"));

    // The actions read the lists, whoever sends them.
    [[delegate SamplerateBox] selectItemAtIndex:5];
    [delegate Samplerate:[delegate DurationBox]];
    const Bytes from_outlet = read_file(generate("outlet.wav"));

    EXPECT_EQ(chosen, read_file(kova_gen(96000, 10)));
    EXPECT_EQ(unchanged, chosen);
    EXPECT_EQ(from_outlet, read_file(kova_gen(192000, 10)));
}

TEST_F(MacAppDelegate, CancelledPanelWritesAndLogsNothingAndAsksAgainNextTime)
{
    choose([delegate SamplerateBox], 1);
    [chooser cancel];
    Stderr_Capture log;
    [delegate Generate:nil];
    EXPECT_EQ([chooser asked], 1);
    EXPECT_EQ(log.text(), "");
    NSArray* left = [[NSFileManager defaultManager] contentsOfDirectoryAtPath:ns(dir.path()) error:NULL];
    EXPECT_EQ([left count], 0u);

    const std::string file = generate("after-cancel.wav");
    EXPECT_EQ([chooser asked], 2);
    EXPECT_EQ(read_file(file), read_file(kova_gen(48000, 1)));
}

struct Rate_Class {
    NSInteger index;
    int repetitions;
};

class MacCopyData : public MacAppDelegate, public testing::WithParamInterface<Rate_Class> {};

TEST_P(MacCopyData, WritesWholeCyclesFromTheOffsetAndNothingElse)
{
    const Rate_Class rc = GetParam();
    choose([delegate SamplerateBox], rc.index);
    [chooser cancel];  // the pattern words are set before the panel comes up
    [delegate generateFile];

    Bytes cycle;
    for (unsigned char middle : {0x06, 0x0A, 0x0E})
        for (int r = 0; r < rc.repetitions; ++r)
            cycle.insert(cycle.end(), {0x00, middle, 0x00});

    Bytes buffer(kova::kBlockBytes + 64, 0xAA);
    const int end = [delegate copyData:buffer.data() :2 :5];
    ASSERT_EQ(end, 5 + 2 * static_cast<int>(cycle.size()));
    Bytes expected(buffer.size(), 0xAA);
    for (int i = 5; i < end; ++i)
        expected[i] = cycle[(i - 5) % cycle.size()];
    EXPECT_EQ(buffer, expected);

    EXPECT_EQ([delegate copyData:buffer.data() :0 :7], 7);
    EXPECT_EQ([delegate copyData:buffer.data() :-1 :7], 7);
    EXPECT_EQ(buffer, expected);

    const int per_block = static_cast<int>(kova::kBlockBytes / cycle.size());
    EXPECT_EQ(per_block, 64000 / rc.repetitions);
    EXPECT_EQ([delegate copyData:buffer.data() :per_block :0], static_cast<int>(kova::kBlockBytes));
    EXPECT_EQ(buffer[kova::kBlockBytes], 0xAA);
}

INSTANTIATE_TEST_SUITE_P(RateClasses, MacCopyData,
                         testing::Values(Rate_Class{1, 1}, Rate_Class{3, 2}, Rate_Class{4, 4}),
                         [](const testing::TestParamInfo<Rate_Class>& info) {
                             return "Repeat" + std::to_string(info.param.repetitions);
                         });

struct Setting {
    NSInteger rate_index;
    NSInteger duration_index;
};

class MacSameAsKovaGen : public MacAppDelegate, public testing::WithParamInterface<Setting> {};

TEST_P(MacSameAsKovaGen, GeneratedFileIsByteIdentical)
{
    const Setting s = GetParam();
    choose([delegate SamplerateBox], s.rate_index);
    choose([delegate DurationBox], s.duration_index);
    Stderr_Capture log;
    const Bytes ours = read_file(generate("ours.wav"));
    EXPECT_EQ(log.text(), "");

    const long rate = kova::kRates[s.rate_index].rate;
    const int seconds = kova::kDurations[s.duration_index].seconds;
    EXPECT_EQ(ours.size(), 44u + static_cast<std::size_t>(rate) * seconds * 3u);
    EXPECT_TRUE(ours == read_file(kova_gen(rate, seconds)));
}

// Every rate class; data sizes below one block, a whole number of blocks
// (48 kHz 1 min, 96 kHz 10 s, 192 kHz 1 s) and with a shorter last block.
INSTANTIATE_TEST_SUITE_P(Settings, MacSameAsKovaGen,
                         testing::Values(Setting{0, 0}, Setting{1, 2}, Setting{2, 1}, Setting{3, 1},
                                         Setting{4, 0}, Setting{5, 0}),
                         [](const testing::TestParamInfo<Setting>& info) {
                             return std::to_string(kova::kRates[info.param.rate_index].rate) + "Hz_" +
                                    std::to_string(kova::kDurations[info.param.duration_index].seconds) + "s";
                         });

TEST_F(MacAppDelegate, ButtonAndMenuItemWriteTheSameFileEachWithANewHandler)
{
    choose([delegate SamplerateBox], 4);
    choose([delegate DurationBox], 1);

    const std::string by_button = dir.file("button.wav");
    [chooser answer:by_button];
    [[delegate GeneratorButton] performClick:nil];
    kovaFileHandler* first = [[delegate valueForKey:@"_FileHandler"] retain];

    NSMenuItem* item = find_item([NSApp mainMenu], @selector(MenuGenerate:));
    ASSERT_NE(item, nil);
    const std::string by_menu = dir.file("menu.wav");
    [chooser answer:by_menu];
    [[item menu] performActionForItemAtIndex:[[item menu] indexOfItem:item]];
    kovaFileHandler* second = [delegate valueForKey:@"_FileHandler"];

    EXPECT_EQ([chooser asked], 2);
    EXPECT_NE(first, nil);
    EXPECT_NE(first, second);
    [first release];
    const Bytes expected = read_file(kova_gen(176400, 10));
    EXPECT_TRUE(read_file(by_button) == expected);
    EXPECT_TRUE(read_file(by_menu) == expected);
}

// A disk that fills up after the first block: the size limit makes the
// second append fail for real, inside writeData:.
TEST_F(MacAppDelegate, FailingAppendStopsTheGenerationAndRemovesTheFile)
{
    choose([delegate DurationBox], 1);  // 44.1 kHz, 10 s: three blocks
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1000000;
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    Stderr_Capture log;
    const std::string file = generate("full.wav");
    const std::string text = log.text();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);

    EXPECT_FALSE(exists(file));
    EXPECT_EQ(count_lines(text, "Appending to file failed!"), 1) << text;
    EXPECT_EQ(count_lines(text, "Generation failed, incomplete file removed"), 1) << text;

    // The next generation is unaffected.
    EXPECT_EQ(read_file(generate("again.wav")), read_file(kova_gen(44100, 10)));
}

// A delayed write error that shows only when the file is closed.
TEST_F(MacAppDelegate, FailingCloseStopsTheGenerationAndRemovesTheFile)
{
    choose([delegate DurationBox], 1);  // three blocks
    Stderr_Capture log;
    std::string file;
    {
        Close_Hook failing;
        file = generate("late-error.wav");
    }
    const std::string text = log.text();
    EXPECT_FALSE(exists(file));
    EXPECT_EQ(count_lines(text, "Appending to file failed!"), 1) << text;
    EXPECT_EQ(count_lines(text, "Generation failed, incomplete file removed"), 1) << text;
}

TEST_F(MacAppDelegate, VanishedFileIsNotSaidToBeRemoved)
{
    choose([delegate DurationBox], 1);
    const std::string file = dir.file("vanishing.wav");
    Stderr_Capture log;
    {
        Close_Hook vanishing(file);  // gone after the first block
        [chooser answer:file];
        [delegate generateFile];
    }
    const std::string text = log.text();
    EXPECT_EQ(count_lines(text, "File does not exist!"), 1) << text;
    EXPECT_EQ(count_lines(text, "Generation failed"), 1) << text;
    EXPECT_EQ(count_lines(text, "Generation failed, incomplete file removed"), 0) << text;
}

// The buffer is allocated before the panel: without memory nobody is asked
// for a file name in vain.
TEST_F(MacAppDelegate, NoMemoryLogsAndShowsNoPanel)
{
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &saved), 0);
    long pages = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    ASSERT_NE(statm, nullptr) << "needs /proc/self/statm to set a limit just above what is in use";
    ASSERT_EQ(std::fscanf(statm, "%ld", &pages), 1);
    std::fclose(statm);
    // Room for small allocations, not for a 576,000-byte block.
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + 256 * 1024;

    [chooser answer:dir.file("never.wav")];
    id before = [delegate valueForKey:@"_FileHandler"];
    Stderr_Capture log;
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    [delegate generateFile];
    ASSERT_EQ(setrlimit(RLIMIT_AS, &saved), 0);
    const std::string text = log.text();
    EXPECT_EQ([chooser asked], 0);
    EXPECT_EQ([delegate valueForKey:@"_FileHandler"], before) << "no handler was made: the old one stays";
    EXPECT_EQ(count_lines(text, "Failed to allocate memory for file data!"), 1) << text;
    [chooser cancel];
    [delegate generateFile];  // takes the unused answer out of the queue
}

TEST_F(MacAppDelegate, NegativeOffsetIsRejected)
{
    Bytes buffer(64, 0xAA);
    Stderr_Capture log;
    EXPECT_EQ([delegate copyData:buffer.data() + 32 :1 :-9], -1);
    EXPECT_EQ(count_lines(log.text(), "Rejected negative offset: -9"), 1);
    EXPECT_EQ(buffer, Bytes(64, 0xAA));
}

}  // namespace
