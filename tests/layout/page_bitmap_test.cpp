#include "layout/page_bitmap.h"

#include <gtest/gtest.h>

#include <random>

#include "image/formats.h"
#include "layout/binarize.h"
#include "tests/support/external_tools.h"

namespace sheetmend {
namespace {

using testing::ScratchDir;

// A 1-bit page 21 pixels wide (not a multiple of 8 or 16), palette black/white,
// white paper with a few ink marks at known places (top-down coordinates).
RasterImage DrawPage(bool negative) {
    RasterImage img(21, 9, 1);
    img.SetPaletteColor(0, 0, 0, 0);
    img.SetPaletteColor(1, 255, 255, 255);
    img.Clear(negative ? 0 : 1);
    const uint8_t ink = negative ? 1 : 0;
    for (int x = 2; x < 19; ++x) img.SetPixelIndex(x, 9 - 1 - 4, ink);  // row 4 from the top
    img.SetPixelIndex(20, 9 - 1 - 0, ink);                              // top-right corner
    img.SetPixelIndex(0, 0, ink);                                       // bottom-left corner
    return img;
}

bool InkAt(const PageBitmap& b, int x, int yFromTop) {
    return (b.Row(static_cast<uint32_t>(yFromTop))[x >> 3] >> (7 - (x & 7))) & 1;
}

TEST(PageBitmap, LoadsInkAsSetBitsTopRowFirst) {
    ScratchDir dir;
    for (bool negative : {false, true}) {
        RasterImage page = DrawPage(negative);
        ASSERT_TRUE(page.Save(dir.File("p.png").c_str(), kFormatPng)) << page.GetLastError();
        auto bitmap = LoadPageBitmap(dir.File("p.png"));
        ASSERT_TRUE(bitmap) << negative;
        EXPECT_EQ(bitmap->width, 21);
        EXPECT_EQ(bitmap->height, 9);
        EXPECT_EQ(bitmap->RowBytes(), 4u);
        EXPECT_EQ(bitmap->size, 36);
        EXPECT_TRUE(InkAt(*bitmap, 20, 0));
        EXPECT_TRUE(InkAt(*bitmap, 0, 8));
        EXPECT_TRUE(InkAt(*bitmap, 10, 4));
        EXPECT_FALSE(InkAt(*bitmap, 10, 3));
        EXPECT_FALSE(InkAt(*bitmap, 1, 8));
        // Padding beyond column 21 is paper.
        EXPECT_EQ(bitmap->Row(0)[2] & 0x07, 0);
        EXPECT_EQ(bitmap->Row(0)[3], 0);
    }
    EXPECT_EQ(LoadPageBitmap(dir.File("missing.png")), nullptr);
}

TEST(PageBitmap, SaveAndLoadRoundTrip) {
    ScratchDir dir;
    RasterImage page = DrawPage(false);
    ASSERT_TRUE(page.Save(dir.File("p.png").c_str(), kFormatPng));
    auto first = LoadPageBitmap(dir.File("p.png"));
    ASSERT_TRUE(first);
    ASSERT_EQ(SavePageBitmap(first.get(), dir.File("OUT.TIF")), 1);
    std::string info;
    testing::RunShell("tiffinfo '" + dir.File("OUT.TIF") + "' 2>&1", &info);
    EXPECT_NE(info.find("Image Width: 21"), std::string::npos) << info;
    auto second = LoadPageBitmap(dir.File("OUT.TIF"));
    ASSERT_TRUE(second);
    EXPECT_EQ(second->bits, first->bits);

    // The saved file states 900 pixels per metre, whatever the page had.
    RasterImage saved;
    ASSERT_TRUE(saved.Load(dir.File("OUT.TIF").c_str(), 0));
    EXPECT_EQ(saved.GetXDpi(), 23);

    EXPECT_EQ(SavePageBitmap(first.get(), dir.File("noextension")), 0);
    EXPECT_FALSE(testing::RunShell("test -e '" + dir.File("noextension") + "'") == 0);
    EXPECT_EQ(SavePageBitmap(nullptr, dir.File("x.png")), 0);
}

TEST(PageBitmap, DibLayout) {
    PageBitmap b;
    b.width = 21;
    b.height = 2;
    b.depth = 1;
    b.size = 8;
    b.bits = {0xFF, 0x00, 0x04, 0x00, 0x80, 0x00, 0x00, 0x00};
    DibHandle dib = PageBitmapToDib(b);
    ASSERT_EQ(dib.size(), 40u + 8u + 2u * 4u);
    EXPECT_EQ(dib[24], 900 & 0xFF);
    EXPECT_EQ(dib[25], 900 >> 8);
    EXPECT_EQ(dib[40], 0xFF);  // colour 0 white
    EXPECT_EQ(dib[44], 0x00);  // colour 1 black
    EXPECT_EQ(dib[48], 0x80);  // the last buffer row comes first
    EXPECT_EQ(dib[52], 0xFF);
    EXPECT_EQ(dib[54], 0x04);

    PageBitmap back;
    EXPECT_EQ(FillFromDib(back, dib), kFillOk);
    EXPECT_EQ(back.bits, b.bits);
    dib[16] = 1;  // compressed
    EXPECT_EQ(FillFromDib(back, dib), kFillCompressed);
    dib[16] = 0;
    dib[14] = 4;
    EXPECT_EQ(FillFromDib(back, dib), kFillUnsupported);
    dib[14] = 1;
    dib.resize(50);  // rows missing
    EXPECT_EQ(FillFromDib(back, dib), kFillUnsupported);
}

TEST(PageBitmap, FromImageLaysOutTheRowsTheDibWouldGive) {
    // The page is read from the image rows in place; the old way went
    // through a copy of the block. Odd widths, both palettes, a few sizes.
    std::mt19937 rng(5);
    for (auto [w, h] :
         {std::pair{21u, 9u}, std::pair{64u, 3u}, std::pair{135u, 40u}, std::pair{1u, 1u}})
        for (bool whiteFirst : {true, false}) {
            RasterImage page(w, h, 1);
            page.SetPaletteColor(0, whiteFirst ? RgbQuad{255, 255, 255, 0} : RgbQuad{});
            page.SetPaletteColor(1, whiteFirst ? RgbQuad{} : RgbQuad{255, 255, 255, 0});
            for (uint32_t y = 0; y < h; ++y)
                for (uint32_t x = 0; x < w; ++x)
                    page.SetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y),
                                       (rng() % 5 == 0) == whiteFirst);
            RasterImage viaDib(page);
            BinarizePage(viaDib);
            PageBitmap expected;
            ASSERT_EQ(FillFromDib(expected, viaDib.CopyToHandle()), kFillOk);
            auto bitmap = PageBitmapFromImage(page);
            ASSERT_TRUE(bitmap);
            EXPECT_EQ(bitmap->bits, expected.bits) << w << "x" << h;
            EXPECT_EQ(bitmap->width, w);
            EXPECT_EQ(bitmap->size, expected.size);
        }
    // Wider than a page bitmap can hold: refused with the one-line message.
    RasterImage wide(70000, 1, 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(PageBitmapFromImage(wide), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Resource\n");
}

TEST(Binarize, InkMinorityCountsEveryWordAndTheRowEnds) {
    // 77 x 3 pixels (whole words, whole bytes, a partly used byte): ink
    // exactly half of 231 rounded up inverts the page, one pixel less does
    // not. The ink sits in the last columns so the row ends are counted.
    for (int32_t ink : {116, 115}) {
        RasterImage page(77, 3, 1);
        page.SetPaletteColor(0, 255, 255, 255);
        page.SetPaletteColor(1, 0, 0, 0);
        for (int32_t n = 0; n < ink; ++n) page.SetPixelIndex(76 - n % 77, n / 77, 1);
        MakeInkMinority(page);
        EXPECT_EQ(page.GetPixelIndex(76, 0), ink == 116 ? 0 : 1) << ink;
    }
}

TEST(PageBitmap, NormalizeInkPolarityInvertsMostlyFullPages) {
    PageBitmap b;
    b.width = 21;  // two whole bytes, a partly used third, one padding byte
    b.height = 3;
    b.size = 12;
    b.bits.assign(12, 0xFF);
    NormalizeInkPolarity(b);
    EXPECT_EQ(b.inverted, 1);
    for (uint8_t v : b.bits) EXPECT_EQ(v, 0);  // the partly used byte is cleared, not inverted

    b.bits = {0xFF, 0x0F, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0x00};
    NormalizeInkPolarity(b);  // 8 full, 3 zero, 1 mixed: 4/9 = 0 < 8 and 6 < 8
    EXPECT_EQ(b.inverted, 0);
    EXPECT_EQ(b.bits[1], 0xF0);
    EXPECT_EQ(b.bits[2], 0x00);

    b.bits.assign(12, 0x00);
    NormalizeInkPolarity(b);
    EXPECT_EQ(b.inverted, 0);
}

TEST(PageBitmap, SaveFormatFromExtension) {
    EXPECT_EQ(SaveFormatFromExtension("a.TIF"), 6u);
    EXPECT_EQ(SaveFormatFromExtension("a.Jpeg"), 3u);
    EXPECT_EQ(SaveFormatFromExtension("a.jng"), 17u);
    EXPECT_EQ(SaveFormatFromExtension("a.pgm"), 14u);
    EXPECT_EQ(SaveFormatFromExtension("a.pbm"), 0u);
    EXPECT_EQ(SaveFormatFromExtension("dir.png/file"), 0u);
    EXPECT_EQ(SaveFormatFromExtension("plain"), 0u);
}

TEST(Binarize, WhitePaperPaletteAndInkMinority) {
    // Palette black/white with mostly white paper: the palette becomes
    // white/black and the bits flip, so the picture is unchanged.
    RasterImage page = DrawPage(false);
    const RgbQuad before = page.GetPixelColor(10, 4, false);
    MakeWhitePaperPalette(page);
    EXPECT_EQ(page.GetPaletteColor(0), (RgbQuad{255, 255, 255, 0}));
    EXPECT_EQ(page.GetPixelColor(10, 4, false), before);
    EXPECT_EQ(page.GetPixelIndex(10, 4), 1);
    MakeInkMinority(page);
    EXPECT_EQ(page.GetPixelIndex(10, 4), 1);

    // A negative page turns positive.
    RasterImage negative = DrawPage(true);
    MakeWhitePaperPalette(negative);
    MakeInkMinority(negative);
    EXPECT_EQ(negative.GetPixelIndex(10, 4), 1);
    EXPECT_EQ(negative.GetPixelIndex(10, 3), 0);

    // A 24-bit page is reduced to the nearer of black and white.
    RasterImage colour(4, 1, 24);
    colour.SetPixelColor(0, 0, RgbQuad{127, 127, 127, 0});
    colour.SetPixelColor(1, 0, RgbQuad{128, 128, 128, 0});
    colour.SetPixelColor(2, 0, RgbQuad{255, 255, 255, 0});
    colour.SetPixelColor(3, 0, RgbQuad{250, 250, 250, 0});
    BinarizePage(colour);
    ASSERT_EQ(colour.GetBpp(), 1u);
    EXPECT_EQ(colour.GetPixelIndex(0, 0), 1);  // ink
    EXPECT_EQ(colour.GetPixelIndex(1, 0), 0);
}

}  // namespace
}  // namespace sheetmend
