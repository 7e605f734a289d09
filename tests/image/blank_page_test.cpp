// Blank-page detection on pages drawn at 300 dpi (a band of 60 pixels,
// specks under 15 pixels), whose answer is known by construction.
#include "image/blank_page.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "image/pixel_access.h"
#include "image/raster_image.h"
#include "tests/support/test_images.h"

namespace sheetmend {
namespace {

struct Box {
    int32_t x, y, w, h;  // top-left origin
};

// A white 1200 x 1600 page (4 x 5.3 inches) with black boxes.
RasterImage Page(const std::vector<Box>& boxes, uint32_t bpp) {
    RasterImage page(1200, 1600, bpp);
    page.SetXDpi(300);
    page.SetYDpi(300);
    if (bpp == 1) {
        page.SetPaletteColor(0, 255, 255, 255);
        page.SetPaletteColor(1, 0, 0, 0);
    }
    page.Clear(bpp == 1 ? 0 : 255);
    for (const Box& b : boxes)
        for (int32_t y = b.y; y < b.y + b.h; ++y)
            for (int32_t x = b.x; x < b.x + b.w; ++x) page.SetPixelColor(x, 1599 - y, RgbQuad{});
    return page;
}

// Characters of 18 x 30 pixels (a 10-point line) with 6-pixel gaps.
std::vector<Box> TextLine(int32_t x, int32_t y, int32_t letters) {
    std::vector<Box> line;
    for (int32_t i = 0; i < letters; ++i) line.push_back(Box{x + 24 * i, y, 18, 30});
    return line;
}

TEST(BlankPage, TellsBlankNearBlankAndLightPagesApart) {
    const std::vector<std::tuple<const char*, std::vector<Box>, bool>> cases{
        {"empty", {}, true},
        {"a few specks", {{150, 200, 5, 4}, {600, 900, 4, 4}, {1000, 1400, 6, 3}}, true},
        {"a staple hole", {{70, 75, 10, 10}, {96, 75, 10, 10}}, true},
        {"a scanner edge", {{0, 0, 30, 1600}, {0, 1575, 1200, 25}}, true},
        {"one short line", TextLine(400, 700, 6), false},
        {"a page number", {{590, 1480, 18, 30}}, false},
        {"a line in a punched margin", {{20, 300, 40, 40}, {400, 900, 300, 3}}, false},
        {"a page dark with ink", {{100, 120, 960, 1300}}, false},
    };
    for (const auto& [name, boxes, blank] : cases)
        for (const uint32_t bpp : {1u, 24u})
            EXPECT_EQ(MeasureInk(Page(boxes, bpp)).blank, blank) << name << ", " << bpp << " bits";
    // One letter is under the tiny share, so the page is counted whole: its
    // share is exact.
    EXPECT_DOUBLE_EQ(MeasureInk(Page(TextLine(400, 700, 1), 1)).ink, 18 * 30 / (1080.0 * 1480.0));
}

TEST(BlankPage, RowCountMatchesThePixelAccessors) {
    // 9 bits stands for an 8-bit grey ramp, counted by its top bits.
    for (const uint32_t bits : {1u, 4u, 8u, 9u, 24u}) {
        const uint32_t bpp = bits == 9 ? 8 : bits;
        RasterImage image = testing::RandomImage(77, 9, bpp, bits);
        if (bits == 9) image.SetGrayPalette();
        for (uint32_t row = 0; row < 9; ++row)
            for (const auto& [x0, x1] : {std::pair{0, 77}, std::pair{3, 61}, std::pair{9, 16}}) {
                int64_t expected = 0;
                for (int32_t x = x0; x < x1; ++x) {
                    const RgbQuad c = image.GetPixelColor(x, static_cast<int32_t>(row), false);
                    expected += px::Luminance(c.red, c.green, c.blue) < 128;
                }
                EXPECT_EQ(CountInkInRow(image, row, x0, x1), expected)
                    << bits << " bits, row " << row << ", " << x0 << ".." << x1;
            }
    }
}

}  // namespace
}  // namespace sheetmend
