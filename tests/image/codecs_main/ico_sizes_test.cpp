// Icon and cursor files whose directory understates an image's size, and
// icons whose AND mask the file ends inside: the image's own header gives its
// length, and mask rows that are missing are opaque.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/format_codes.h"
#include "image/raster_image.h"
#include "tests/image/codecs_main/codec_test_support.h"

namespace sheetmend {
namespace {

using namespace testing;

// A 2 x 2 1-bit cursor or icon, byte by byte. Palette black, white. Rows are
// stored bottom first: colour rows bottom 10, top 01; mask rows bottom 01
// (its right pixel transparent), top 10 (its left pixel transparent).
Bytes TinyIcon(uint8_t type, uint32_t sizeField) {
    Bytes b = {0, 0, type, 0, 1, 0};
    b.insert(b.end(), {2, 2, 2, 0});  // 2 x 2, 2 colours
    Put16(b, 1);                      // planes, or the hot spot's x
    Put16(b, type == 2 ? 0 : 1);      // bit count, or the hot spot's y
    Put32(b, sizeField);
    Put32(b, 22);
    Put32(b, 40);  // the DIB header
    Put32(b, 2);
    Put32(b, 4);  // colour rows and mask rows
    Put16(b, 1);
    Put16(b, 1);
    for (int i = 0; i < 6; ++i) Put32(b, 0);
    b.insert(b.end(), {0, 0, 0, 0, 255, 255, 255, 0});  // palette
    b.insert(b.end(), {0x80, 0, 0, 0, 0x40, 0, 0, 0});  // colour rows
    b.insert(b.end(), {0x40, 0, 0, 0, 0x80, 0, 0, 0});  // mask rows
    return b;
}
constexpr uint32_t kTinyIconBytes = 40 + 8 + 8 + 8;

// Index and alpha of the four pixels, bottom row first, left to right.
void ExpectPixels(const RasterImage& img, const int (&index)[4], const int (&alpha)[4]) {
    ASSERT_EQ(img.GetWidth(), 2u);
    ASSERT_EQ(img.GetHeight(), 2u);
    ASSERT_EQ(img.GetBpp(), 1u);
    ASSERT_TRUE(img.HasAlpha());
    for (int i = 0; i < 4; ++i) {
        const int x = i % 2, y = i / 2;
        EXPECT_EQ(img.GetPixelIndex(x, y), index[i]) << x << "," << y;
        EXPECT_EQ(img.AlphaGet(x, y), alpha[i]) << x << "," << y;
    }
    EXPECT_EQ(img.GetPixelColor(0, 0).red, 255);  // index 1 is white
}

const int kIndex[4] = {1, 0, 0, 1};
const int kAlpha[4] = {255, 0, 0, 255};

TEST(IcoSizes, DirectorySizeSmallerThanTheImage) {
    struct Case {
        const char* what;
        uint8_t type;
        uint32_t size;
    } cases[] = {
        {"icon, exact size", 1, kTinyIconBytes},
        {"cursor, header only", 2, 40},
        {"cursor, one byte short", 2, kTinyIconBytes - 1},
        {"cursor, size 0", 2, 0},
        {"icon, size 12", 1, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RasterImage img;
        ASSERT_TRUE(DecodeFromBytes(TinyIcon(c.type, c.size), kFormatIco, img))
            << img.GetLastError();
        ExpectPixels(img, kIndex, kAlpha);
        EXPECT_EQ(img.GetType(), kFormatIco);
        ExpectDamageIsRefusedCleanly(TinyIcon(c.type, c.size), kFormatIco, 7);
    }
    // A size beyond the end of the file is still refused.
    RasterImage big;
    EXPECT_FALSE(DecodeFromBytes(TinyIcon(1, kTinyIconBytes + 1), kFormatIco, big));
    EXPECT_STREQ(big.GetLastError(), "ICO: icon image lies outside the file");
}

TEST(IcoSizes, ShortMaskIsOpaqueWhereItIsMissing) {
    // The file cut by `cut` bytes, its size field saying what is left.
    const struct {
        const char* what;
        uint32_t cut;
        int alpha[4];  // -1: no alpha plane
    } cases[] = {
        // Without the top mask row the top row is opaque; the bottom row
        // keeps its transparent right pixel.
        {"top mask row missing", 4, {255, 0, 255, 255}},
        // Cut after the first byte of the top mask row: that byte counts.
        {"top mask row cut", 3, {255, 0, 0, 255}},
        {"no mask", 8, {-1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes file = TinyIcon(1, kTinyIconBytes - c.cut);
        file.resize(file.size() - c.cut);
        RasterImage img;
        ASSERT_TRUE(DecodeFromBytes(file, kFormatIco, img)) << img.GetLastError();
        if (c.alpha[0] < 0) {
            EXPECT_FALSE(img.HasAlpha());
            EXPECT_EQ(img.GetPixelIndex(0, 0) + img.GetPixelIndex(1, 1), 2);
        } else {
            ExpectPixels(img, kIndex, c.alpha);
        }
        ExpectDamageIsRefusedCleanly(file, kFormatIco, 9);
    }
    // Colour rows that are cut are not made up.
    Bytes cut = TinyIcon(1, kTinyIconBytes - 10);
    cut.resize(cut.size() - 10);
    RasterImage refused;
    EXPECT_FALSE(DecodeFromBytes(cut, kFormatIco, refused));
    EXPECT_STREQ(refused.GetLastError(), "ICO: file is truncated");
}

TEST(IcoSizes, PngEntryLongerThanItsDirectorySize) {
    RasterImage picture = RandomImage(5, 3, 24, 17);
    const Bytes png = EncodeToBytes(picture, kFormatPng);
    ASSERT_FALSE(png.empty());
    for (uint32_t size : {16u, static_cast<uint32_t>(png.size()) - 12}) {
        SCOPED_TRACE(size);
        Bytes file = {0, 0, 1, 0, 1, 0, 5, 3, 0, 0, 1, 0, 32, 0};
        Put32(file, size);
        Put32(file, 22);
        file.insert(file.end(), png.begin(), png.end());
        RasterImage img;
        ASSERT_TRUE(DecodeFromBytes(file, kFormatIco, img)) << img.GetLastError();
        EXPECT_TRUE(SamePixels(picture, img));
    }
}

}  // namespace
}  // namespace sheetmend
