// DIB exchange: blocks made by hand byte by byte, checked against the
// pixels they were built from and against ImageMagick's BMP reader on the
// same block behind a file header; round trips; refusal of broken blocks.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/raster_image.h"
#include "tests/support/external_tools.h"
#include "tests/support/mutation.h"
#include "tests/support/source_root.h"
#include "tests/support/test_images.h"

namespace sheetmend {
namespace {

using testing::Bytes;

void Put16(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// A 40-byte info header (or a longer one padded with zeros).
Bytes InfoHeader(int32_t width, int32_t height, uint16_t bpp, uint32_t compression,
                 uint32_t clrUsed = 0, uint32_t size = 40, int32_t pelsPerMeter = 3780) {
    Bytes b;
    Put32(b, size);
    Put32(b, static_cast<uint32_t>(width));
    Put32(b, static_cast<uint32_t>(height));
    Put16(b, 1);
    Put16(b, bpp);
    Put32(b, compression);
    Put32(b, 0);
    Put32(b, static_cast<uint32_t>(pelsPerMeter));
    Put32(b, static_cast<uint32_t>(pelsPerMeter));
    Put32(b, clrUsed);
    Put32(b, 0);
    b.resize(size, 0);
    return b;
}

void Append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// Palette entry k of the hand-made palettes: distinct, easy to recognise.
RgbQuad Entry(uint32_t k) {
    return RgbQuad{static_cast<uint8_t>(40 * k), static_cast<uint8_t>(255 - 30 * k),
                   static_cast<uint8_t>(17 + 50 * k), 0};
}
void PutPalette(Bytes& b, uint32_t count, bool core = false) {
    for (uint32_t k = 0; k < count; ++k) {
        const RgbQuad e = Entry(k);
        b.insert(b.end(), {e.blue, e.green, e.red});
        if (!core) b.push_back(0xAB);  // the reserved byte must not survive
    }
}

// Indices of a picture given top row first, as rows of palette indices.
using Picture = std::vector<std::vector<uint8_t>>;

::testing::AssertionResult HasIndices(const RasterImage& img, const Picture& top) {
    if (img.GetHeight() != top.size() || img.GetWidth() != top[0].size())
        return ::testing::AssertionFailure() << "size " << img.GetWidth() << "x" << img.GetHeight();
    for (size_t r = 0; r < top.size(); ++r)
        for (size_t x = 0; x < top[r].size(); ++x) {
            const auto y = static_cast<int32_t>(top.size() - 1 - r);
            if (img.GetPixelIndex(static_cast<int32_t>(x), y) != top[r][x])
                return ::testing::AssertionFailure()
                       << "(" << x << ", row " << r
                       << " from top): " << int(img.GetPixelIndex(static_cast<int32_t>(x), y))
                       << " vs " << int(top[r][x]);
        }
    return ::testing::AssertionSuccess();
}

// The block behind a 14-byte BMP file header, read back by ImageMagick.
::testing::AssertionResult MatchesImageMagick(const Bytes& dib, uint32_t pixelOffset,
                                              const RasterImage& img) {
    testing::ScratchDir dir;
    Bytes file = {'B', 'M'};
    Put32(file, static_cast<uint32_t>(14 + dib.size()));
    Put32(file, 0);
    Put32(file, 14 + pixelOffset);
    Append(file, dib);
    // ImageMagick's run-length reader reports a short file when the end mark
    // is the block's last word; trailing zeros change nothing else.
    Append(file, {0, 0, 0, 0});
    for (int k = 0; k < 4; ++k) file[2 + k] = static_cast<uint8_t>(file.size() >> (8 * k));
    const std::string path = dir.File("block.bmp");
    testing::WriteFileBytes(path, file);
    testing::Pnm pnm;
    if (!testing::DecodeWithImageMagick(path, &pnm))
        return ::testing::AssertionFailure() << "ImageMagick could not read the block";
    return testing::MatchesPnm(img, pnm);
}

bool Load(RasterImage& img, const Bytes& dib) {
    const bool ok = img.CreateFromHandle(dib);
    EXPECT_TRUE(ok) << img.GetLastError();
    if (ok) {
        EXPECT_TRUE(testing::PaddingIsZero(img));
    }
    return ok;
}

TEST(DibExchange, RoundTripThroughAHandleIsExact) {
    for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
        for (uint32_t width : {1u, 13u, 33u}) {
            RasterImage source = testing::RandomImage(width, 5, bpp, width * bpp);
            source.SetXDpi(300);
            source.SetYDpi(150);
            if (bpp == 8) source.SetClrImportant(7);
            const DibHandle handle = source.CopyToHandle();
            ASSERT_EQ(handle.size(), source.GetDibSize());
            EXPECT_EQ(std::memcmp(handle.data(), source.GetDib(), handle.size()), 0);

            RasterImage copy;
            ASSERT_TRUE(Load(copy, handle));
            EXPECT_EQ(copy.GetXDpi(), 300);
            EXPECT_EQ(copy.GetYDpi(), 150);
            ASSERT_EQ(copy.GetDibSize(), source.GetDibSize()) << bpp;
            EXPECT_EQ(std::memcmp(copy.GetDib(), source.GetDib(), copy.GetDibSize()), 0) << bpp;
            EXPECT_EQ(copy.GetHeader().biClrImportant, source.GetHeader().biClrImportant);
        }
    }
    EXPECT_TRUE(RasterImage().CopyToHandle().empty());
}

TEST(DibExchange, UncompressedPaletteBlocksWithShortPalettesAndTopDownRows) {
    // 8 bits, 5 palette entries: the pixels start right after them.
    const Picture eight = {{0, 1, 2, 3, 4}, {4, 3, 2, 1, 0}, {2, 2, 4, 4, 1}};
    Bytes dib = InfoHeader(5, 3, 8, 0, 5);
    PutPalette(dib, 5);
    const auto eightOffset = static_cast<uint32_t>(dib.size());
    for (int r = 2; r >= 0; --r) {
        Append(dib, eight[r]);
        Append(dib, {0x77, 0x77, 0x77});  // padding with junk
    }
    RasterImage img;
    ASSERT_TRUE(Load(img, dib));
    EXPECT_EQ(img.GetBpp(), 8u);
    EXPECT_TRUE(HasIndices(img, eight));
    for (uint8_t k = 0; k < 5; ++k) EXPECT_EQ(img.GetPaletteColor(k), Entry(k));
    EXPECT_EQ(img.GetPaletteColor(5), (RgbQuad{0, 0, 0, 0}));
    EXPECT_TRUE(MatchesImageMagick(dib, eightOffset, img));

    // 1 bit, top-down, 11 pixels wide with junk in the unused bits: the first
    // stored row is the top of the picture.
    const Picture one = {{1, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1}, {0, 1, 1, 1, 1, 1, 1, 1, 0, 0, 1}};
    dib = InfoHeader(11, -2, 1, 0);
    PutPalette(dib, 2);
    const auto oneOffset = static_cast<uint32_t>(dib.size());
    Append(dib, {0x80, 0xFF, 0xFF, 0xFF, 0x7F, 0x3F, 0xFF, 0xFF});
    ASSERT_TRUE(Load(img, dib));
    EXPECT_EQ(img.GetHeight(), 2u);
    EXPECT_EQ(img.GetBits(0)[0], 0x7F) << "the bottom line is stored first";
    EXPECT_TRUE(HasIndices(img, one));
    EXPECT_TRUE(MatchesImageMagick(dib, oneOffset, img));

    // A 12-byte core header: 16-bit sizes and 3-byte palette entries.
    const Picture four = {{15, 1, 2, 3, 9}, {4, 5, 6, 7, 8}};
    dib.clear();
    Put32(dib, 12);
    Put16(dib, 5);
    Put16(dib, 2);
    Put16(dib, 1);
    Put16(dib, 4);
    PutPalette(dib, 16, true);
    const auto coreOffset = static_cast<uint32_t>(dib.size());
    Append(dib, {0x45, 0x67, 0x80, 0x00, 0xF1, 0x23, 0x90, 0x00});
    ASSERT_TRUE(Load(img, dib));
    EXPECT_EQ(img.GetBpp(), 4u);
    EXPECT_EQ(img.GetXDpi(), 96);
    EXPECT_TRUE(HasIndices(img, four));
    EXPECT_EQ(img.GetPaletteColor(9), Entry(9));
    EXPECT_TRUE(MatchesImageMagick(dib, coreOffset, img));
}

TEST(DibExchange, RunLengthBlocksExpandEveryEscape) {
    // RLE8: encoded runs, an odd literal run with its pad byte, end of line,
    // a move, and the end of the bitmap.
    const Picture rle8 = {
        {1, 2, 3, 4, 1, 0, 0}, {0, 0, 0, 0, 0, 3, 3}, {4, 4, 0, 0, 0, 0, 0}, {1, 1, 1, 2, 3, 4, 0}};
    Bytes dib = InfoHeader(7, 4, 8, 1, 5);
    PutPalette(dib, 5);
    const auto offset8 = static_cast<uint32_t>(dib.size());
    Append(dib, {3, 1, 0, 3, 2, 3, 4, 0, 0, 0,    // row 0
                 2, 4, 0, 2, 3, 1, 2, 3, 0, 0,    // row 1, then a move to (5, 2)
                 0, 5, 1, 2, 3, 4, 1, 0, 0, 1});  // row 3 after the end of row 2
    RasterImage img;
    ASSERT_TRUE(Load(img, dib));
    EXPECT_TRUE(HasIndices(img, rle8));
    EXPECT_TRUE(MatchesImageMagick(dib, offset8, img));

    // RLE4: runs alternate the two nibbles; literal runs count nibbles.
    const Picture rle4 = {{1, 2, 3, 4, 5, 6}, {3, 4, 5, 0, 6, 6}, {1, 2, 1, 2, 1, 0}};
    dib = InfoHeader(6, 3, 4, 2, 7);
    PutPalette(dib, 7);
    const auto offset4 = static_cast<uint32_t>(dib.size());
    Append(dib, {5, 0x12, 0,    0,                                   // row 0
                 0, 3,    0x34, 0x50, 0,    2, 1, 0, 2, 0x66, 0, 0,  // row 1
                 0, 6,    0x12, 0x34, 0x56, 0, 0, 1});               // row 2
    ASSERT_TRUE(Load(img, dib));
    EXPECT_TRUE(HasIndices(img, rle4));
    EXPECT_TRUE(MatchesImageMagick(dib, offset4, img));

    // Runs longer than the row stop at its end; moves past the image drop
    // what follows; every row reached counts as a finished bitmap.
    dib = InfoHeader(3, 2, 8, 1, 4);
    PutPalette(dib, 4);
    Append(dib, {9, 2, 0, 0, 0, 5, 1, 2, 3, 1, 1, 0, 0, 0});
    ASSERT_TRUE(Load(img, dib));
    EXPECT_TRUE(HasIndices(img, {{1, 2, 3}, {2, 2, 2}}));
    dib = InfoHeader(3, 2, 8, 1, 4);
    PutPalette(dib, 4);
    Append(dib, {0, 2, 1, 9, 3, 3, 0, 0});
    ASSERT_TRUE(Load(img, dib));
    EXPECT_TRUE(HasIndices(img, {{0, 0, 0}, {0, 0, 0}}));
}

TEST(DibExchange, SixteenAndThirtyTwoBitPixelsBecomeTwentyFourBits) {
    struct Case {
        const char* name;
        Bytes dib;
        uint32_t offset;
    };
    std::vector<Case> cases;
    // 5-5-5 without masks.
    Bytes d = InfoHeader(2, 2, 16, 0);
    Append(d, {0x00, 0x00, 0xFF, 0x7F, 0x1F, 0x00, 0xE0, 0x03});
    cases.push_back({"555", d, 40});
    // 5-6-5 with masks after the header, rows padded.
    d = InfoHeader(3, 2, 16, 3);
    for (uint32_t m : {0xF800u, 0x07E0u, 0x001Fu}) Put32(d, m);
    Append(d, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0, 0xFF, 0xFF, 0x41, 0x08, 0x34, 0x12, 0, 0});
    cases.push_back({"565", d, 52});
    // 32 bits without masks: blue, green, red, unused.
    d = InfoHeader(2, 1, 32, 0);
    Append(d, {10, 20, 30, 0xFF, 200, 100, 50, 0xFF});
    cases.push_back({"32", d, 40});
    // 32 bits, a 124-byte header carrying unusual masks (red in the low byte).
    d = InfoHeader(3, 1, 32, 3, 0, 124);
    const uint32_t masks[] = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 4; ++j) d[40 + 4 * k + j] = static_cast<uint8_t>(masks[k] >> (8 * j));
    for (int j = 0; j < 4; ++j) d[56 + j] = static_cast<uint8_t>(0x73524742u >> (8 * j));  // sRGB
    Append(d, {1, 2, 3, 0xFF, 250, 128, 7, 0xFF, 0, 0, 0, 0xFF});
    cases.push_back({"v5", d, 124});

    const std::vector<std::vector<RgbQuad>> expected = {
        // bottom row first, each {blue, green, red}
        {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 255, 0}},
        {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}, {8, 8, 8}, {165, 69, 16}},
        {{10, 20, 30}, {200, 100, 50}},
        {{3, 2, 1}, {7, 128, 250}, {0, 0, 0}},
    };
    for (size_t c = 0; c < cases.size(); ++c) {
        RasterImage img;
        ASSERT_TRUE(Load(img, cases[c].dib)) << cases[c].name;
        EXPECT_EQ(img.GetBpp(), 24u);
        size_t k = 0;
        for (int32_t y = 0; y < static_cast<int32_t>(img.GetHeight()); ++y)
            for (int32_t x = 0; x < static_cast<int32_t>(img.GetWidth()); ++x, ++k) {
                const RgbQuad got = img.GetPixelColor(x, y, false);
                const RgbQuad want = expected[c][k];
                EXPECT_TRUE(got.blue == want.blue && got.green == want.green && got.red == want.red)
                    << cases[c].name << " pixel " << k << ": " << int(got.red) << ","
                    << int(got.green) << "," << int(got.blue);
            }
        EXPECT_TRUE(MatchesImageMagick(cases[c].dib, cases[c].offset, img)) << cases[c].name;
    }
}

TEST(DibExchange, BrokenBlocksAreRefusedAndLeaveTheImageEmpty) {
    auto withPalette = [](Bytes header, uint32_t entries, size_t pixelBytes) {
        PutPalette(header, entries);
        header.resize(header.size() + pixelBytes, 0);
        return header;
    };
    Bytes hugeRle = InfoHeader(30000, 30000, 8, 1);
    PutPalette(hugeRle, 256);
    Append(hugeRle, {0, 1});
    Bytes minHeight = InfoHeader(1, INT32_MIN, 24, 0);
    const std::vector<std::pair<const char*, Bytes>> broken = {
        {"empty", {}},
        {"three bytes", {40, 0, 0}},
        {"header size 20", InfoHeader(1, 1, 24, 0, 0, 20)},
        {"header past the end",
         [] {
             Bytes b = InfoHeader(1, 1, 24, 0, 0, 124);
             b.resize(60);
             return b;
         }()},
        {"zero width", withPalette(InfoHeader(0, 1, 8, 0), 256, 4)},
        {"negative width", withPalette(InfoHeader(-4, 1, 8, 0), 256, 4)},
        {"zero height", withPalette(InfoHeader(4, 0, 8, 0), 256, 4)},
        {"2 bits", withPalette(InfoHeader(4, 1, 2, 0), 4, 4)},
        {"embedded JPEG", withPalette(InfoHeader(4, 1, 0, 4), 0, 64)},
        {"RLE8 on 4 bits", withPalette(InfoHeader(4, 1, 4, 1), 16, 8)},
        {"RLE4 on 8 bits", withPalette(InfoHeader(4, 1, 8, 2), 256, 8)},
        {"compressed 24 bits", withPalette(InfoHeader(4, 1, 24, 1), 0, 16)},
        {"masks cut off", withPalette(InfoHeader(4, 1, 16, 3), 0, 0)},
        {"palette past the end", withPalette(InfoHeader(4, 1, 8, 0, 0x40000000), 2, 4)},
        {"one pixel byte short", withPalette(InfoHeader(5, 3, 24, 0), 0, 47)},
        {"absurd dimensions", withPalette(InfoHeader(40000, 40000, 24, 0), 0, 64)},
        {"lowest height", minHeight},
        {"RLE without its end", withPalette(InfoHeader(4, 3, 8, 1), 256, 0)},
        {"RLE cut in a literal",
         [&] {
             Bytes b = withPalette(InfoHeader(4, 3, 8, 1), 256, 0);
             Append(b, {0, 4, 1, 2});
             return b;
         }()},
        {"too large for memory", hugeRle},
    };
    for (const auto& [name, dib] : broken) {
        RasterImage img(4, 4, 8);
        ASSERT_TRUE(img.IsValid());
        EXPECT_FALSE(img.CreateFromHandle(dib)) << name;
        EXPECT_FALSE(img.IsValid()) << name;
        EXPECT_NE(img.GetLastError()[0], '\0') << name;
    }
    RasterImage img;
    img.CreateFromHandle(hugeRle);
    EXPECT_STREQ(img.GetLastError(), "RASTER_MAX_MEMORY exceeded");
    img.CreateFromHandle(withPalette(InfoHeader(5, 3, 24, 0), 0, 47));
    EXPECT_STREQ(img.GetLastError(), "CreateFromHandle: pixel data past the end of the block");

    // A ghost refuses to take a block, and its source keeps its pixels.
    RasterImage source = testing::RandomImage(5, 5, 8, 3);
    const RasterImage before(source);
    RasterImage ghost;
    ghost.Ghost(&source);
    EXPECT_FALSE(ghost.CreateFromHandle(testing::RandomImage(2, 2, 1, 4).CopyToHandle()));
    EXPECT_TRUE(testing::SamePixels(source, before));
}

// Every damaged copy of a valid block is taken or refused cleanly; the
// sanitizer build checks that nothing is read outside the handle.
void ExpectHandleDamageIsSafe(const Bytes& valid, uint32_t seed) {
    testing::ForEachMutation(valid, seed, [](const Bytes& m) {
        RasterImage img;
        if (img.CreateFromHandle(m)) {
            EXPECT_TRUE(img.IsValid());
            // Inflated sizes give huge, mostly empty images; their padding
            // is the same code path as the small ones'.
            if (img.GetDibSize() < (1u << 20)) {
                EXPECT_TRUE(testing::PaddingIsZero(img));
            }
        } else {
            EXPECT_FALSE(img.IsValid());
            EXPECT_NE(img.GetLastError()[0], '\0');
        }
    });
}

TEST(DibExchange, DamagedHandlesNeverFault) {
    ExpectHandleDamageIsSafe(testing::RandomImage(9, 4, 1, 1).CopyToHandle(), 11);
    ExpectHandleDamageIsSafe(testing::RandomImage(5, 3, 24, 2).CopyToHandle(), 12);
    Bytes rle = InfoHeader(7, 4, 8, 1, 5);
    PutPalette(rle, 5);
    Append(rle, {3, 1, 0, 3, 2, 3, 4, 0, 0, 0, 2, 4, 0, 2, 3,
                 1, 2, 3, 0, 0, 0, 5, 1, 2, 3, 4, 1, 0, 0, 1});
    ExpectHandleDamageIsSafe(rle, 13);
    rle = InfoHeader(6, 3, 4, 2, 7);
    PutPalette(rle, 7);
    Append(rle, {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0,    2, 1, 0,
                 2, 0x66, 0, 0, 0, 6, 0x12, 0x34, 0x56, 0, 0, 1});
    ExpectHandleDamageIsSafe(rle, 14);
    Bytes masks = InfoHeader(3, -2, 16, 3);
    for (uint32_t m : {0xF800u, 0x07E0u, 0x001Fu}) Put32(masks, m);
    masks.resize(masks.size() + 16, 0x5A);
    ExpectHandleDamageIsSafe(masks, 15);
}

TEST(DibExchange, KnownCrashersFailCleanly) {
    const std::string dir = testing::SourceRoot() + "/tests/data/crashers";
    DIR* d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr) << dir;
    while (dirent* e = readdir(d)) {
        if (std::strncmp(e->d_name, "dib-", 4) != 0) continue;
        const Bytes data = testing::ReadFileBytes(dir + "/" + e->d_name);
        RasterImage img;
        if (!img.CreateFromHandle(data)) {
            EXPECT_NE(img.GetLastError()[0], '\0') << e->d_name;
        }
    }
    closedir(d);
}

}  // namespace
}  // namespace sheetmend
