// What the window paints, checked pixel by pixel on a memory canvas.

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "controls.h"
#include "harness.h"
#include "state.h"

namespace kova::win::test {
namespace {

constexpr std::uint32_t kMagenta = 0x00FF00FF;
constexpr std::uint32_t kWhite = 0x00FFFFFF;

// A 32-bit top-down drawing surface whose pixels can be read directly.
class Canvas {
public:
    Canvas(int width, int height, std::uint32_t fill) : width_(width), height_(height)
    {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
        kept_ = SelectObject(dc_, bitmap_);
        for (int i = 0; i < width * height; ++i) bits_[i] = fill;
    }
    ~Canvas()
    {
        SelectObject(dc_, kept_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_; }
    std::uint32_t at(int x, int y) const
    {
        GdiFlush();
        return bits_[y * width_ + x] & 0x00FFFFFF;
    }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    int width_, height_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ kept_;
    std::uint32_t* bits_ = nullptr;
};

int brightness(std::uint32_t pixel)
{
    return (pixel & 0xFF) + ((pixel >> 8) & 0xFF) + ((pixel >> 16) & 0xFF);
}

TEST_F(Main_Window, BackgroundIsDrawnUnscaledAtTheOriginAndNothingAroundIt)
{
    // Wider and taller than the picture, like the window of "-d".
    Canvas canvas(400, 200, kMagenta);
    paint_background(canvas.dc(), g_resources.background);

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 320;
    info.bmiHeader.biHeight = -142;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> expected(320 * 142);
    ASSERT_EQ(GetDIBits(canvas.dc(), g_resources.background, 0, 142, expected.data(), &info, DIB_RGB_COLORS),
              142);

    int wrong = 0;
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            const bool inside = x < 320 && y < 142;
            const std::uint32_t want = inside ? expected[y * 320 + x] & 0x00FFFFFF : kMagenta;
            wrong += canvas.at(x, y) != want;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(canvas.at(0, 0), 0x0013'7F77u) << "the top row is teal";
}

TEST_F(Main_Window, LabelsAreWhiteLettersOverThePictureAtTheirPlaces)
{
    Canvas plain(320, 142, kMagenta);
    Canvas labelled(320, 142, kMagenta);
    paint_background(plain.dc(), g_resources.background);
    paint_background(labelled.dc(), g_resources.background);
    paint_labels(g_resources, labelled.dc());

    // The boxes the two texts take in the label font.
    RECT boxes[2];
    const HGDIOBJ kept = SelectObject(plain.dc(), g_resources.label_font);
    const struct {
        const char* text;
        int y;
    } labels[] = {{"Samplerate: ", 15}, {"Duration:", 56}};
    for (int i = 0; i < 2; ++i) {
        SIZE size;
        GetTextExtentPoint32A(plain.dc(), labels[i].text, lstrlenA(labels[i].text), &size);
        boxes[i] = {10, labels[i].y, 10 + size.cx, labels[i].y + size.cy};
    }
    SelectObject(plain.dc(), kept);

    int changed[2] = {0, 0}, white[2] = {0, 0}, outside = 0, darker = 0;
    for (int y = 0; y < 142; ++y) {
        for (int x = 0; x < 320; ++x) {
            const std::uint32_t before = plain.at(x, y), after = labelled.at(x, y);
            if (before == after)
                continue;
            const POINT point = {x, y};
            const int box = PtInRect(&boxes[0], point) ? 0 : PtInRect(&boxes[1], point) ? 1 : -1;
            if (box < 0) {
                ++outside;
                continue;
            }
            ++changed[box];
            white[box] += after == kWhite;
            darker += brightness(after) < brightness(before);
        }
    }
    EXPECT_EQ(outside, 0) << "pixels changed outside the two labels";
    EXPECT_EQ(darker, 0) << "white text only lightens the picture";
    for (int i = 0; i < 2; ++i) {
        const int area = (boxes[i].right - boxes[i].left) * (boxes[i].bottom - boxes[i].top);
        EXPECT_GT(white[i], 0) << labels[i].text;
        // Transparent: the picture still shows between the letters.
        EXPECT_LT(changed[i], area / 2) << labels[i].text;
    }
}

}  // namespace
}  // namespace kova::win::test
