// Border removal on drawn pages: text lines of known boxes on paper, framed
// by dark borders of known shapes that end 20 pixels from the text. After
// the removal no dark pixel is left outside the text box and the text is
// as it was; pages without a border keep every byte.
#include "pipeline/border_fill.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "tests/support/test_images.h"
#include "tests/support/text_page.h"

namespace sheetmend::testing {
namespace {

constexpr int32_t W = 1000, H = 1300;
const std::vector<Rect> kText = TextLineBoxes(W, H, 12, 24, 70);

struct Box {
    int32_t x0 = W, y0 = H, x1 = 0, y1 = 0;
};
const Box kBox = [] {
    Box b;
    for (const Rect& r : kText)
        b = {std::min(b.x0, int32_t(r.x0)), std::min(b.y0, int32_t(r.y0)),
             std::max(b.x1, int32_t(r.x1)), std::max(b.y1, int32_t(r.y1))};
    return b;
}();

// The border's grey at (x, y), rows top first; -1 where there is none.
using Border = std::function<int(int32_t, int32_t)>;

RasterImage DrawPage(const Border& border, uint32_t bpp) {
    const BitPage ink = DrawTurned(W, H, kText, 0);
    RasterImage page(W, H, 8);
    page.SetGrayPalette();
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            const int b = border(x, y);
            page.SetPixelIndex(x, H - 1 - y, ink.Ink(x, y) ? 30 : b >= 0 ? b : 230);
        }
    if (bpp == 1) page.Threshold(128);
    if (bpp == 24) page.IncreaseBpp(24);
    return page;
}

TEST(BorderFill, BordersOfEveryShapeBecomePaperAndTextStays) {
    const double wedge = std::tan(3.0 * kDegree);
    auto frame = [](int32_t x, int32_t y) {
        return x < kBox.x0 - 20 || y < kBox.y0 - 20 || x >= kBox.x1 + 20 || y >= kBox.y1 + 20 ? 15
                                                                                              : -1;
    };
    const struct {
        const char* name;
        uint32_t bpp;
        Border border;
    } cases[] = {
        {"four sides, grey", 8, frame},
        {"four sides, 1-bit", 1, frame},
        {"four sides, colour", 24, frame},
        {"one side", 8, [](int32_t x, int32_t) { return x < kBox.x0 - 20 ? 40 : -1; }},
        {"strip off the edge", 8, [](int32_t x, int32_t) { return x >= 30 && x < 70 ? 10 : -1; }},
        {"wedges of a turned scan", 8,
         [wedge](int32_t x, int32_t y) { return y < x * wedge || x < (H - y) * wedge ? 10 : -1; }},
        {"book-edge shadow", 8,
         [](int32_t x, int32_t) {
             const double t = double(W - 1 - x) / (W - kBox.x1 - 20);
             return t < 1 ? static_cast<int>(20 + 210 * t * t) : -1;
         }},
    };
    for (const auto& c : cases) {
        RasterImage page = DrawPage(c.border, c.bpp);
        const BitPage before = InkOfImage(page);
        const BorderFill fill = RemovePageBorder(page);
        if (c.name[0] == 'f') {
            EXPECT_EQ(fill.left, kBox.x0 - 20) << c.name;
        }
        EXPECT_TRUE(fill.Found()) << c.name;
        const BitPage after = InkOfImage(page);
        int64_t darkOutside = 0, textChanged = 0;
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x) {
                const bool inside = x >= kBox.x0 && x < kBox.x1 && y >= kBox.y0 && y < kBox.y1;
                (inside ? textChanged : darkOutside) +=
                    inside ? after.Ink(x, y) != before.Ink(x, y) : after.Ink(x, y);
            }
        EXPECT_EQ(darkOutside, 0) << c.name;
        EXPECT_EQ(textChanged, 0) << c.name;
    }
}

// A page without a border, and one whose letters and a picture touch the
// edge, keep every byte, in grey, black and white, and colour.
TEST(BorderFill, PagesWithoutBorderAreUntouched) {
    auto touching = [](int32_t x, int32_t y) {
        if (x < 14 && y % 70 < 24) return 30;  // letters cut by the edge
        if (x > W - 200 && y > 300 && y < 700) return (x * 7 + y * 13) % 256;  // a picture
        return -1;
    };
    auto none = [](int32_t, int32_t) { return -1; };
    for (uint32_t bpp : {1u, 8u, 24u})
        for (const Border& border : {Border(none), Border(touching)}) {
            RasterImage page = DrawPage(border, bpp);
            const RasterImage before(page);
            EXPECT_FALSE(RemovePageBorder(page).Found()) << bpp;
            EXPECT_TRUE(SamePixels(page, before)) << bpp;
        }
}

}  // namespace
}  // namespace sheetmend::testing
