// Border removal on drawn grey pages: each page is text on paper with a
// dark border of a known shape. After the removal nothing dark is left
// outside the text, and every pixel of the text area (which lies 20 pixels
// from the border) is as it was.
#include "pipeline/border_fill.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "tests/support/test_images.h"
#include "tests/support/text_page.h"

namespace sheetmend::testing {
namespace {

constexpr int32_t W = 1000, H = 1300;
constexpr uint8_t kPaper = 230, kInk = 30;

// The text's bounding box, rows top first.
struct Box {
    int32_t x0 = W, y0 = H, x1 = 0, y1 = 0;
    bool Inside(int32_t x, int32_t y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

// A grey page of text whose border tone at (x, y), top row first, is given
// by `border` (-1 where there is none); the text box comes back in `box`.
RasterImage DrawPage(const std::function<int(int32_t, int32_t, const Box&)>& border, Box& box) {
    const BitPage ink = DrawTurned(W, H, TextLineBoxes(W, H, 12, 24, 70), 0);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            if (ink.Ink(x, y))
                box = {std::min(box.x0, x), std::min(box.y0, y), std::max(box.x1, x + 1),
                       std::max(box.y1, y + 1)};
    RasterImage page(W, H, 8);
    page.SetGrayPalette();
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            const int b = border(x, y, box);
            page.SetPixelIndex(x, H - 1 - y, ink.Ink(x, y) ? kInk : b >= 0 ? b : kPaper);
        }
    return page;
}

// Distance of (x, y) outside the text box grown by 20 pixels, per side.
int32_t Gap(int32_t v, int32_t lo) {
    return lo - 20 - v;
}

struct Case {
    const char* name;
    std::function<int(int32_t, int32_t, const Box&)> border;
};

TEST(BorderFill, BordersOfEveryShapeBecomePaperAndTextStays) {
    const double wedge = std::tan(3.0 * kDegree);
    const Case cases[] = {
        {"four sides",
         [](int32_t x, int32_t y, const Box& b) {
             const bool out = Gap(x, b.x0) > 0 || Gap(y, b.y0) > 0 ||
                              Gap(W - 1 - x, W - b.x1) > 0 || Gap(H - 1 - y, H - b.y1) > 0;
             return out ? 15 : -1;
         }},
        {"one side", [](int32_t x, int32_t, const Box& b) { return Gap(x, b.x0) > 0 ? 40 : -1; }},
        {"strip off the edge",
         [](int32_t x, int32_t, const Box&) { return x >= 30 && x < 70 ? 10 : -1; }},
        {"wedge of a turned scan",
         [wedge](int32_t x, int32_t y, const Box&) {
             return y < x * wedge || x < (H - y) * wedge ? 10 : -1;
         }},
        {"book-edge shadow",
         [](int32_t x, int32_t, const Box& b) {
             const int32_t d = W - 1 - x, depth = W - b.x1 - 20;
             if (d >= depth) return -1;
             const double t = static_cast<double>(d) / depth;
             return static_cast<int>(20 + (kPaper - 20) * t * t);
         }},
    };
    for (const Case& c : cases) {
        Box box;
        RasterImage page = DrawPage(c.border, box);
        const RasterImage before(page);
        const BorderFill fill = RemovePageBorder(page);
        EXPECT_TRUE(fill.Found()) << c.name;
        int64_t darkOutside = 0, textChanged = 0;
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x) {
                const uint8_t v = page.GetPixelIndex(x, H - 1 - y);
                if (box.Inside(x, y))
                    textChanged += v != before.GetPixelIndex(x, H - 1 - y);
                else
                    darkOutside += v < kPaper / 2;
            }
        EXPECT_EQ(darkOutside, 0) << c.name;
        EXPECT_EQ(textChanged, 0) << c.name;
    }
}

// A page without a border, and a page whose letters (and a picture) touch
// the edge, keep every byte; so do 1-bit and colour pages without border.
TEST(BorderFill, PagesWithoutBorderAreUntouched) {
    Box box;
    RasterImage plain = DrawPage([](int32_t, int32_t, const Box&) { return -1; }, box);
    RasterImage touching = DrawPage(
        [](int32_t x, int32_t y, const Box&) {
            const bool letter = x < 14 && y % 70 < 24;               // letters cut by the edge
            const bool picture = x > W - 200 && y > 300 && y < 700;  // a photo cut by the edge
            return letter ? kInk : picture ? static_cast<int>((x * 7 + y * 13) % 256) : -1;
        },
        box);
    RasterImage bits = BitPageImage(DrawTurned(W, H, TextLineBoxes(W, H, 12, 24, 70), 0));
    RasterImage colour(plain);
    colour.IncreaseBpp(24);
    for (RasterImage* page : {&plain, &touching, &bits, &colour}) {
        const RasterImage before(*page);
        EXPECT_FALSE(RemovePageBorder(*page).Found()) << page->GetBpp();
        EXPECT_TRUE(SamePixels(*page, before)) << page->GetBpp();
    }
}

// The same four-sided border on a 1-bit and on a colour page: painted in
// the page's paper colour, depth read back as drawn.
TEST(BorderFill, OneBitAndColourPagesGetTheirPaperColour) {
    BitPage ink = DrawTurned(W, H, TextLineBoxes(W, H, 12, 24, 70), 0);
    ink.Fill(0, 0, 60, H);
    ink.Fill(0, 0, W, 45);
    RasterImage bits = BitPageImage(ink);
    const BorderFill fill = RemovePageBorder(bits);
    EXPECT_EQ(fill.left, 60);
    EXPECT_EQ(fill.top, 45);
    EXPECT_EQ(fill.right, 0);
    for (int32_t y = 0; y < H; y += 7) EXPECT_EQ(bits.GetPixelIndex(30, y), 1) << y;

    Box box;
    RasterImage colour =
        DrawPage([](int32_t x, int32_t, const Box&) { return x < 50 ? 0 : -1; }, box);
    colour.IncreaseBpp(24);
    EXPECT_EQ(RemovePageBorder(colour).left, 50);
    const RgbQuad c = colour.GetPixelColor(10, H / 2, false);
    EXPECT_EQ(c.red, kPaper);
    EXPECT_EQ(c.blue, kPaper);
}

}  // namespace
}  // namespace sheetmend::testing
