#import "kovaView.h"

#include <gtest/gtest.h>

#include <array>

#import "support.h"

using namespace kova_test;

namespace {

constexpr int kPictureWidth = 320;
constexpr int kPictureHeight = 142;

// The picture as the file holds it: 24-bit, rows bottom-up, blue first.
struct Bmp {
    explicit Bmp(const Bytes& file) : bytes(file) {}
    // Red, green and blue of the pixel `row` rows below the top edge.
    std::array<unsigned, 3> rgb(int x, int row) const
    {
        const std::size_t stride = (kPictureWidth * 3 + 3) / 4 * 4;
        const std::size_t at = 54 + static_cast<std::size_t>(kPictureHeight - 1 - row) * stride + x * 3;
        return {bytes[at + 2], bytes[at + 1], bytes[at]};
    }
    Bytes bytes;
};

// Draws the view the way a redraw does, over a magenta background, and
// reads back what ended up on the window.
NSBitmapImageRep* render(NSView* view, NSRect dirty)
{
    [view lockFocus];
    [[NSColor colorWithCalibratedRed:1.0 green:0.0 blue:1.0 alpha:1.0] set];
    NSRectFill([view bounds]);
    [view drawRect:dirty];
    NSBitmapImageRep* rep = [[[NSBitmapImageRep alloc] initWithFocusedViewRect:[view bounds]] autorelease];
    [view unlockFocus];
    return rep;
}

std::array<unsigned, 3> rgb(NSBitmapImageRep* rep, int x, int row)
{
    NSUInteger pixel[4] = {0, 0, 0, 0};
    [rep getPixel:pixel atX:x y:row];
    return {static_cast<unsigned>(pixel[0]), static_cast<unsigned>(pixel[1]), static_cast<unsigned>(pixel[2])};
}

TEST(MacView, LoadsThePictureByNameAndDrawsItUnscaledInTheLowerLeftCorner)
{
    NSImage* named = [NSImage imageNamed:@"GUI_bg.bmp"];
    ASSERT_NE(named, nil);
    NSString* file = [[NSBundle mainBundle] pathForResource:@"GUI_bg" ofType:@"bmp"];
    ASSERT_NE(file, nil);
    const Bmp bmp(read_file([file UTF8String]));

    // A view larger than the picture, in a window of its own.
    const int width = 400, height = 200;
    NSWindow* window = [[NSWindow alloc] initWithContentRect:NSMakeRect(0, 0, width, height)
                                                   styleMask:NSBorderlessWindowMask
                                                     backing:NSBackingStoreBuffered
                                                       defer:NO];
    kovaView* view = [[kovaView alloc] initWithFrame:NSMakeRect(0, 0, width, height)];
    ASSERT_NE(view, nil);
    EXPECT_EQ([view valueForKey:@"bgImage"], named);
    [[window contentView] addSubview:view];

    // Whatever part is to be redrawn, the whole picture is drawn.
    for (const NSRect dirty : {NSMakeRect(0, 0, width, height), NSMakeRect(350, 190, 1, 1)}) {
        NSBitmapImageRep* rep = render(view, dirty);
        ASSERT_EQ([rep pixelsWide], width);
        ASSERT_EQ([rep pixelsHigh], height);
        int wrong = 0;
        for (int row = 0; row < height; ++row) {
            for (int x = 0; x < width; ++x) {
                const int picture_row = row - (height - kPictureHeight);
                const bool inside = x < kPictureWidth && picture_row >= 0;
                const std::array<unsigned, 3> expected =
                    inside ? bmp.rgb(x, picture_row) : std::array<unsigned, 3>{255, 0, 255};
                if (rgb(rep, x, row) != expected && wrong++ < 5)
                    ADD_FAILURE() << "pixel " << x << "," << row << " from the top";
            }
        }
        EXPECT_EQ(wrong, 0);
    }
    [view release];
    [window release];
}

}  // namespace
