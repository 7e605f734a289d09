// TGA: round trips at both writable depths, files written by ImageMagick
// against ImageMagick's own pixels, and hand-made files for the variants
// ImageMagick does not write (other origins, 15/16/32 bits, runs across rows).
#include <gtest/gtest.h>

#include <cstring>

#include "image/raster_image.h"
#include "image/streams.h"
#include "tests/support/external_tools.h"
#include "tests/support/mutation.h"
#include "tests/support/test_images.h"

namespace sheetmend::testing {
namespace {

// An 18-byte header followed by the given bytes.
Bytes Tga(uint8_t type, uint16_t w, uint16_t h, uint8_t depth, uint8_t descriptor,
          const Bytes& body, uint8_t mapType = 0, uint16_t mapLength = 0, uint8_t mapDepth = 0) {
    Bytes b = {0,
               mapType,
               type,
               0,
               0,
               static_cast<uint8_t>(mapLength),
               static_cast<uint8_t>(mapLength >> 8),
               mapDepth,
               0,
               0,
               0,
               0,
               static_cast<uint8_t>(w),
               static_cast<uint8_t>(w >> 8),
               static_cast<uint8_t>(h),
               static_cast<uint8_t>(h >> 8),
               depth,
               descriptor};
    for (uint8_t v : body) b.push_back(v);
    return b;
}

// ImageMagick keeps TGA rows in stored order and only records the origin;
// -auto-orient applies it, giving the picture as the format defines it.
bool DecodeOriented(const std::string& file, Pnm* pnm) {
    std::string out;
    if (RunShell(
            std::string(kImageMagick) + " '" + file + "' -auto-orient -depth 8 ppm:- 2>/dev/null",
            &out) != 0)
        return false;
    return ParsePnm(out, pnm);
}

RgbQuad Rgb(uint8_t r, uint8_t g, uint8_t b) {
    return RgbQuad{b, g, r, 0};
}

::testing::AssertionResult HasColour(const RasterImage& img, int x, int y, RgbQuad want) {
    const RgbQuad c = img.GetPixelColor(x, y, false);
    if (c.red == want.red && c.green == want.green && c.blue == want.blue)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << x << "," << y << ") is " << int(c.red) << ","
                                         << int(c.green) << "," << int(c.blue);
}

TEST(TgaCodec, RoundTripsEightAndTwentyFourBits) {
    for (uint32_t bpp : {8u, 24u}) {
        RasterImage src = RandomImage(37, 23, bpp, bpp);
        RasterImage back;
        ASSERT_TRUE(DecodeBytes(EncodeExpectingSuccess(src, kFormatTga), kFormatTga, &back)) << back.GetLastError();
        EXPECT_TRUE(SamePixels(src, back)) << bpp;
        EXPECT_TRUE(PaddingIsZero(back));
        EXPECT_EQ(back.GetType(), kFormatTga);
        if (bpp == 8) {
            EXPECT_EQ(0, std::memcmp(src.GetPalette(), back.GetPalette(), 1024));
        }
    }
}

TEST(TgaCodec, RefusesOtherDepths) {
    for (uint32_t bpp : {1u, 4u}) {
        RasterImage img = RandomImage(5, 5, bpp, 1);
        MemoryStream out;
        out.Open();
        EXPECT_FALSE(img.Encode(&out, kFormatTga));
        EXPECT_STREQ(img.GetLastError(), "Bit depth must be 8 or 24");
    }
}

TEST(TgaCodec, ReadsImageMagickFiles) {
    ScratchDir dir;
    ASSERT_EQ(0, RunShell(std::string(kImageMagick) + " -size 41x19 -seed 7 plasma:fractal " +
                          dir.File("src.ppm")));
    const struct {
        const char* name;
        const char* options;
        uint32_t bpp;
    } cases[] = {
        {"rle24.tga", "-compress RLE", 24},
        {"raw24.tga", "", 24},
        {"rle8.tga", "-colors 20 -type palette -compress RLE", 8},
        {"map8.tga", "-colors 20 -type palette", 8},
        {"grey.tga", "-colorspace gray", 8},
        {"greyrle.tga", "-colorspace gray -compress RLE", 8},
        {"topleft.tga", "-orient TopLeft -compress RLE", 24},
    };
    for (const auto& c : cases) {
        const std::string file = dir.File(c.name);
        ASSERT_EQ(0, RunShell(std::string(kImageMagick) + " " + dir.File("src.ppm") + " " +
                              c.options + " " + file));
        Pnm theirs;
        ASSERT_TRUE(DecodeOriented(file, &theirs)) << c.name;
        RasterImage ours;
        ASSERT_TRUE(DecodeBytes(ReadFileBytes(file), kFormatTga, &ours))
            << c.name << ": " << ours.GetLastError();
        EXPECT_EQ(ours.GetBpp(), c.bpp) << c.name;
        EXPECT_TRUE(MatchesPnm(ours, theirs)) << c.name;
        EXPECT_TRUE(PaddingIsZero(ours)) << c.name;
    }
}

TEST(TgaCodec, ImageMagickReadsOurFiles) {
    ScratchDir dir;
    for (uint32_t bpp : {8u, 24u}) {
        RasterImage src = RandomImage(29, 13, bpp, 40 + bpp);
        const std::string file = dir.File("ours.tga");
        ASSERT_TRUE(WriteFileBytes(file, EncodeExpectingSuccess(src, kFormatTga)));
        Pnm theirs;
        ASSERT_TRUE(DecodeOriented(file, &theirs));
        EXPECT_TRUE(MatchesPnm(src, theirs)) << bpp;
    }
}

TEST(TgaCodec, HonoursBothOriginsAndMirroredRows) {
    // Two rows of two 24-bit pixels: stored A B / C D.
    const Bytes px = {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255};
    const RgbQuad a = Rgb(255, 0, 0), b = Rgb(0, 255, 0), c = Rgb(0, 0, 255),
                  d = Rgb(255, 255, 255);
    struct {
        uint8_t descriptor;
        RgbQuad bottomLeft, bottomRight, topLeft, topRight;
    } cases[] = {
        {0x00, a, b, c, d},  // bottom-left origin: first stored row is the bottom
        {0x20, c, d, a, b},  // top-left
        {0x10, b, a, d, c},  // bottom-right
        {0x30, d, c, b, a},  // top-right
    };
    for (const auto& k : cases) {
        RasterImage img;
        ASSERT_TRUE(DecodeBytes(Tga(2, 2, 2, 24, k.descriptor, px), kFormatTga, &img))
            << img.GetLastError();
        EXPECT_TRUE(HasColour(img, 0, 0, k.bottomLeft)) << int(k.descriptor);
        EXPECT_TRUE(HasColour(img, 1, 0, k.bottomRight)) << int(k.descriptor);
        EXPECT_TRUE(HasColour(img, 0, 1, k.topLeft)) << int(k.descriptor);
        EXPECT_TRUE(HasColour(img, 1, 1, k.topRight)) << int(k.descriptor);
    }
}

TEST(TgaCodec, ReadsSixteenAndThirtyTwoBitPixels) {
    // 5-5-5: pure red, green, blue and a mid grey (15 of 31 in each channel).
    const uint16_t v[] = {0x7C00, 0x03E0, 0x001F,
                          static_cast<uint16_t>((15 << 10) | (15 << 5) | 15)};
    Bytes body;
    for (uint16_t x : v) {
        body.push_back(static_cast<uint8_t>(x));
        body.push_back(static_cast<uint8_t>(x >> 8));
    }
    for (uint8_t depth : {15, 16}) {
        RasterImage img;
        ASSERT_TRUE(DecodeBytes(Tga(2, 4, 1, depth, 0, body), kFormatTga, &img))
            << img.GetLastError();
        EXPECT_TRUE(HasColour(img, 0, 0, Rgb(255, 0, 0)));
        EXPECT_TRUE(HasColour(img, 1, 0, Rgb(0, 255, 0)));
        EXPECT_TRUE(HasColour(img, 2, 0, Rgb(0, 0, 255)));
        EXPECT_TRUE(HasColour(img, 3, 0, Rgb(123, 123, 123)));  // 15 << 3 | 15 >> 2
    }
    // 32 bits with 8 attribute bits: the fourth byte is alpha.
    RasterImage img;
    ASSERT_TRUE(
        DecodeBytes(Tga(2, 2, 1, 32, 8, {10, 20, 30, 40, 50, 60, 70, 255}), kFormatTga, &img));
    ASSERT_TRUE(img.HasAlpha());
    EXPECT_TRUE(HasColour(img, 0, 0, Rgb(30, 20, 10)));
    EXPECT_EQ(img.AlphaGet(0, 0), 40);
    EXPECT_EQ(img.AlphaGet(1, 0), 255);
}

TEST(TgaCodec, RunsMayCrossRowEndsAndMapsMayStartLate) {
    // One run packet of 6 grey pixels and a raw packet of 2 fill a 4 x 2 image.
    RasterImage grey;
    ASSERT_TRUE(DecodeBytes(Tga(11, 4, 2, 8, 0, {0x85, 77, 0x01, 5, 6}), kFormatTga, &grey))
        << grey.GetLastError();
    for (int x = 0; x < 4; ++x) EXPECT_EQ(grey.GetPixelIndex(x, 0), 77);
    EXPECT_EQ(grey.GetPixelIndex(1, 1), 77);
    EXPECT_EQ(grey.GetPixelIndex(2, 1), 5);
    EXPECT_EQ(grey.GetPixelIndex(3, 1), 6);
    EXPECT_TRUE(grey.IsGrayScale());

    // A two-entry map whose first entry is index 10: value 11 is the second
    // entry, value 0 lies outside the map and stays black.
    Bytes mapped = Tga(1, 2, 1, 8, 0, {255, 0, 0, 0, 0, 255, 11, 0}, 1, 2, 24);
    mapped[3] = 10;
    RasterImage img;
    ASSERT_TRUE(DecodeBytes(mapped, kFormatTga, &img)) << img.GetLastError();
    EXPECT_TRUE(HasColour(img, 0, 0, Rgb(255, 0, 0)));
    EXPECT_TRUE(HasColour(img, 1, 0, Rgb(0, 0, 0)));
}

TEST(TgaCodec, RefusesImplausibleHeaders) {
    const Bytes px(12, 0);
    const struct {
        Bytes file;
        const char* why;
    } cases[] = {
        {Tga(2, 2, 2, 24, 0, Bytes(11, 0)), "one byte short of the pixels"},
        {Tga(4, 2, 2, 24, 0, px), "unknown image type"},
        {Tga(2, 0, 2, 24, 0, px), "zero width"},
        {Tga(2, 2, 2, 20, 0, px), "odd depth"},
        {Tga(2, 2, 2, 24, 0xC0, px), "interleaved"},
        {Tga(1, 2, 2, 8, 0, px), "colour-mapped without a map"},
        {Tga(10, 200, 200, 24, 0, Bytes(100, 0)), "run-length data far too short"},
    };
    for (const auto& c : cases) {
        RasterImage img;
        EXPECT_FALSE(DecodeBytes(c.file, kFormatTga, &img)) << c.why;
    }
    // A wrong colour map type byte is the first thing checked.
    Bytes bad = Tga(2, 2, 2, 24, 0, px);
    bad[1] = 2;
    EXPECT_FALSE(DecodeBytes(bad, kFormatTga));
}

}  // namespace
}  // namespace sheetmend::testing
