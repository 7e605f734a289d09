#include "image/raster_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "tests/support/test_images.h"

namespace sheetmend {
namespace {

using testing::RandomImage;
using testing::SamePixels;

TEST(RasterImageCreate, RoundsDepthAndSizesPaletteAndRows) {
    struct Case {
        uint32_t asked, bpp, colours;
    } cases[] = {{0, 1, 2}, {1, 1, 2}, {2, 4, 16}, {4, 4, 16}, {5, 8, 256},
                 {8, 8, 256}, {16, 24, 0}, {24, 24, 0}, {32, 24, 0}};
    for (const Case& c : cases) {
        RasterImage img;
        ASSERT_NE(img.Create(5, 3, c.asked, kFormatPng), nullptr) << c.asked;
        EXPECT_EQ(img.GetBpp(), c.bpp) << c.asked;
        EXPECT_EQ(img.GetNumColors(), c.colours) << c.asked;
        EXPECT_EQ(img.GetType(), kFormatPng);
        // The block is header, palette, rows, and its header matches ours.
        BitmapInfoHeader stored;
        std::memcpy(&stored, img.GetDib(), sizeof stored);
        EXPECT_EQ(stored.biBitCount, c.bpp);
        EXPECT_EQ(stored.biClrUsed, c.colours);
        EXPECT_EQ(stored.biSizeImage, img.GetEffWidth() * 3);
        EXPECT_EQ(img.GetDibSize(), 40 + 4 * c.colours + img.GetEffWidth() * 3);
        EXPECT_EQ(img.GetBits(0), img.GetDib() + 40 + 4 * c.colours);
    }
    // A 2-bit request gives 16 black entries.
    RasterImage four(4, 4, 2);
    for (uint8_t i = 0; i < 16; ++i) EXPECT_EQ(four.GetPaletteColor(i), (RgbQuad{0, 0, 0, 0}));
}

TEST(RasterImageCreate, PadsEveryRowToFourBytes) {
    // effWidth = ceil(width * bpp / 32) * 4, checked for odd widths at every depth.
    for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
        for (uint32_t w = 1; w <= 70; ++w) {
            RasterImage img(w, 2, bpp);
            const uint32_t bytes = (w * bpp + 7) / 8;
            const uint32_t expected = (bytes + 3) / 4 * 4;
            EXPECT_EQ(img.GetEffWidth(), expected) << w << "x" << bpp;
            EXPECT_EQ(img.GetBits(1) - img.GetBits(0), static_cast<ptrdiff_t>(expected));
        }
    }
    EXPECT_EQ(RasterImage(1, 1, 1).GetEffWidth(), 4u);
    EXPECT_EQ(RasterImage(3, 1, 24).GetEffWidth(), 12u);
}

TEST(RasterImageCreate, ReportsItsThreeFailures) {
    RasterImage img;
    EXPECT_EQ(img.Create(0, 10, 8), nullptr);
    EXPECT_STREQ(img.GetLastError(), "RasterImage::Create : width and height must be greater than zero");
    EXPECT_EQ(img.Create(10, 0, 8), nullptr);
    EXPECT_FALSE(img.IsValid());

    EXPECT_EQ(img.Create(40000, 40000, 24), nullptr);
    EXPECT_STREQ(img.GetLastError(), "RASTER_MAX_MEMORY exceeded");
    // A product that wraps 32 bits must not pass as a small one.
    EXPECT_EQ(img.Create(65536, 65536, 1), nullptr);
    EXPECT_STREQ(img.GetLastError(), "RASTER_MAX_MEMORY exceeded");
    EXPECT_EQ(img.Create(0x80000000u, 2, 8), nullptr);
    EXPECT_STREQ(img.GetLastError(), "RASTER_MAX_MEMORY exceeded");
    // Just under the limit of 668435456 bytes for the pixel area is allowed in
    // principle; a clearly reasonable page is created.
    EXPECT_NE(img.Create(2480, 3508, 24), nullptr);
}

TEST(RasterImageCreate, KeepsResolutionAcrossRecreation) {
    RasterImage img;
    img.SetXDpi(300);
    img.SetYDpi(0);  // taken as 96
    ASSERT_TRUE(img.Create(8, 8, 8));
    EXPECT_EQ(img.GetXDpi(), 300);
    EXPECT_EQ(img.GetYDpi(), 96);
    EXPECT_EQ(img.GetHeader().biXPelsPerMeter, 11811);  // floor(300 * 39.37007874 + 0.5)
    EXPECT_EQ(img.GetHeader().biYPelsPerMeter, 3780);
    img.SetXDpi(72);
    BitmapInfoHeader stored;
    std::memcpy(&stored, img.GetDib(), sizeof stored);
    EXPECT_EQ(stored.biXPelsPerMeter, 2835);
}

TEST(RasterImageLifetime, CopyIsDeepAndAssignmentToSelfIsHarmless) {
    RasterImage a = RandomImage(13, 7, 4, 1);
    a.SetXDpi(200);
    a.AlphaCreate();
    a.AlphaSet(2, 3, 17);
    RasterImage b(a);
    EXPECT_TRUE(SamePixels(a, b));
    EXPECT_EQ(b.GetXDpi(), 200);
    EXPECT_EQ(b.AlphaGet(2, 3), 17);
    EXPECT_NE(a.GetDib(), b.GetDib());
    b.SetPixelIndex(0, 0, static_cast<uint8_t>(a.GetPixelIndex(0, 0) ^ 1));
    EXPECT_NE(a.GetPixelIndex(0, 0), b.GetPixelIndex(0, 0));

    RasterImage& alias = b;
    b = alias;
    EXPECT_TRUE(b.IsValid());

    // Without pixels only the palette comes across; the pixels start at 0.
    RasterImage c(a, false, false, false);
    EXPECT_EQ(c.GetPaletteColor(5), a.GetPaletteColor(5));
    EXPECT_EQ(c.GetPixelIndex(3, 3), 0);
    EXPECT_FALSE(c.HasAlpha());
}

TEST(RasterImageLifetime, TransferMovesAndEmptiesTheSource) {
    RasterImage a = RandomImage(9, 9, 8, 2);
    const uint8_t* block = a.GetDib();
    RasterImage b = RandomImage(3, 3, 24, 3);
    ASSERT_TRUE(b.Transfer(a));
    EXPECT_FALSE(a.IsValid());
    EXPECT_EQ(a.GetWidth(), 0u);
    EXPECT_EQ(b.GetDib(), block);
    EXPECT_EQ(b.GetWidth(), 9u);
    EXPECT_EQ(b.GetBpp(), 8u);
}

TEST(RasterImageLifetime, GhostBorrowsAndFreesNothing) {
    RasterImage owner = RandomImage(10, 4, 1, 4);
    {
        RasterImage ghost;
        ghost.Ghost(&owner);
        EXPECT_TRUE(ghost.IsGhost());
        EXPECT_EQ(ghost.GetDib(), owner.GetDib());
        EXPECT_FALSE(ghost.Destroy());
        EXPECT_FALSE(ghost.DestroyFrames());
        EXPECT_EQ(ghost.Create(4, 4, 8), nullptr);
        // Writes through the ghost are the owner's.
        ghost.SetPixelIndex(1, 1, 1);
        ghost.SetPixelIndex(2, 1, 0);
        // A ghost cannot hand borrowed buffers on.
        RasterImage thief;
        EXPECT_FALSE(thief.Transfer(ghost));
        // Copying a ghost gives another ghost of it.
        RasterImage second(ghost);
        EXPECT_TRUE(second.IsGhost());
        EXPECT_EQ(second.GetDib(), owner.GetDib());
        // A ghost that is assigned an image gets its own copy and stops borrowing.
        RasterImage other = RandomImage(2, 2, 8, 5);
        ghost = other;
        EXPECT_FALSE(ghost.IsGhost());
        EXPECT_NE(ghost.GetDib(), owner.GetDib());
    }
    EXPECT_TRUE(owner.IsValid());
    EXPECT_EQ(owner.GetPixelIndex(1, 1), 1);
    EXPECT_EQ(owner.GetPixelIndex(2, 1), 0);
}

TEST(RasterImageLifetime, FramesAreOwnedAndDestroyed) {
    RasterImage img(4, 4, 8);
    img.AppendFrame(new RasterImage(2, 2, 1));
    img.AppendFrame(new RasterImage(3, 3, 24));
    EXPECT_EQ(img.GetFrameCount(), 2);
    EXPECT_EQ(img.GetFrameImage(1)->GetWidth(), 3u);
    EXPECT_EQ(img.GetFrameImage(2), nullptr);
    RasterImage moved;
    ASSERT_TRUE(moved.Transfer(img, true));
    EXPECT_EQ(moved.GetFrameCount(), 2);
    EXPECT_EQ(img.GetFrameCount(), 0);
    EXPECT_TRUE(moved.DestroyFrames());
    EXPECT_EQ(moved.GetFrameCount(), 0);
}

TEST(RasterImageSettings, TypeAndCodecOptionsBySlot) {
    RasterImage img(kFormatTiff);
    EXPECT_TRUE(img.SetType(kFormatRaw));
    EXPECT_FALSE(img.SetType(16));
    EXPECT_EQ(img.GetType(), 0u);
    EXPECT_FALSE(img.SetType(20));

    img.SetType(kFormatTiff);
    img.SetCodecOption(4);  // own type's slot
    EXPECT_EQ(img.GetCodecOption(kFormatTiff), 4u);
    img.SetCodecOption(7, kFormatRaw);  // code 19 uses slot 18
    EXPECT_EQ(img.GetCodecOption(kFormatRaw), 7u);
    EXPECT_EQ(img.GetInfo().codecOptions[18], 7u);
    img.SetCodecOption(9, kFormatMng);
    EXPECT_EQ(img.GetInfo().codecOptions[16], 9u);
    EXPECT_EQ(img.GetCodecOption(16), 4u);  // unassigned code falls back to the own type

    img.SetJpegQuality(74.6f);
    EXPECT_EQ(img.GetJpegQuality(), 75);
    EXPECT_EQ(RasterImage().GetJpegQuality(), 90);
}

TEST(RasterImagePalette, NearestIndexPrefersTheLowestEntryOnATie) {
    RasterImage img(2, 2, 4);
    img.SetPaletteColor(3, 0, 0, 100);
    img.SetPaletteColor(7, 0, 0, 120);
    img.SetPaletteColor(0, 255, 255, 255);
    for (uint8_t i = 1; i < 16; ++i)
        if (i != 3 && i != 7) img.SetPaletteColor(i, 255, 255, 255);
    EXPECT_EQ(img.GetNearestIndex(RgbQuad{110, 0, 0, 0}), 3);  // 10 from both
    EXPECT_EQ(img.GetNearestIndex(RgbQuad{111, 0, 0, 0}), 7);
    EXPECT_EQ(img.GetNearestIndex(RgbQuad{255, 255, 255, 0}), 0);
    // Every palette write forgets the cached answer.
    img.SetPaletteColor(1, 0, 0, 111);
    EXPECT_EQ(img.GetNearestIndex(RgbQuad{111, 0, 0, 0}), 1);
    img.SetPalette(nullptr, 0);
    img.SetPaletteColor(1, 255, 255, 255);
    EXPECT_EQ(img.GetNearestIndex(RgbQuad{111, 0, 0, 0}), 7);

    // Only the important colours are searched.
    img.SetClrImportant(4);
    EXPECT_EQ(img.GetClrImportant(), 4u);
    img.SetPaletteColor(0, 255, 255, 255);
    EXPECT_EQ(img.GetNearestIndex(RgbQuad{119, 0, 0, 0}), 3);

    RasterImage rgb(1, 1, 24);
    EXPECT_EQ(rgb.GetNearestIndex(RgbQuad{1, 2, 3, 0}), 0);
}

TEST(RasterImagePalette, ClrImportantRules) {
    RasterImage one(1, 1, 1), four(1, 1, 4), eight(1, 1, 8), rgb(1, 1, 24);
    one.SetClrImportant(200);
    EXPECT_EQ(one.GetClrImportant(), 2u);
    four.SetClrImportant(200);
    EXPECT_EQ(four.GetClrImportant(), 16u);
    eight.SetClrImportant(200);
    EXPECT_EQ(eight.GetClrImportant(), 200u);
    eight.SetClrImportant(257);
    EXPECT_EQ(eight.GetClrImportant(), 0u);
    rgb.SetClrImportant(5);
    EXPECT_EQ(rgb.GetClrImportant(), 0u);
}

TEST(RasterImagePalette, GreyRampsAndIsGrayScale) {
    RasterImage bw(1, 1, 1);
    bw.SetPaletteColor(1, 255, 255, 255);
    EXPECT_FALSE(bw.IsGrayScale());  // entry 1 is 255, not 1

    RasterImage four(1, 1, 4);
    four.SetGrayPalette();
    EXPECT_EQ(four.GetPaletteColor(15), (RgbQuad{255, 255, 255, 0}));
    EXPECT_EQ(four.GetPaletteColor(1), (RgbQuad{17, 17, 17, 0}));
    EXPECT_FALSE(four.IsGrayScale());

    RasterImage eight(1, 1, 8);
    eight.SetGrayPalette();
    EXPECT_TRUE(eight.IsGrayScale());
    eight.SetPaletteColor(200, 200, 200, 201);
    EXPECT_FALSE(eight.IsGrayScale());
    EXPECT_FALSE(RasterImage(1, 1, 24).IsGrayScale());

    uint8_t r, g, b;
    EXPECT_TRUE(eight.GetPaletteColor(200, &r, &g, &b));
    EXPECT_EQ(r, 200);
    EXPECT_EQ(b, 201);
    EXPECT_FALSE(four.GetPaletteColor(16, &r, &g, &b));
    EXPECT_EQ(four.GetPaletteColor(16), RgbQuad{});
    EXPECT_FALSE(RasterImage(1, 1, 24).GetPaletteColor(0, &r, &g, &b));
}

TEST(RasterImagePalette, SetPaletteForms) {
    RasterImage img(1, 1, 1);
    const uint8_t red[3] = {10, 20, 30};
    img.SetPalette(3, red);  // green and blue take red; only 2 entries exist
    EXPECT_EQ(img.GetPaletteColor(1), (RgbQuad{20, 20, 20, 0}));
    const uint8_t rgb[6] = {1, 2, 3, 4, 5, 6};
    img.SetPaletteRgb(rgb, 2);
    EXPECT_EQ(img.GetPaletteColor(0), (RgbQuad{3, 2, 1, 0}));
    EXPECT_EQ(img.GetPaletteColor(1), (RgbQuad{6, 5, 4, 0}));
}

TEST(RasterImagePixels, IndicesAtEveryDepthLeaveNeighboursAlone) {
    for (uint32_t bpp : {1u, 4u, 8u}) {
        RasterImage img(11, 3, bpp);
        const uint8_t top = static_cast<uint8_t>(img.GetNumColors() - 1);
        for (int32_t x = 0; x < 11; ++x) img.SetPixelIndex(x, 1, top);
        img.SetPixelIndex(5, 1, 0);
        for (int32_t x = 0; x < 11; ++x) EXPECT_EQ(img.GetPixelIndex(x, 1), x == 5 ? 0 : top) << bpp;
        EXPECT_EQ(img.GetPixelIndex(4, 0), 0);
        EXPECT_TRUE(testing::PaddingIsZero(img)) << bpp;
    }
    // MSB-first packing: pixel 0 of a 1-bit row is the top bit of byte 0.
    RasterImage one(9, 1, 1);
    one.SetPixelIndex(0, 0, 1);
    one.SetPixelIndex(8, 0, 1);
    EXPECT_EQ(one.GetBits()[0], 0x80);
    EXPECT_EQ(one.GetBits()[1], 0x80);
    RasterImage four(3, 1, 4);
    four.SetPixelIndex(0, 0, 0xA);
    four.SetPixelIndex(1, 0, 0x5);
    EXPECT_EQ(four.GetBits()[0], 0xA5);
}

TEST(RasterImagePixels, ReadsOutsideFollowTheBackgroundRules) {
    RasterImage img(4, 4, 8);
    img.SetGrayPalette();
    img.SetPixelIndex(0, 0, 42);
    EXPECT_EQ(img.GetPixelIndex(-1, 0), 42);
    EXPECT_EQ(img.GetPixelIndex(4, 3), 42);
    EXPECT_EQ(img.GetPixelColor(0, 99).red, 42);
    img.SetBackgroundIndex(5);
    EXPECT_EQ(img.GetPixelIndex(-1, 0), 5);
    EXPECT_EQ(img.GetPixelColor(-1, 0).red, 5);
    img.SetPixelIndex(-1, 0, 9);  // ignored
    img.SetPixelIndex(4, 0, 9);

    RasterImage rgb(2, 2, 24);
    rgb.SetPixelColor(0, 0, RgbQuad{1, 2, 3, 0});
    EXPECT_EQ(rgb.GetPixelColor(7, 7).red, 3);
    rgb.SetBackgroundColor(RgbQuad{9, 8, 7, 6});
    rgb.SetBackgroundIndex(0);
    EXPECT_EQ(rgb.GetPixelColor(-1, -1), (RgbQuad{9, 8, 7, 6}));
    // Inside, the reserved byte comes from the background colour unless alpha is read.
    EXPECT_EQ(rgb.GetPixelColor(0, 0, false), (RgbQuad{1, 2, 3, 6}));
    rgb.AlphaCreate();
    rgb.AlphaSet(0, 0, 77);
    EXPECT_EQ(rgb.GetPixelColor(0, 0, true).reserved, 77);
    EXPECT_EQ(rgb.GetPixelIndex(0, 0), 0);  // no palette

    RasterImage empty;
    EXPECT_EQ(empty.GetPixelIndex(0, 0), 0);
    empty.SetPixelColor(0, 0, RgbQuad{1, 1, 1, 0});
    EXPECT_EQ(empty.GetBits(), nullptr);
}

TEST(RasterImagePixels, ColourWritesSnapToThePaletteAndSetAlpha) {
    RasterImage img(3, 1, 1);
    img.SetPaletteColor(0, 0, 0, 0);
    img.SetPaletteColor(1, 255, 255, 255);
    img.SetPixelColor(0, 0, RgbQuad{200, 200, 200, 0});
    img.SetPixelColor(1, 0, RgbQuad{20, 20, 20, 0});
    img.SetPixelColor(2, 0, MakeColorRef(250, 250, 250));
    EXPECT_EQ(img.GetPixelIndex(0, 0), 1);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 0);
    EXPECT_EQ(img.GetPixelIndex(2, 0), 1);

    RasterImage rgb(2, 1, 24);
    rgb.AlphaCreate();
    rgb.SetPixelColor(1, 0, MakeColorRef(1, 2, 3));
    EXPECT_EQ(rgb.GetBits()[3], 3);  // blue first
    EXPECT_EQ(rgb.GetBits()[5], 1);
    rgb.SetPixelColor(0, 0, RgbQuad{0, 0, 0, 33}, true);
    EXPECT_EQ(rgb.AlphaGet(0, 0), 33);
}

TEST(RasterImagePixels, GetBitsAndClear) {
    RasterImage img(10, 3, 1);
    EXPECT_EQ(img.GetBits(2), img.GetBits(0) + 2 * img.GetEffWidth());
    EXPECT_EQ(img.GetBits(3), nullptr);
    img.Clear(7);
    EXPECT_EQ(img.GetPixelIndex(9, 2), 1);
    EXPECT_TRUE(testing::PaddingIsZero(img));
    RasterImage four(3, 2, 4);
    four.Clear(0x1B);
    EXPECT_EQ(four.GetPixelIndex(2, 1), 0xB);
    EXPECT_TRUE(testing::PaddingIsZero(four));
}

std::vector<std::pair<int, int>> LitPoints(const RasterImage& img) {
    std::vector<std::pair<int, int>> pts;
    for (int y = 0; y < static_cast<int>(img.GetHeight()); ++y)
        for (int x = 0; x < static_cast<int>(img.GetWidth()); ++x)
            if (img.GetPixelIndex(x, y)) pts.emplace_back(x, y);
    return pts;
}

TEST(RasterImageDrawLine, HandCheckedLines) {
    using P = std::vector<std::pair<int, int>>;
    RasterImage img(8, 8, 1);
    img.SetPaletteColor(1, 255, 255, 255);
    img.DrawLine(0, 5, 0, 2, MakeColorRef(255, 255, 255));  // x0, x1, y0, y1
    EXPECT_EQ(LitPoints(img), (P{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}}));

    img.Clear(0);
    img.DrawLine(5, 0, 2, 0, MakeColorRef(255, 255, 255));  // same ends, drawn backwards
    EXPECT_EQ(LitPoints(img), (P{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}}));

    img.Clear(0);
    img.DrawLine(1, 2, 0, 4, MakeColorRef(255, 255, 255));  // steep: y is the major axis
    EXPECT_EQ(LitPoints(img), (P{{1, 0}, {1, 1}, {2, 2}, {2, 3}, {2, 4}}));

    img.Clear(0);
    img.DrawLine(3, 3, 3, 3, MakeColorRef(255, 255, 255));
    EXPECT_EQ(LitPoints(img), (P{{3, 3}}));

    // Points off the image are skipped, the rest of the line is drawn.
    img.Clear(0);
    img.DrawLine(-3, 10, 6, 6, MakeColorRef(255, 255, 255));
    EXPECT_EQ(LitPoints(img).size(), 8u);

    // Drawing on an empty image does nothing.
    RasterImage empty;
    empty.DrawLine(0, 1, 0, 1, RgbQuad{});
}

}  // namespace
}  // namespace sheetmend
