// WBMP: round trips of 1-bit images whatever their palette order, refusal of
// other depths, ImageMagick in both directions, and the strict header checks
// that keep detection from taking other files for wireless bitmaps.
#include <gtest/gtest.h>

#include "image/raster_image.h"
#include "image/streams.h"
#include "tests/support/external_tools.h"
#include "tests/support/mutation.h"
#include "tests/support/test_images.h"

namespace sheetmend::testing {
namespace {

// Same colours pixel by pixel, whatever the indices.
::testing::AssertionResult SameColours(const RasterImage& a, const RasterImage& b) {
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
        return ::testing::AssertionFailure() << "size";
    for (int y = 0; y < static_cast<int>(a.GetHeight()); ++y)
        for (int x = 0; x < static_cast<int>(a.GetWidth()); ++x)
            if (!(a.GetPixelColor(x, y, false) == b.GetPixelColor(x, y, false)))
                return ::testing::AssertionFailure() << "(" << x << "," << y << ")";
    return ::testing::AssertionSuccess();
}

TEST(WbmpCodec, RoundTripsWhateverThePaletteOrder) {
    // 200 pixels wide needs a two-byte width.
    for (bool whiteFirst : {false, true}) {
        RasterImage src = RandomImage(200, 9, 1, 5);
        src.SetPaletteColor(0, whiteFirst ? 255 : 0, whiteFirst ? 255 : 0, whiteFirst ? 255 : 0);
        src.SetPaletteColor(1, whiteFirst ? 0 : 255, whiteFirst ? 0 : 255, whiteFirst ? 0 : 255);
        const Bytes file = EncodeExpectingSuccess(src, kFormatWbmp);
        EXPECT_EQ(file.size(), 2 + 2 + 1 + 25u * 9);
        RasterImage back;
        ASSERT_TRUE(DecodeBytes(file, kFormatWbmp, &back)) << back.GetLastError();
        EXPECT_TRUE(SameColours(src, back)) << whiteFirst;
        EXPECT_TRUE(PaddingIsZero(back));
    }
}

TEST(WbmpCodec, RefusesAnythingButOneBit) {
    for (uint32_t bpp : {4u, 8u, 24u}) {
        RasterImage img = RandomImage(4, 4, bpp, 2);
        MemoryStream out;
        out.Open();
        EXPECT_FALSE(img.Encode(&out, kFormatWbmp));
        EXPECT_STREQ(img.GetLastError(), "Can't save this image as WBMP");
    }
}

TEST(WbmpCodec, AgreesWithImageMagick) {
    ScratchDir dir;
    const std::string theirsFile = dir.File("im.wbmp");
    ASSERT_EQ(0, RunShell(std::string(kImageMagick) +
                          " -size 45x17 -seed 2 plasma:fractal -monochrome " + theirsFile));
    Pnm theirs;
    ASSERT_TRUE(DecodeWithImageMagick(theirsFile, &theirs));
    RasterImage ours;
    ASSERT_TRUE(DecodeBytes(ReadFileBytes(theirsFile), kFormatWbmp, &ours)) << ours.GetLastError();
    EXPECT_TRUE(MatchesPnm(ours, theirs));

    RasterImage src = RandomImage(19, 7, 1, 3);
    src.SetPaletteColor(0, 0, 0, 0);
    src.SetPaletteColor(1, 255, 255, 255);
    const std::string oursFile = dir.File("ours.wbmp");
    ASSERT_TRUE(WriteFileBytes(oursFile, EncodeExpectingSuccess(src, kFormatWbmp)));
    ASSERT_TRUE(DecodeWithImageMagick(oursFile, &theirs));
    EXPECT_TRUE(MatchesPnm(src, theirs));
}

TEST(WbmpCodec, HeaderIsReadStrictly) {
    // 3 x 2: one byte a row.
    const Bytes good = {0, 0, 3, 2, 0xA0, 0x40};
    ASSERT_TRUE(DecodeBytes(good, kFormatWbmp));
    const struct {
        Bytes file;
        const char* why;
    } cases[] = {
        {{1, 0, 3, 2, 0xA0, 0x40}, "type 1"},
        {{0, 1, 3, 2, 0xA0, 0x40}, "extension headers"},
        {{0, 0, 0, 2, 0xA0, 0x40}, "zero width"},
        {{0, 0, 3, 2, 0xA0}, "a row missing"},
        {{0, 0, 0x80, 3, 2, 0xA0, 0x40}, "integer with a leading empty group"},
        {{0, 0, 0x81, 0x80, 0x80, 0x80, 0}, "integer longer than three bytes"},
    };
    for (const auto& c : cases) EXPECT_FALSE(DecodeBytes(c.file, kFormatWbmp)) << c.why;

    RasterImage img;
    ASSERT_TRUE(DecodeBytes(good, kFormatWbmp, &img));
    // 0xA0 = 101: white, black, white on the top row; the pad bits are dropped.
    EXPECT_EQ(img.GetPixelColor(0, 1).red, 255);
    EXPECT_EQ(img.GetPixelColor(1, 1).red, 0);
    EXPECT_EQ(img.GetPixelColor(2, 1).red, 255);
    EXPECT_EQ(img.GetPixelColor(1, 0).red, 255);
    EXPECT_TRUE(PaddingIsZero(img));

    // Bytes after the bitmap are ignored: the same picture with one or
    // three more.
    for (const Bytes& longer :
         {Bytes{0, 0, 3, 2, 0xA0, 0x40, 0}, Bytes{0, 0, 3, 2, 0xA0, 0x40, 1, 2, 3}}) {
        RasterImage more;
        ASSERT_TRUE(DecodeBytes(longer, kFormatWbmp, &more)) << more.GetLastError();
        ASSERT_EQ(more.GetWidth(), 3u);
        ASSERT_EQ(more.GetHeight(), 2u);
        // Top row 101, bottom row 010.
        const int expected[2][3] = {{255, 0, 255}, {0, 255, 0}};
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                EXPECT_EQ(more.GetPixelColor(x, 1 - y).red, expected[y][x]) << x << "," << y;
        EXPECT_TRUE(PaddingIsZero(more));
    }
}

}  // namespace
}  // namespace sheetmend::testing
