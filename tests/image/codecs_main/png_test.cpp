#include <gtest/gtest.h>

#include <map>
#include <string>

#include "image/format_codes.h"
#include "image/raster_image.h"
#include "tests/image/codecs_main/codec_test_support.h"

namespace sheetmend {
namespace {

using namespace testing;

uint32_t Be32(const Bytes& b, size_t at) {
    return (static_cast<uint32_t>(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

// The data of the first chunk of each type.
std::map<std::string, Bytes> Chunks(const Bytes& png) {
    std::map<std::string, Bytes> out;
    size_t at = 8;
    while (at + 12 <= png.size()) {
        const uint32_t n = Be32(png, at);
        const std::string type(png.begin() + static_cast<ptrdiff_t>(at + 4),
                               png.begin() + static_cast<ptrdiff_t>(at + 8));
        if (at + 12 + n > png.size()) break;
        if (!out.count(type))
            out[type] = Bytes(png.begin() + static_cast<ptrdiff_t>(at + 8),
                              png.begin() + static_cast<ptrdiff_t>(at + 8 + n));
        at += 12 + n;
    }
    return out;
}

// Colours and alpha of our decode equal ImageMagick's reading of the file
// (16-bit samples rounded to 8 bits).
void ExpectSameAsImageMagick(const std::string& path, const RasterImage& img) {
    Pnm pnm;
    ASSERT_TRUE(DecodeWithImageMagick16(path, &pnm)) << path;
    EXPECT_TRUE(MatchesPnm(img, pnm)) << path;
    std::vector<uint8_t> alpha;
    ASSERT_TRUE(AlphaWithImageMagick(path, &alpha)) << path;
    const int w = static_cast<int>(img.GetWidth()), h = static_cast<int>(img.GetHeight());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int ours = 255;
            if (img.HasAlpha())
                ours = img.AlphaGet(x, h - 1 - y);
            else if (img.GetBackgroundIndex() >= 0 &&
                     img.GetPixelIndex(x, h - 1 - y) == img.GetBackgroundIndex())
                ours = 0;
            ASSERT_EQ(ours, alpha[static_cast<size_t>(y) * w + x])
                << path << " alpha at " << x << "," << y;
        }
}

// ---------------------------------------------------------------------------
// writing

TEST(PngCodec, RoundTripsEveryDepthWithTheRightColourType) {
    ScratchDir dir;
    struct Case {
        const char* what;
        uint32_t bpp;
        bool grey, alpha;
        uint8_t colourType, depth;
    } cases[] = {
        {"1-bit palette", 1, false, false, 3, 1}, {"4-bit palette", 4, false, false, 3, 4},
        {"8-bit palette", 8, false, false, 3, 8}, {"8-bit grey", 8, true, false, 0, 8},
        {"24-bit", 24, false, false, 2, 8},       {"24-bit alpha", 24, false, true, 6, 8},
        {"grey alpha", 8, true, true, 4, 8},      {"palette alpha", 4, false, true, 6, 8},
    };
    for (const Case& c : cases) {
        for (uint32_t adam7 : {0u, 1u}) {
            RasterImage img = RandomImage(13, 9, c.bpp, c.bpp + 3 * adam7);
            if (c.grey) img.SetGrayPalette();
            if (c.alpha) AddRandomAlpha(img, 5);
            img.SetCodecOption(adam7, kFormatPng);
            const Bytes file = EncodeToBytes(img, kFormatPng);
            ASSERT_FALSE(file.empty()) << c.what << ": " << img.GetLastError();
            auto chunks = Chunks(file);
            ASSERT_EQ(chunks["IHDR"].size(), 13u);
            EXPECT_EQ(chunks["IHDR"][8], c.depth) << c.what;
            EXPECT_EQ(chunks["IHDR"][9], c.colourType) << c.what;
            EXPECT_EQ(chunks["IHDR"][12], adam7) << c.what;

            RasterImage back = MustDecode(file, kFormatPng);
            EXPECT_EQ(back.GetType(), kFormatPng);
            EXPECT_TRUE(SameColours(img, back)) << c.what;
            EXPECT_TRUE(SameAlpha(img, back)) << c.what;
            if (!c.alpha) {
                EXPECT_TRUE(SamePixels(img, back)) << c.what;
            }
            EXPECT_TRUE(PaddingIsZero(back));

            const std::string path = dir.File("rt.png");
            ASSERT_TRUE(WriteFileBytes(path, file));
            ExpectSameAsImageMagick(path, img);
        }
    }
}

TEST(PngCodec, WritesResolutionAndAWhiteBackground) {
    RasterImage img = RandomImage(4, 4, 24, 1);
    img.SetXDpi(300);
    img.SetYDpi(200);
    const Bytes file = EncodeToBytes(img, kFormatPng);
    auto chunks = Chunks(file);
    ASSERT_EQ(chunks["pHYs"].size(), 9u);
    EXPECT_EQ(Be32(chunks["pHYs"], 0), 11811u);  // 300 dpi in pels per metre
    EXPECT_EQ(Be32(chunks["pHYs"], 4), 7874u);
    EXPECT_EQ(chunks["pHYs"][8], 1);
    EXPECT_EQ(chunks["bKGD"], (Bytes{0, 255, 0, 255, 0, 255}));
    EXPECT_EQ(chunks.count("tRNS"), 0u);
    RasterImage back = MustDecode(file, kFormatPng);
    EXPECT_EQ(back.GetXDpi(), 300);
    EXPECT_EQ(back.GetYDpi(), 200);

    // A palette image points its background at the entry nearest to white.
    RasterImage pal(2, 2, 4);
    pal.SetPaletteColor(3, 250, 250, 240);
    pal.SetPaletteColor(7, 255, 255, 255);
    pal.SetClrImportant(5);
    auto palChunks = Chunks(EncodeToBytes(pal, kFormatPng));
    EXPECT_EQ(palChunks["bKGD"], (Bytes{3}));
}

TEST(PngCodec, MovesTheTransparentIndexToEntryZeroWithoutTouchingTheImage) {
    ScratchDir dir;
    RasterImage img = RandomImage(11, 6, 8, 21);
    img.SetBackgroundIndex(5);
    for (int x = 0; x < 11; ++x) img.SetPixelIndex(x, 2, 5);
    img.SetPixelIndex(0, 0, 0);
    const RasterImage before(img);
    const Bytes file = EncodeToBytes(img, kFormatPng);
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(SamePixels(before, img));
    EXPECT_TRUE(SameColours(before, img));
    EXPECT_EQ(img.GetBackgroundIndex(), 5);

    auto chunks = Chunks(file);
    const Bytes& plte = chunks["PLTE"];
    ASSERT_EQ(plte.size(), 768u);
    const RgbQuad five = img.GetPaletteColor(5), zero = img.GetPaletteColor(0);
    EXPECT_EQ(plte[0], five.red);
    EXPECT_EQ(plte[1], five.green);
    EXPECT_EQ(plte[2], five.blue);
    EXPECT_EQ(plte[15], zero.red);
    EXPECT_EQ(chunks["tRNS"], (Bytes{0}));
    EXPECT_EQ(chunks["bKGD"], (Bytes{0}));

    RasterImage back = MustDecode(file, kFormatPng);
    EXPECT_EQ(back.GetBackgroundIndex(), 0);
    EXPECT_FALSE(back.HasAlpha());
    EXPECT_TRUE(SameColours(img, back));
    EXPECT_EQ(back.GetPixelIndex(3, 2), 0);
    EXPECT_EQ(back.GetPixelIndex(0, 0), 5);
    const std::string path = dir.File("t.png");
    ASSERT_TRUE(WriteFileBytes(path, file));
    ExpectSameAsImageMagick(path, back);
}

TEST(PngCodec, CutsThePaletteToTheImportantEntriesThePixelsNeed) {
    RasterImage img = RandomImage(8, 3, 8, 4);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 8; ++x) img.SetPixelIndex(x, y, static_cast<uint8_t>((x + y) % 4));
    img.SetClrImportant(4);
    EXPECT_EQ(Chunks(EncodeToBytes(img, kFormatPng))["PLTE"].size(), 12u);

    // An index beyond the important entries still gets its colour.
    img.SetPixelIndex(2, 1, 9);
    const Bytes file = EncodeToBytes(img, kFormatPng);
    EXPECT_EQ(Chunks(file)["PLTE"].size(), 30u);
    EXPECT_TRUE(SameColours(img, MustDecode(file, kFormatPng)));
}

TEST(PngCodec, KeepsLowDepthPalettesThatOnlyLookGrey) {
    // Entries 0 and 1 are (0,0,0) and (1,1,1): both nearly black. Written as
    // a 1-bit grey file they would come back black and white.
    RasterImage img(9, 2, 1);
    img.SetPaletteColor(1, 1, 1, 1);
    ASSERT_TRUE(img.IsGrayScale());
    img.SetPixelIndex(4, 1, 1);
    const Bytes file = EncodeToBytes(img, kFormatPng);
    EXPECT_EQ(Chunks(file)["IHDR"][9], 3);
    RasterImage back = MustDecode(file, kFormatPng);
    EXPECT_TRUE(SameColours(img, back));
    EXPECT_EQ(back.GetPixelColor(4, 1, false), (RgbQuad{1, 1, 1, 0}));
}

TEST(PngCodec, ReportsWriteFailures) {
    RasterImage img = RandomImage(64, 64, 24, 2);
    for (size_t room : {0u, 20u, 100u}) {
        FullStream full(room);
        EXPECT_FALSE(img.Encode(&full, kFormatPng));
        EXPECT_STREQ(img.GetLastError(), "Error saving PNG file");
    }
    RasterImage empty;
    MemoryStream out;
    out.Open();
    EXPECT_FALSE(empty.Encode(&out, kFormatPng));
    EXPECT_STREQ(empty.GetLastError(), "null image!!!");
}

// ---------------------------------------------------------------------------
// reading files ImageMagick wrote

TEST(PngCodec, ReadsEveryColourTypeLikeImageMagick) {
    ScratchDir dir;
    const std::string noise = "-size 19x7 xc: +noise Random";
    const std::string grad = "-size 19x7 gradient:black-white";
    const std::string alphaRamp = " -alpha set -channel A -fx 'i/w' +channel";
    const std::string cut = " -alpha set -channel A -fx '(i>3&&i<8)?0:1' +channel";
    auto grey = [&](int depth) {
        return grad + (depth == 16 ? " -depth 16" : "") +
               " -define png:color-type=0 -define png:bit-depth=" + std::to_string(depth) + " PNG:";
    };
    struct Case {
        std::string args, name;
        uint32_t bpp;
        bool alpha, transparentIndex;
    } cases[] = {
        {grey(1), "g1.png", 1, false, false},
        {grey(2), "g2.png", 4, false, false},
        {grey(4), "g4.png", 4, false, false},
        {grey(8), "g8.png", 8, false, false},
        {grey(16), "g16.png", 8, false, false},
        {noise + " -colors 2 -define png:bit-depth=1 PNG8:", "p1.png", 1, false, false},
        {noise + " -colors 4 -define png:bit-depth=2 PNG8:", "p2.png", 4, false, false},
        {noise + " -colors 12 -define png:bit-depth=4 PNG8:", "p4.png", 4, false, false},
        {noise + " -colors 100 PNG8:", "p8.png", 8, false, false},
        {noise + " PNG24:", "c8.png", 24, false, false},
        {noise + " -depth 16 PNG48:", "c16.png", 24, false, false},
        {noise + alphaRamp + " PNG32:", "a8.png", 24, true, false},
        {noise + alphaRamp + " -depth 16 PNG64:", "a16.png", 24, true, false},
        {grad + alphaRamp + " -depth 8 -define png:color-type=4 -define png:bit-depth=8 PNG:",
         "ga8.png", 8, true, false},
        {grad + alphaRamp + " -depth 16 -define png:color-type=4 PNG:", "ga16.png", 8, true, false},
        {noise + " -interlace PNG PNG24:", "i8.png", 24, false, false},
        {noise + " -colors 2 -interlace PNG -define png:bit-depth=1 PNG8:", "ip1.png", 1, false,
         false},
        {noise + " -colors 4 -interlace PNG -define png:bit-depth=2 PNG8:", "ip2.png", 4, false,
         false},
        {noise + alphaRamp + " -interlace PNG PNG32:", "ia8.png", 24, true, false},
        {noise + " -colors 20" + cut + " PNG8:", "t8.png", 8, false, true},
        {grad + " -transparent black -define png:color-type=0 -define png:bit-depth=8 PNG:",
         "tg.png", 8, false, true},
        {noise + cut + " PNG24:", "trgb.png", 24, true, false},
    };
    for (const Case& c : cases) {
        const std::string path = MakeWithImageMagick(dir, c.args, c.name);
        ASSERT_FALSE(path.empty());
        RasterImage img;
        ASSERT_TRUE(img.Load(path.c_str(), kFormatPng)) << c.name << ": " << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), c.bpp) << c.name;
        EXPECT_EQ(img.HasAlpha(), c.alpha) << c.name;
        EXPECT_EQ(img.GetBackgroundIndex() >= 0, c.transparentIndex) << c.name;
        EXPECT_TRUE(PaddingIsZero(img)) << c.name;
        ExpectSameAsImageMagick(path, img);
    }
}

TEST(PngCodec, MapsGreyLevelsOntoGreyRamps) {
    // 2-bit grey 0 1 2 3 becomes 4-bit indices 0 5 10 15 of the 16-step ramp.
    const Bytes file = PngBuilder().Header(4, 1, 2, 0).Data({0, 0x1B}).End();
    RasterImage img = MustDecode(file, kFormatPng);
    ASSERT_EQ(img.GetBpp(), 4u);
    const uint8_t levels[4] = {0, 85, 170, 255};
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(img.GetPixelIndex(x, 0), 5 * x);
        EXPECT_EQ(img.GetPixelColor(x, 0, false), (RgbQuad{levels[x], levels[x], levels[x], 0}));
    }
    // 8-bit grey is the identity ramp, so it saves as grey again.
    RasterImage g8 =
        MustDecode(PngBuilder().Header(2, 1, 8, 0).Data({0, 7, 200}).End(), kFormatPng);
    EXPECT_TRUE(g8.IsGrayScale());
    EXPECT_EQ(g8.GetPixelIndex(1, 0), 200);
}

TEST(PngCodec, ClearsJunkInTheLastByteOfARow) {
    // 3 pixels at 1 bit: 1 0 1, and five junk bits.
    Bytes palette = {0, 0, 0, 255, 255, 255};
    const Bytes file =
        PngBuilder().Header(3, 2, 1, 3).Chunk("PLTE", palette).Data({0, 0xBF, 0, 0x5F}).End();
    RasterImage img = MustDecode(file, kFormatPng);
    EXPECT_TRUE(PaddingIsZero(img));
    EXPECT_EQ(img.GetPixelIndex(0, 1), 1);
    EXPECT_EQ(img.GetPixelIndex(1, 1), 0);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 1);
}

TEST(PngCodec, TurnsTransparencyIntoAnIndexOrAnAlphaPlane) {
    const Bytes palette = {10, 10, 10, 20, 20, 20, 30, 30, 30};
    const Bytes pixels = {0, 0, 1, 2};
    auto make = [&](const Bytes& trns) {
        return MustDecode(PngBuilder()
                              .Header(3, 1, 8, 3)
                              .Chunk("PLTE", palette)
                              .Chunk("tRNS", trns)
                              .Data(pixels)
                              .End(),
                          kFormatPng);
    };
    // One fully transparent entry: the transparent index, no alpha plane.
    RasterImage one = make({255, 0});
    EXPECT_EQ(one.GetBackgroundIndex(), 1);
    EXPECT_FALSE(one.HasAlpha());
    // Partial alpha, or two transparent entries: kept exactly as alpha.
    RasterImage partial = make({255, 128, 0});
    EXPECT_EQ(partial.GetBackgroundIndex(), 2);
    ASSERT_TRUE(partial.HasAlpha());
    EXPECT_EQ(partial.AlphaGet(0, 0), 255);
    EXPECT_EQ(partial.AlphaGet(1, 0), 128);
    EXPECT_EQ(partial.AlphaGet(2, 0), 0);
    RasterImage two = make({0, 0});
    ASSERT_TRUE(two.HasAlpha());
    EXPECT_EQ(two.AlphaGet(2, 0), 255);
    EXPECT_EQ(two.AlphaGet(1, 0), 0);

    // A transparent grey level of a 2-bit file names the widened index.
    RasterImage grey = MustDecode(
        PngBuilder().Header(4, 1, 2, 0).Chunk("tRNS", {0, 2}).Data({0, 0x1B}).End(), kFormatPng);
    EXPECT_EQ(grey.GetBackgroundIndex(), 10);
}

TEST(PngCodec, ADecodeKeepsNothingOfThePreviousFile) {
    Bytes phys;
    PutBe32(phys, 11811);
    PutBe32(phys, 11811);
    phys.push_back(1);
    const Bytes first = PngBuilder()
                            .Header(2, 1, 8, 3)
                            .Chunk("PLTE", {1, 2, 3, 4, 5, 6})
                            .Chunk("tRNS", {255, 0})
                            .Chunk("pHYs", phys)
                            .Data({0, 0, 1})
                            .End();
    const Bytes second = PngBuilder().Header(2, 1, 8, 0).Data({0, 9, 9}).End();
    RasterImage img;
    ASSERT_TRUE(DecodeFromBytes(first, kFormatPng, img));
    EXPECT_EQ(img.GetBackgroundIndex(), 1);
    EXPECT_EQ(img.GetXDpi(), 300);
    ASSERT_TRUE(DecodeFromBytes(second, kFormatPng, img));
    EXPECT_EQ(img.GetBackgroundIndex(), -1);
    EXPECT_EQ(img.GetXDpi(), 96);
}

TEST(PngCodec, RefusesDamagedFiles) {
    const Bytes good = PngBuilder().Header(2, 2, 8, 0).Data({0, 1, 2, 0, 3, 4}).End();
    ASSERT_TRUE(MustDecode(good, kFormatPng).IsValid());

    Bytes badCrc = good;
    badCrc[29] ^= 1;  // last byte of the IHDR CRC
    Bytes truncated(good.begin(), good.end() - 20);
    Bytes notPng = good;
    notPng[1] = 'Q';
    const Bytes huge = PngBuilder().Header(200000, 200000, 8, 2).Data({0}).End();
    const Bytes shortData = PngBuilder().Header(2, 2, 8, 0).Data({0, 1, 2}).End();
    struct Case {
        const char* what;
        Bytes file;
        const char* message;  // nullptr: any message
    } cases[] = {
        {"crc", badCrc, "PNG: IHDR: CRC error"},      {"truncated", truncated, nullptr},
        {"signature", notPng, "PNG: not a PNG file"}, {"huge", huge, nullptr},
        {"missing rows", shortData, nullptr},
    };
    for (const Case& c : cases) {
        RasterImage img;
        EXPECT_FALSE(DecodeFromBytes(c.file, kFormatPng, img)) << c.what;
        EXPECT_NE(img.GetLastError()[0], '\0') << c.what;
        if (c.message) {
            EXPECT_STREQ(img.GetLastError(), c.message) << c.what;
        }
    }
}

}  // namespace
}  // namespace sheetmend
