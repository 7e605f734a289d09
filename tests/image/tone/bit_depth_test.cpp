// DecreaseBpp, IncreaseBpp and the standard palettes on small hand-made
// images.
#include <gtest/gtest.h>

#include <cstring>

#include "image/raster_image.h"
#include "tests/support/test_images.h"

namespace sheetmend {
namespace {

using testing::RandomImage;
using testing::SamePixels;

RgbQuad Rgb(uint32_t rgb) {
    return RgbQuad{static_cast<uint8_t>(rgb & 0xFF), static_cast<uint8_t>((rgb >> 8) & 0xFF),
                   static_cast<uint8_t>(rgb >> 16), 0};
}

TEST(DecreaseBpp, RefusesADeeperTarget) {
    RasterImage img = RandomImage(5, 3, 4, 1);
    const RasterImage before(img);
    EXPECT_FALSE(img.DecreaseBpp(8, true));
    EXPECT_STREQ(img.GetLastError(), "DecreaseBpp: target BPP greater than source BPP");
    EXPECT_TRUE(SamePixels(img, before));
    RasterImage empty;
    EXPECT_FALSE(empty.DecreaseBpp(1, false));
}

TEST(DecreaseBpp, SameDepthChangesNothingWithoutALimit) {
    RasterImage img = RandomImage(5, 3, 8, 2);
    const uint8_t* block = img.GetDib();
    EXPECT_TRUE(img.DecreaseBpp(8, true));
    EXPECT_EQ(img.GetDib(), block);
    // An image already limited to fewer important colours is left too.
    img.SetClrImportant(10);
    EXPECT_TRUE(img.DecreaseBpp(8, false, nullptr, 20));
    EXPECT_EQ(img.GetDib(), block);
}

TEST(DecreaseBpp, SixteenBitsAreCreatedAsTwentyFour) {
    RasterImage img = RandomImage(7, 4, 24, 3);
    img.SetXDpi(300);
    const RasterImage before(img);
    EXPECT_TRUE(img.DecreaseBpp(16, true));
    EXPECT_EQ(img.GetBpp(), 24u);
    EXPECT_TRUE(SamePixels(img, before));
    EXPECT_EQ(img.GetXDpi(), 300);
}

TEST(DecreaseBpp, BlackAndWhiteIsTheNearestOfTwo) {
    RasterImage img(2, 1, 24);
    img.SetXDpi(200);
    img.SetPixelColor(0, 0, RgbQuad{127, 127, 127, 0});
    img.SetPixelColor(1, 0, RgbQuad{128, 128, 128, 0});
    ASSERT_TRUE(img.DecreaseBpp(1, false));
    ASSERT_EQ(img.GetBpp(), 1u);
    EXPECT_EQ(img.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 1);
    EXPECT_EQ(img.GetXDpi(), 200);
}

TEST(DecreaseBpp, AColourHalfwayBetweenTwoEntriesTakesTheLowerIndex) {
    // Blue 1 is as far from blue 0 as from blue 2, in whichever order the
    // two entries come; blue 2 itself goes to the entry that holds it. Wide
    // enough to cover whole runs of pixels as well as a tail.
    for (const RgbQuad low : {RgbQuad{0, 0, 0, 0}, RgbQuad{2, 0, 0, 0}}) {
        const RgbQuad given[2] = {low, RgbQuad{static_cast<uint8_t>(2 - low.blue), 0, 0, 0}};
        RasterImage img(19, 1, 24);
        for (int32_t x = 0; x < 19; ++x) img.SetPixelColor(x, 0, RgbQuad{1, 0, 0, 0});
        img.SetPixelColor(18, 0, RgbQuad{2, 0, 0, 0});
        ASSERT_TRUE(img.DecreaseBpp(1, false, given));
        for (int32_t x = 0; x < 18; ++x) EXPECT_EQ(img.GetPixelIndex(x, 0), 0) << x;
        EXPECT_EQ(img.GetPixelIndex(18, 0), low.blue == 2 ? 0 : 1);
    }
}

TEST(DecreaseBpp, ImportantColoursLimitTheEntriesUsed) {
    RasterImage img = RandomImage(19, 9, 24, 4);
    ASSERT_TRUE(img.DecreaseBpp(8, true, nullptr, 20));
    EXPECT_EQ(img.GetClrImportant(), 20u);
    EXPECT_EQ(img.GetPaletteColor(9), Rgb(0xA6CAF0));  // the standard palette
    for (int32_t y = 0; y < 9; ++y)
        for (int32_t x = 0; x < 19; ++x) EXPECT_LT(img.GetPixelIndex(x, y), 20);
}

TEST(DecreaseBpp, APaletteSourceSnapsEveryPushedColour) {
    // Only entries 0 (black) and 1 (white) of the source are important. The
    // first pixel is black and exact, so it pushes no error, yet the push
    // still rewrites its right neighbour through the source's nearest entry:
    // the grey 128 of entry 2 becomes white before it is quantised.
    RasterImage img(2, 1, 8);
    img.SetPaletteColor(1, 255, 255, 255);
    img.SetPaletteColor(2, 128, 128, 128);
    img.SetClrImportant(2);
    img.SetPixelIndex(1, 0, 2);
    RasterImage plain(img);
    ASSERT_TRUE(img.DecreaseBpp(4, true));
    EXPECT_EQ(img.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 15);  // white
    ASSERT_TRUE(plain.DecreaseBpp(4, false));
    EXPECT_EQ(plain.GetPixelIndex(1, 0), 8);  // 808080
}

TEST(IncreaseBpp, RefusesDepthsItCannotMake) {
    RasterImage img = RandomImage(6, 2, 8, 5);
    const RasterImage before(img);
    for (uint32_t bpp : {16u, 32u, 4u, 1u, 0u}) {
        EXPECT_FALSE(img.IncreaseBpp(bpp)) << bpp;
        EXPECT_EQ(img.GetBpp(), 8u);
    }
    EXPECT_TRUE(img.IncreaseBpp(8));
    EXPECT_TRUE(SamePixels(img, before));
    RasterImage colour = RandomImage(6, 2, 24, 6);
    EXPECT_FALSE(colour.IncreaseBpp(8));
    EXPECT_TRUE(colour.IncreaseBpp(24));
}

TEST(IncreaseBpp, OneBitPageBecomesBlackAndWhiteRgb) {
    RasterImage page(3, 2, 1);
    page.SetPaletteColor(1, 255, 255, 255);
    page.SetPixelIndex(1, 0, 1);
    page.SetBackgroundIndex(1);
    page.SetXDpi(300);
    ASSERT_TRUE(page.IncreaseBpp(24));
    EXPECT_EQ(page.GetBpp(), 24u);
    EXPECT_EQ(page.GetPixelColor(0, 0, false), (RgbQuad{0, 0, 0, 0}));
    EXPECT_EQ(page.GetPixelColor(1, 0, false), (RgbQuad{255, 255, 255, 0}));
    EXPECT_EQ(page.GetBackgroundColor(), (RgbQuad{255, 255, 255, 0}));
    EXPECT_EQ(page.GetXDpi(), 300);
    EXPECT_FALSE(page.HasAlpha());
}

TEST(IncreaseBpp, PaletteAlphaBecomesAnAlphaPlane) {
    RasterImage img(2, 1, 4);
    img.SetPaletteColor(3, 10, 20, 30, 77);
    img.SetPixelIndex(1, 0, 3);
    RasterImage deeper(img);
    ASSERT_TRUE(deeper.IncreaseBpp(8));
    EXPECT_EQ(deeper.GetPaletteColor(3), (RgbQuad{30, 20, 10, 77}));
    EXPECT_EQ(deeper.GetPaletteColor(200), (RgbQuad{0, 0, 0, 0}));
    EXPECT_EQ(deeper.GetPixelIndex(1, 0), 3);
    ASSERT_TRUE(img.IncreaseBpp(24));
    ASSERT_TRUE(img.HasAlpha());
    EXPECT_EQ(img.AlphaGet(0, 0), 0);
    EXPECT_EQ(img.AlphaGet(1, 0), 77);
}

TEST(SetStdPalette, LoadsTheTableOfTheDepth) {
    RasterImage eight(1, 1, 8);
    eight.SetPaletteColor(0, 1, 2, 3);
    EXPECT_EQ(eight.GetNearestIndex(Rgb(0x010203)), 0);
    eight.SetStdPalette();
    // The nearest-colour cache forgets the old palette.
    EXPECT_EQ(eight.GetNearestIndex(Rgb(0x010203)), 0);
    EXPECT_EQ(eight.GetNearestIndex(Rgb(0xA6CAF0)), 9);
    const struct {
        uint8_t index;
        uint32_t rgb;
    } spots[] = {{0, 0x000000},   {7, 0xC0C0C0},   {8, 0xC0DCC0},   {16, 0xFFAA00},
                 {40, 0xFE0000},  {112, 0x0000FE}, {160, 0x00FFAA}, {225, 0x505000},
                 {246, 0xFFFBF0}, {247, 0xA0A0A4}, {248, 0x808080}, {255, 0xFFFFFF}};
    for (const auto& s : spots)
        EXPECT_EQ(eight.GetPaletteColor(s.index), Rgb(s.rgb)) << int(s.index);
    for (uint8_t i = 226; i <= 245; ++i) {
        const auto g = static_cast<uint8_t>(0xF2 - 12 * (i - 226));
        EXPECT_EQ(eight.GetPaletteColor(i), (RgbQuad{g, g, g, 0})) << int(i);
    }

    RasterImage four(1, 1, 4), one(1, 1, 1), rgb(1, 1, 24);
    four.SetStdPalette();
    one.SetStdPalette();
    rgb.SetStdPalette();
    EXPECT_EQ(four.GetPaletteColor(1), Rgb(0x800000));
    EXPECT_EQ(four.GetPaletteColor(7), Rgb(0xC0C0C0));
    EXPECT_EQ(four.GetPaletteColor(8), Rgb(0x808080));
    EXPECT_EQ(four.GetPaletteColor(15), Rgb(0xFFFFFF));
    EXPECT_EQ(one.GetPaletteColor(1), Rgb(0xFFFFFF));
    EXPECT_EQ(rgb.GetPalette(), nullptr);
}

}  // namespace
}  // namespace sheetmend
