#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "image/codecs/bmp_codec.h"
#include "image/format_codes.h"
#include "image/raster_image.h"
#include "tests/image/codecs_main/codec_test_support.h"

namespace sheetmend {
namespace {

using namespace testing;

uint32_t Le32At(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// A bitmap file: 14-byte file header, a 40-byte (or 12-byte core) header,
// palette and pixel bytes exactly as given.
struct BmpFile {
    int32_t width = 0, height = 0;
    uint16_t bitCount = 8;
    uint32_t compression = 0;
    uint32_t clrUsed = 0;
    bool core = false;
    Bytes extra;    // masks after the header
    Bytes palette;  // raw entries
    Bytes pixels;
    int64_t offBits = -1;  // -1: right after the palette
    int32_t xPels = 0, yPels = 0;
};

Bytes MakeBmp(const BmpFile& s) {
    Bytes b = {'B', 'M'};
    const uint32_t headerSize = s.core ? 12 : 40;
    const uint32_t off = static_cast<uint32_t>(
        s.offBits >= 0 ? s.offBits : 14 + headerSize + s.extra.size() + s.palette.size());
    Put32(b, 0);  // file size, fixed below
    Put32(b, 0);
    Put32(b, off);
    Put32(b, headerSize);
    if (s.core) {
        Put16(b, static_cast<uint32_t>(s.width));
        Put16(b, static_cast<uint32_t>(s.height));
        Put16(b, 1);
        Put16(b, s.bitCount);
    } else {
        Put32(b, static_cast<uint32_t>(s.width));
        Put32(b, static_cast<uint32_t>(s.height));
        Put16(b, 1);
        Put16(b, s.bitCount);
        Put32(b, s.compression);
        Put32(b, static_cast<uint32_t>(s.pixels.size()));
        Put32(b, static_cast<uint32_t>(s.xPels));
        Put32(b, static_cast<uint32_t>(s.yPels));
        Put32(b, s.clrUsed);
        Put32(b, 0);
    }
    b.insert(b.end(), s.extra.begin(), s.extra.end());
    b.insert(b.end(), s.palette.begin(), s.palette.end());
    // An offset beyond the palette leaves a gap (up to 64 KiB) before the pixels.
    if (s.offBits >= 0 && b.size() < static_cast<size_t>(s.offBits) && s.offBits < 65536)
        b.resize(static_cast<size_t>(s.offBits), 0);
    b.insert(b.end(), s.pixels.begin(), s.pixels.end());
    const uint32_t size = static_cast<uint32_t>(b.size());
    for (int i = 0; i < 4; ++i) b[2 + i] = static_cast<uint8_t>(size >> (8 * i));
    return b;
}

// ---------------------------------------------------------------------------
// writing

TEST(BmpCodec, RoundTripsEveryDepthExactly) {
    ScratchDir dir;
    for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
        for (uint32_t width : {1u, 13u, 32u}) {
            RasterImage img = RandomImage(width, 7, bpp, bpp * 100 + width);
            img.SetXDpi(300);
            img.SetYDpi(150);
            const Bytes file = EncodeToBytes(img, kFormatBmp);
            ASSERT_FALSE(file.empty()) << img.GetLastError();
            // The file is the block behind a 14-byte header.
            ASSERT_EQ(file.size(), 14u + img.GetDibSize());
            EXPECT_EQ(file[0], 'B');
            EXPECT_EQ(file[1], 'M');
            EXPECT_EQ(Le32At(file, 2), file.size());
            EXPECT_EQ(Le32At(file, 10), 14u + 40u + img.GetPaletteSize());
            EXPECT_EQ(std::memcmp(file.data() + 14, img.GetDib(), img.GetDibSize()), 0);

            RasterImage back = MustDecode(file, kFormatBmp);
            EXPECT_TRUE(SamePixels(img, back)) << bpp << " bits, width " << width;
            EXPECT_TRUE(SameColours(img, back));
            EXPECT_EQ(back.GetXDpi(), 300);
            EXPECT_EQ(back.GetYDpi(), 150);
            EXPECT_EQ(back.GetType(), kFormatBmp);
            EXPECT_FALSE(back.HasAlpha());

            // ImageMagick reads the same colours.
            const std::string path = dir.File("rt" + std::to_string(bpp) + ".bmp");
            ASSERT_TRUE(WriteFileBytes(path, file));
            Pnm pnm;
            ASSERT_TRUE(DecodeWithImageMagick(path, &pnm));
            EXPECT_TRUE(MatchesPnm(img, pnm));
        }
    }
}

TEST(BmpCodec, WritesAlphaAsThirtyTwoBitPixels) {
    RasterImage img = RandomImage(5, 3, 24, 7);
    AddRandomAlpha(img, 8);
    const Bytes file = EncodeToBytes(img, kFormatBmp);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file.size(), 14u + 40u + 5u * 3u * 4u);
    EXPECT_EQ(Le32At(file, 10), 54u);
    EXPECT_EQ(file[14 + 14], 32);           // biBitCount
    EXPECT_EQ(Le32At(file, 14 + 16), 0u);   // biCompression
    EXPECT_EQ(Le32At(file, 14 + 20), 60u);  // biSizeImage
    // First stored pixel: bottom-left, blue, green, red, alpha.
    const RgbQuad c = img.GetPixelColor(0, 0, false);
    EXPECT_EQ(file[54], c.blue);
    EXPECT_EQ(file[55], c.green);
    EXPECT_EQ(file[56], c.red);
    EXPECT_EQ(file[57], img.AlphaGet(0, 0));

    RasterImage back = MustDecode(file, kFormatBmp);
    EXPECT_EQ(back.GetBpp(), 24u);
    EXPECT_TRUE(SamePixels(img, back));
    EXPECT_TRUE(SameAlpha(img, back));
}

TEST(BmpCodec, RefusesAnEmptyImage) {
    RasterImage empty;
    MemoryStream out;
    out.Open();
    EXPECT_FALSE(empty.Encode(&out, kFormatBmp));
    EXPECT_STREQ(empty.GetLastError(), "null image!!!");
}

// ---------------------------------------------------------------------------
// reading files ImageMagick wrote

TEST(BmpCodec, ReadsImageMagickBitmapsLikeImageMagick) {
    ScratchDir dir;
    const std::string noise = "-size 37x11 xc: +noise Random";
    const std::string gradient = "-size 37x11 gradient:red-blue";
    struct Case {
        std::string args, name;
        uint32_t bitCount, compression, bpp;
    } cases[] = {
        {gradient + " -colors 2 -type palette -compress none BMP3:", "b1.bmp", 1, 0, 1},
        {gradient + " -colors 16 -type palette -compress none BMP3:", "b4.bmp", 4, 0, 4},
        {noise + " -colors 200 -type palette -compress none BMP3:", "b8.bmp", 8, 0, 8},
        {noise + " -colors 200 -type palette -compress RLE BMP3:", "rle8.bmp", 8, 1, 8},
        {noise + " -type truecolor BMP3:", "b24.bmp", 24, 0, 24},
        {noise + " -define bmp:subtype=RGB565 BMP:", "b565.bmp", 16, 3, 24},
        {noise + " -define bmp:subtype=RGB555 BMP:", "b555.bmp", 16, 3, 24},
        {noise + " -type truecolor BMP2:", "os2.bmp", 24, 0, 24},
    };
    for (const Case& c : cases) {
        const std::string path = MakeWithImageMagick(dir, c.args, c.name);
        ASSERT_FALSE(path.empty());
        const Bytes file = ReadFileBytes(path);
        ASSERT_GT(file.size(), 30u);
        const bool core = Le32At(file, 14) == 12;
        EXPECT_EQ(file[core ? 24 : 28], c.bitCount) << c.name;
        if (Le32At(file, 14) >= 40) {
            EXPECT_EQ(Le32At(file, 30), c.compression) << c.name;
        }
        RasterImage img;
        ASSERT_TRUE(img.Load(path.c_str(), kFormatBmp)) << c.name << ": " << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), c.bpp) << c.name;
        EXPECT_TRUE(PaddingIsZero(img)) << c.name;
        Pnm pnm;
        ASSERT_TRUE(DecodeWithImageMagick(path, &pnm));
        EXPECT_TRUE(MatchesPnm(img, pnm)) << c.name;
    }
}

TEST(BmpCodec, ReadsImageMagickAlphaIntoTheAlphaPlane) {
    ScratchDir dir;
    const std::string path = MakeWithImageMagick(
        dir, "-size 23x9 xc: +noise Random -alpha set -channel A -fx 'i/w' +channel BMP:", "a.bmp");
    ASSERT_FALSE(path.empty());
    RasterImage img;
    ASSERT_TRUE(img.Load(path.c_str(), kFormatBmp)) << img.GetLastError();
    ASSERT_TRUE(img.HasAlpha());
    Pnm pnm;
    ASSERT_TRUE(DecodeWithImageMagick(path, &pnm));
    EXPECT_TRUE(MatchesPnm(img, pnm));
    std::vector<uint8_t> alpha;
    ASSERT_TRUE(AlphaWithImageMagick(path, &alpha));
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 23; ++x)
            ASSERT_EQ(img.AlphaGet(x, 8 - y), alpha[static_cast<size_t>(y) * 23 + x])
                << x << "," << y;
}

// ---------------------------------------------------------------------------
// hand-made files

TEST(BmpCodec, ReadsTopDownRowsAndClearsPaddingBits) {
    // 3x2 at 1 bit, top row first; the unused bits hold junk.
    BmpFile s;
    s.width = 3;
    s.height = -2;
    s.bitCount = 1;
    s.palette = {0, 0, 0, 0, 255, 255, 255, 0};
    s.pixels = {0xBF, 0xFF, 0xFF, 0xFF,   // top: 1 0 1 + junk
                0x5F, 0xAA, 0xAA, 0xAA};  // bottom: 0 1 0 + junk
    RasterImage img = MustDecode(MakeBmp(s), kFormatBmp);
    ASSERT_EQ(img.GetHeight(), 2u);
    EXPECT_EQ(img.GetPixelIndex(0, 1), 1);
    EXPECT_EQ(img.GetPixelIndex(1, 1), 0);
    EXPECT_EQ(img.GetPixelIndex(2, 1), 1);
    EXPECT_EQ(img.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 1);
    EXPECT_EQ(img.GetPixelIndex(2, 0), 0);
    EXPECT_TRUE(PaddingIsZero(img));
}

TEST(BmpCodec, ReadsCoreHeadersAndShortPalettes) {
    // OS/2 core header: 3-byte palette entries, 4 bits.
    BmpFile core;
    core.core = true;
    core.width = 2;
    core.height = 1;
    core.bitCount = 4;
    for (int i = 0; i < 16; ++i)
        core.palette.insert(core.palette.end(), {uint8_t(i), uint8_t(2 * i), uint8_t(3 * i)});
    core.pixels = {0x3C, 0, 0, 0};
    RasterImage a = MustDecode(MakeBmp(core), kFormatBmp);
    EXPECT_EQ(a.GetPixelColor(0, 0, false), (RgbQuad{3, 6, 9, 0}));
    EXPECT_EQ(a.GetPixelColor(1, 0, false), (RgbQuad{12, 24, 36, 0}));

    // An 8-bit file listing two colours; index 7 has no entry and reads black.
    BmpFile shortPal;
    shortPal.width = 3;
    shortPal.height = 1;
    shortPal.bitCount = 8;
    shortPal.clrUsed = 2;
    shortPal.palette = {10, 20, 30, 0, 40, 50, 60, 0};
    shortPal.pixels = {1, 0, 7, 0};
    RasterImage b = MustDecode(MakeBmp(shortPal), kFormatBmp);
    EXPECT_EQ(b.GetNumColors(), 256u);
    EXPECT_EQ(b.GetPixelColor(0, 0, false), (RgbQuad{40, 50, 60, 0}));
    EXPECT_EQ(b.GetPixelColor(1, 0, false), (RgbQuad{10, 20, 30, 0}));
    EXPECT_EQ(b.GetPixelColor(2, 0, false), (RgbQuad{0, 0, 0, 0}));

    // A count of 0 with a pixel offset that leaves room for four entries only.
    BmpFile cut = shortPal;
    cut.clrUsed = 0;
    cut.palette = {1, 1, 1, 0, 2, 2, 2, 0, 3, 3, 3, 0, 4, 4, 4, 0};
    cut.pixels = {3, 2, 0, 0};
    RasterImage c = MustDecode(MakeBmp(cut), kFormatBmp);
    EXPECT_EQ(c.GetPixelColor(0, 0, false), (RgbQuad{4, 4, 4, 0}));
    EXPECT_EQ(c.GetPixelColor(1, 0, false), (RgbQuad{3, 3, 3, 0}));
    EXPECT_EQ(c.GetPaletteColor(4), (RgbQuad{0, 0, 0, 0}));
}

TEST(BmpCodec, ExpandsRunLengthCodes) {
    // RLE4 4x3: a run, a literal with an odd count, a move, end of bitmap.
    BmpFile s;
    s.width = 4;
    s.height = 3;
    s.bitCount = 4;
    s.compression = 2;
    for (int i = 0; i < 16; ++i)
        s.palette.insert(s.palette.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
    s.pixels = {
        4, 0x12,              // row 0: 1 2 1 2
        0, 0,                 // end of line
        0, 3,    0xAB, 0xC0,  // row 1: A B C (two data bytes, already even)
        0, 0,                 // end of line
        0, 2,    2,    0,     // move two pixels right
        2, 0xEE,              // row 2: _ _ E E
        0, 1,                 // end of bitmap
    };
    RasterImage img = MustDecode(MakeBmp(s), kFormatBmp);
    const uint8_t expect[3][4] = {{1, 2, 1, 2}, {10, 11, 12, 0}, {0, 0, 14, 14}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(img.GetPixelIndex(x, y), expect[y][x]) << x << "," << y;

    // RLE8 with a literal of odd length (padded) and a run past the row end.
    BmpFile r8;
    r8.width = 3;
    r8.height = 2;
    r8.bitCount = 8;
    r8.compression = 1;
    r8.clrUsed = 8;
    for (int i = 0; i < 8; ++i) r8.palette.insert(r8.palette.end(), {uint8_t(i), 0, 0, 0});
    r8.pixels = {0, 3, 5, 6, 7, 0, 0, 0, 9, 4, 0, 1};
    RasterImage img8 = MustDecode(MakeBmp(r8), kFormatBmp);
    EXPECT_EQ(img8.GetPixelIndex(0, 0), 5);
    EXPECT_EQ(img8.GetPixelIndex(2, 0), 7);
    EXPECT_EQ(img8.GetPixelIndex(0, 1), 4);
    EXPECT_EQ(img8.GetPixelIndex(2, 1), 4);
}

TEST(BmpCodec, ReadsMaskedAndTwoBitPixels) {
    // 16 bits, 5-6-5 masks after a 40-byte header.
    BmpFile s;
    s.width = 2;
    s.height = 1;
    s.bitCount = 16;
    s.compression = 3;
    Put32(s.extra, 0xF800);
    Put32(s.extra, 0x07E0);
    Put32(s.extra, 0x001F);
    s.pixels = {0x00, 0xF8, 0xE0, 0x07};  // pure red, pure green
    RasterImage img = MustDecode(MakeBmp(s), kFormatBmp);
    EXPECT_EQ(img.GetBpp(), 24u);
    EXPECT_EQ(img.GetPixelColor(0, 0, false), (RgbQuad{0, 0, 255, 0}));
    EXPECT_EQ(img.GetPixelColor(1, 0, false), (RgbQuad{0, 255, 0, 0}));

    // 32 bits without colour masks: an all-zero fourth byte is no alpha.
    BmpFile t;
    t.width = 1;
    t.height = 1;
    t.bitCount = 32;
    t.pixels = {1, 2, 3, 0};
    RasterImage noAlpha = MustDecode(MakeBmp(t), kFormatBmp);
    EXPECT_FALSE(noAlpha.HasAlpha());
    EXPECT_EQ(noAlpha.GetPixelColor(0, 0, false), (RgbQuad{1, 2, 3, 0}));

    // 2 bits widen to a 4-bit image with the same indices.
    BmpFile two;
    two.width = 5;
    two.height = 1;
    two.bitCount = 2;
    two.palette = {0, 0, 0, 0, 1, 1, 1, 0, 2, 2, 2, 0, 3, 3, 3, 0};
    two.pixels = {0x1B, 0x80, 0, 0};  // 0 1 2 3 2
    RasterImage four = MustDecode(MakeBmp(two), kFormatBmp);
    EXPECT_EQ(four.GetBpp(), 4u);
    const uint8_t expect[5] = {0, 1, 2, 3, 2};
    for (int x = 0; x < 5; ++x) EXPECT_EQ(four.GetPixelIndex(x, 0), expect[x]);
}

TEST(BmpCodec, RefusesWhatItCannotRead) {
    BmpFile ok;
    ok.width = 4;
    ok.height = 4;
    ok.bitCount = 24;
    ok.pixels.assign(48, 0x80);
    RasterImage valid = MustDecode(MakeBmp(ok), kFormatBmp);
    ASSERT_TRUE(valid.IsValid());

    struct Case {
        const char* what;
        Bytes file;
        const char* message;
    };
    auto with = [&](auto change) {
        BmpFile s = ok;
        change(s);
        return MakeBmp(s);
    };
    Bytes truncated = MakeBmp(ok);
    truncated.resize(truncated.size() - 5);
    Bytes badMagic = MakeBmp(ok);
    badMagic[0] = 'X';
    const Case cases[] = {
        {"truncated pixels", truncated, "BMP: file is truncated"},
        {"not a bitmap", badMagic, "BMP: not a bitmap file"},
        {"huge and empty", with([](BmpFile& s) {
             s.width = 40000;
             s.height = 40000;
         }),
         "BMP: file is truncated"},
        {"zero width", with([](BmpFile& s) { s.width = 0; }), "BMP: bad image dimensions"},
        {"odd depth", with([](BmpFile& s) { s.bitCount = 7; }),
         "BMP: unsupported number of bits per pixel"},
        {"jpeg inside", with([](BmpFile& s) { s.compression = 4; }),
         "BMP: JPEG and PNG compressed bitmaps are not supported"},
        {"offset outside", with([](BmpFile& s) { s.offBits = 100000; }),
         "BMP: pixel data lies outside the file"},
        {"rle top-down", with([](BmpFile& s) {
             s.bitCount = 8;
             s.compression = 1;
             s.height = -4;
         }),
         "BMP: a compressed bitmap cannot be stored top-down"},
    };
    for (const Case& c : cases) {
        RasterImage img;
        EXPECT_FALSE(DecodeFromBytes(c.file, kFormatBmp, img)) << c.what;
        EXPECT_STREQ(img.GetLastError(), c.message) << c.what;
    }

    // Run-length data that stops before the bitmap is complete.
    BmpFile rle;
    rle.width = 4;
    rle.height = 2;
    rle.bitCount = 8;
    rle.compression = 1;
    rle.pixels = {4, 1, 0, 0, 2};
    RasterImage img;
    EXPECT_FALSE(DecodeFromBytes(MakeBmp(rle), kFormatBmp, img));
    EXPECT_STREQ(img.GetLastError(), "BMP: compressed data ends too early");
}

}  // namespace
}  // namespace sheetmend
