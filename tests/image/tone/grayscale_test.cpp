// GrayScale on hand-made images whose grey values are worked out by hand.
#include <gtest/gtest.h>

#include "image/raster_image.h"
#include "tests/support/test_images.h"

namespace sheetmend {
namespace {

TEST(GrayScale, TwentyFourBitsBecomeLuminanceUnderAnIdentityRamp) {
    RasterImage img(3, 1, 24, kFormatPng);
    img.SetXDpi(300);
    img.SetPixelColor(0, 0, RgbQuad{255, 255, 255, 0});
    img.SetPixelColor(1, 0, RgbQuad{0, 0, 255, 0});   // red: 255 * 306 >> 10
    img.SetPixelColor(2, 0, RgbQuad{30, 20, 10, 0});  // (10*306 + 20*601 + 30*117) >> 10
    ASSERT_TRUE(img.GrayScale());
    EXPECT_EQ(img.GetBpp(), 8u);
    EXPECT_TRUE(img.IsGrayScale());
    EXPECT_EQ(img.GetPixelIndex(0, 0), 255);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 76);
    EXPECT_EQ(img.GetPixelIndex(2, 0), 18);
    EXPECT_EQ(img.GetXDpi(), 300);
    EXPECT_EQ(img.GetType(), kFormatPng);
}

TEST(GrayScale, EightBitsChangeInPlaceAndTheBackgroundFollows) {
    RasterImage img(5, 2, 8);
    img.SetPaletteColor(7, 200, 100, 50);  // (200*306 + 100*601 + 50*117) >> 10 = 124
    img.Clear(7);
    img.SetBackgroundIndex(7);
    const uint8_t* block = img.GetDib();
    ASSERT_TRUE(img.GrayScale());
    EXPECT_EQ(img.GetDib(), block);
    EXPECT_EQ(img.GetPixelIndex(4, 1), 124);
    EXPECT_EQ(img.GetBackgroundIndex(), 124);
    EXPECT_TRUE(img.IsGrayScale());
    EXPECT_TRUE(testing::PaddingIsZero(img));
}

TEST(GrayScale, AFourBitGreyRampIsNotGreyUntilConverted) {
    RasterImage img(16, 1, 4);
    img.SetGrayPalette();  // 0, 17, 34, ... 255
    for (int32_t x = 0; x < 16; ++x) img.SetPixelIndex(x, 0, static_cast<uint8_t>(x));
    EXPECT_FALSE(img.IsGrayScale());
    EXPECT_EQ(img.OptimalThreshold(), -1);

    ASSERT_TRUE(img.GrayScale());
    EXPECT_EQ(img.GetBpp(), 8u);
    EXPECT_TRUE(img.IsGrayScale());
    for (int32_t x = 0; x < 16; ++x) EXPECT_EQ(img.GetPixelIndex(x, 0), 17 * x);
}

TEST(GrayScale, ABackgroundPastThePaletteReadsAsBlack) {
    // Index 5 of a 1-bit image has no entry and reads as black; it stays
    // black rather than picking up whatever follows the palette.
    RasterImage img(3, 3, 1);
    img.SetPaletteColor(1, 255, 255, 255);
    img.SetBackgroundIndex(5);
    ASSERT_TRUE(img.GrayScale());
    EXPECT_EQ(img.GetBackgroundIndex(), 0);

    RasterImage empty;
    EXPECT_FALSE(empty.GrayScale());
}

}  // namespace
}  // namespace sheetmend
