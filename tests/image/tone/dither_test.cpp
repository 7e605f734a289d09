// Dither on uniform and hand-made grey images, where the first diffusion
// steps and the ordered patterns can be worked out by hand.
#include <gtest/gtest.h>

#include "image/raster_image.h"
#include "tests/support/test_images.h"

namespace sheetmend {
namespace {

RasterImage Uniform(uint8_t grey, uint32_t width = 8, uint32_t height = 8) {
    RasterImage img(width, height, 8);
    img.SetGrayPalette();
    img.Clear(grey);
    return img;
}

int32_t WhiteIn4x4(const RasterImage& img) {
    int32_t white = 0;
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x) white += img.GetPixelIndex(x, y);
    return white;
}

TEST(Dither, FloydSteinbergPushesSevenSixteenthsRight) {
    // 128 is not above 128: black, error 128; the right neighbour becomes
    // 128 + 128 * 7 / 16 = 184 and turns white.
    RasterImage img = Uniform(128);
    ASSERT_TRUE(img.Dither(0));
    ASSERT_EQ(img.GetBpp(), 1u);
    EXPECT_EQ(img.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 1);
    EXPECT_EQ(img.GetPaletteColor(1), (RgbQuad{255, 255, 255, 0}));
}

TEST(Dither, UnknownMethodsAreFloydSteinberg) {
    RasterImage ramp(37, 11, 8);
    ramp.SetGrayPalette();
    for (int32_t y = 0; y < 11; ++y)
        for (int32_t x = 0; x < 37; ++x)
            ramp.SetPixelIndex(x, y, static_cast<uint8_t>(x * 7 + y * 5));
    RasterImage floyd(ramp);
    ASSERT_TRUE(floyd.Dither(0));
    for (int32_t method : {8, 9, -1, 1000}) {
        RasterImage other(ramp);
        ASSERT_TRUE(other.Dither(method));
        EXPECT_TRUE(testing::SamePixels(other, floyd)) << method;
    }
    // The kernels differ from one another on the same ramp.
    RasterImage stucki(ramp);
    ASSERT_TRUE(stucki.Dither(3));
    EXPECT_FALSE(testing::SamePixels(stucki, floyd));
}

TEST(Dither, OrderedMatricesOnUniformGreys) {
    for (int32_t method : {1, 7}) {
        RasterImage white = Uniform(255), black = Uniform(0);
        ASSERT_TRUE(white.Dither(method));
        ASSERT_TRUE(black.Dither(method));
        EXPECT_EQ(WhiteIn4x4(white), 16) << method;
        EXPECT_EQ(WhiteIn4x4(black), 0) << method;
    }
    // Method 1 on 127: (127 * 16) / 255 = 7, so white where the matrix holds
    // 0..6. Rows are image rows from the bottom.
    const int32_t m1[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    RasterImage grey = Uniform(127);
    ASSERT_TRUE(grey.Dither(1));
    EXPECT_EQ(WhiteIn4x4(grey), 7);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x)
            EXPECT_EQ(grey.GetPixelIndex(x, y), m1[y % 4][x % 4] < 7) << x << "," << y;
    // Method 7 on 100: white where the Bayer value is below 100, 0 to 96.
    const int32_t m7[4][4] = {
        {0, 192, 48, 240}, {128, 64, 176, 112}, {32, 224, 16, 208}, {160, 96, 144, 80}};
    RasterImage hundred = Uniform(100);
    ASSERT_TRUE(hundred.Dither(7));
    EXPECT_EQ(WhiteIn4x4(hundred), 7);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x)
            EXPECT_EQ(hundred.GetPixelIndex(x, y), m7[y % 4][x % 4] < 100);
}

TEST(Dither, KeepsBookkeepingAndPlanes) {
    RasterImage img = Uniform(90, 5, 3);
    img.SetXDpi(300);
    img.SetType(kFormatTiff);
    img.SetCodecOption(4, kFormatTiff);
    img.AlphaCreate();
    img.AlphaSet(2, 1, 9);
    ASSERT_TRUE(img.Dither(2));
    EXPECT_EQ(img.GetBpp(), 1u);
    EXPECT_EQ(img.GetXDpi(), 300);
    EXPECT_EQ(img.GetType(), kFormatTiff);
    EXPECT_EQ(img.GetCodecOption(kFormatTiff), 4u);
    EXPECT_EQ(img.AlphaGet(2, 1), 9);
    EXPECT_TRUE(testing::PaddingIsZero(img));

    // A 1-bit image is left alone.
    const uint8_t* block = img.GetDib();
    EXPECT_TRUE(img.Dither(0));
    EXPECT_EQ(img.GetDib(), block);
    RasterImage empty;
    EXPECT_FALSE(empty.Dither(0));
}

}  // namespace
}  // namespace sheetmend
