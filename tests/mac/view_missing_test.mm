#import "kovaView.h"

#include <gtest/gtest.h>

#import "support.h"

using namespace kova_test;

namespace {

// This test program is built without resources: there is no "GUI_bg.bmp".
TEST(MacViewWithoutPicture, LogsAndYieldsNoView)
{
    Stderr_Capture log;
    kovaView* view = [[kovaView alloc] initWithFrame:NSMakeRect(0, 0, 320, 142)];
    EXPECT_EQ(view, nil);
    EXPECT_EQ(count_lines(log.text(), "Failed to load bg image"), 1);
}

}  // namespace
