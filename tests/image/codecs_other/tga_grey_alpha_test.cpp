// TGA grey with alpha (image types 3 and 11, 16 bits a pixel): a grey byte
// and an alpha byte per pixel, read into an 8-bit grey image with an alpha
// plane. Files are written byte by byte; the expected pixels are the bytes.
#include <gtest/gtest.h>

#include "image/raster_image.h"
#include "tests/support/mutation.h"
#include "tests/support/test_images.h"

namespace sheetmend::testing {
namespace {

// A 3 x 2 header: `type` 3 or 11, 16 bits, the given descriptor.
Bytes Header(uint8_t type, uint8_t descriptor) {
    return {0, 0, type, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2, 0, 16, descriptor};
}

Bytes Join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Grey and alpha of the six pixels, top row first.
struct Expected {
    int grey[2][3];
    int alpha[2][3];
};

void ExpectPage(const Bytes& file, const Expected& e, bool withAlpha = true) {
    RasterImage img;
    ASSERT_TRUE(DecodeBytes(file, kFormatTga, &img)) << img.GetLastError();
    ASSERT_EQ(img.GetWidth(), 3u);
    ASSERT_EQ(img.GetHeight(), 2u);
    ASSERT_EQ(img.GetBpp(), 8u);
    EXPECT_TRUE(img.IsGrayScale());
    ASSERT_EQ(img.HasAlpha(), withAlpha);
    for (int row = 0; row < 2; ++row)
        for (int x = 0; x < 3; ++x) {
            const int y = 1 - row;  // the image's rows count from the bottom
            EXPECT_EQ(img.GetPixelIndex(x, y), e.grey[row][x]) << x << "," << row;
            if (withAlpha) {
                EXPECT_EQ(img.AlphaGet(x, y), e.alpha[row][x]) << x << "," << row;
            }
        }
}

// Pixels as stored: (grey, alpha) pairs.
const Bytes kTop = {10, 255, 128, 0, 255, 64};
const Bytes kBottom = {0, 128, 77, 255, 200, 1};
const Expected kPage = {{{10, 128, 255}, {0, 77, 200}}, {{255, 0, 64}, {128, 255, 1}}};

TEST(TgaGreyAlpha, RawInBothRowOrders) {
    // Descriptor 0x28: top-left origin, 8 alpha bits; rows top first.
    const Bytes topFirst = Join(Header(3, 0x28), Join(kTop, kBottom));
    ExpectPage(topFirst, kPage);
    // Descriptor 0x08: bottom-left origin; rows bottom first.
    ExpectPage(Join(Header(3, 0x08), Join(kBottom, kTop)), kPage);
    // Found by detection too.
    RasterImage detected;
    ASSERT_TRUE(DecodeBytes(topFirst, 0, &detected)) << detected.GetLastError();
    EXPECT_EQ(detected.GetType(), kFormatTga);
    EXPECT_TRUE(detected.HasAlpha());
    ExpectDamageIsRefusedCleanly(topFirst, kFormatTga, 11);
}

TEST(TgaGreyAlpha, RunLengthPacketsAcrossRowEnds) {
    // A run of 4 (50, 200) fills the top row and starts the bottom one; a
    // literal packet of 2 ends it.
    const Bytes data = {0x83, 50, 200, 0x01, 0, 0, 255, 128};
    const Bytes file = Join(Header(11, 0x28), data);
    ExpectPage(file, {{{50, 50, 50}, {50, 0, 255}}, {{200, 200, 200}, {200, 0, 128}}});
    ExpectDamageIsRefusedCleanly(file, kFormatTga, 13);
}

TEST(TgaGreyAlpha, AttributeBitsDecideTheAlpha) {
    // No attribute bits: the second byte is unused and there is no alpha.
    ExpectPage(Join(Header(3, 0x20), Join(kTop, kBottom)), kPage, false);
    // Any other count than 8 or 0 is refused, as is a 16-bit file cut short.
    RasterImage img;
    EXPECT_FALSE(DecodeBytes(Join(Header(3, 0x24), Join(kTop, kBottom)), kFormatTga, &img));
    EXPECT_STREQ(img.GetLastError(), "TGA: 16-bit grey images need 8 alpha bits");
    Bytes cut = Join(Header(3, 0x28), Join(kTop, kBottom));
    cut.pop_back();
    EXPECT_FALSE(DecodeBytes(cut, kFormatTga));
    // 8-bit grey is read as before: one byte a pixel, no alpha.
    Bytes grey8 = Header(3, 0x20);
    grey8[16] = 8;
    grey8.insert(grey8.end(), {1, 2, 3, 4, 5, 6});
    RasterImage g;
    ASSERT_TRUE(DecodeBytes(grey8, kFormatTga, &g));
    EXPECT_FALSE(g.HasAlpha());
    EXPECT_EQ(g.GetPixelIndex(0, 1), 1);
    EXPECT_EQ(g.GetPixelIndex(2, 0), 6);
}

}  // namespace
}  // namespace sheetmend::testing
