// The JasPer-role codec: PNM, PGX and Sun raster (our own) and JPEG 2000
// (OpenJPEG) behind one entry point. Round trips at every writable depth,
// files written by ImageMagick against its own pixels, ImageMagick reading
// ours, hand-made files for variants it does not write, and the refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "image/raster_image.h"
#include "image/streams.h"
#include "tests/support/external_tools.h"
#include "tests/support/mutation.h"
#include "tests/support/test_images.h"

namespace sheetmend::testing {
namespace {

std::string Refusal(RasterImage& img, uint32_t code) {
    MemoryStream out;
    out.Open();
    EXPECT_FALSE(img.Encode(&out, code));
    return img.GetLastError();
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

RasterImage GreyImage(uint32_t w, uint32_t h, uint32_t seed) {
    RasterImage img = RandomImage(w, h, 8, seed);
    img.SetGrayPalette();
    return img;
}

RasterImage BlackAndWhite(uint32_t w, uint32_t h, uint32_t seed, bool whiteFirst) {
    RasterImage img = RandomImage(w, h, 1, seed);
    const uint8_t first = whiteFirst ? 255 : 0;
    img.SetPaletteColor(0, first, first, first);
    img.SetPaletteColor(1, 255 - first, 255 - first, 255 - first);
    return img;
}

// Same colours pixel by pixel, whatever the depth and indices.
::testing::AssertionResult SameColours(const RasterImage& a, const RasterImage& b) {
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight())
        return ::testing::AssertionFailure() << "size";
    for (int y = 0; y < static_cast<int>(a.GetHeight()); ++y)
        for (int x = 0; x < static_cast<int>(a.GetWidth()); ++x) {
            const RgbQuad p = a.GetPixelColor(x, y, false), q = b.GetPixelColor(x, y, false);
            if (p.red != q.red || p.green != q.green || p.blue != q.blue)
                return ::testing::AssertionFailure() << "(" << x << "," << y << ")";
        }
    return ::testing::AssertionSuccess();
}

// Decodes an ImageMagick-made file with us and with ImageMagick.
// Sixteen-bit samples are reduced to eight by rounding here and by truncation
// in ImageMagick, so those files are compared within one level.
void ExpectSameAsImageMagick(const std::string& file, uint32_t code, uint32_t expectBpp,
                             uint32_t expectType, int tolerance = 0) {
    Pnm theirs;
    ASSERT_TRUE(DecodeWithImageMagick(file, &theirs)) << file;
    RasterImage ours;
    ASSERT_TRUE(DecodeBytes(ReadFileBytes(file), code, &ours))
        << file << ": " << ours.GetLastError();
    EXPECT_EQ(ours.GetBpp(), expectBpp) << file;
    EXPECT_EQ(ours.GetType(), expectType) << file;
    EXPECT_TRUE(MatchesPnm(ours, theirs, tolerance)) << file;
    EXPECT_TRUE(PaddingIsZero(ours)) << file;
}

class JasperFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(0, RunShell(std::string(kImageMagick) +
                              " -size 43x29 -seed 11 plasma:fractal -depth 8 " + Src()));
    }
    std::string Src() const { return dir_.File("src.ppm"); }
    std::string Make(const std::string& name, const std::string& options) {
        const std::string file = dir_.File(name);
        EXPECT_EQ(0,
                  RunShell(std::string(kImageMagick) + " " + Src() + " " + options + " " + file));
        return file;
    }
    ScratchDir dir_;
};

// ---------------------------------------------------------------- PNM

TEST_F(JasperFiles, PnmFromImageMagick) {
    ExpectSameAsImageMagick(Make("p6.ppm", ""), kFormatPnm, 24, kFormatPnm);
    ExpectSameAsImageMagick(Make("p3.ppm", "-compress none"), kFormatPnm, 24, kFormatPnm);
    ExpectSameAsImageMagick(Make("p5.pgm", "-colorspace gray -depth 8"), kFormatPnm, 8, kFormatPnm);
    ExpectSameAsImageMagick(Make("p5-16.pgm", "-colorspace gray -depth 16"), kFormatPnm, 8,
                            kFormatPnm, 1);
    ExpectSameAsImageMagick(Make("p2.pgm", "-colorspace gray -compress none"), kFormatPnm, 8,
                            kFormatPnm);
    ExpectSameAsImageMagick(Make("p6-16.ppm", "-depth 16"), kFormatPnm, 24, kFormatPnm, 1);
    ExpectSameAsImageMagick(Make("p4.pbm", "-monochrome"), kFormatPnm, 1, kFormatPnm);
    ExpectSameAsImageMagick(Make("p1.pbm", "-monochrome -compress none"), kFormatPnm, 1,
                            kFormatPnm);
}

TEST(JasperPnm, RoundTripsAndImageMagickReadsOurs) {
    ScratchDir dir;
    RasterImage images[] = {RandomImage(31, 11, 24, 1), GreyImage(31, 11, 2),
                            BlackAndWhite(31, 11, 3, false), BlackAndWhite(9, 3, 4, true)};
    for (RasterImage& src : images) {
        const Bytes file = EncodeExpectingSuccess(src, kFormatPnm);
        const char* magic = src.GetBpp() == 24 ? "P6" : src.GetBpp() == 8 ? "P5" : "P4";
        EXPECT_EQ(0, std::memcmp(file.data(), magic, 2)) << src.GetBpp();
        RasterImage back;
        ASSERT_TRUE(DecodeBytes(file, kFormatPnm, &back)) << back.GetLastError();
        EXPECT_TRUE(SameColours(src, back)) << src.GetBpp();
        EXPECT_EQ(back.GetBpp(), src.GetBpp());
        EXPECT_TRUE(PaddingIsZero(back));
        ASSERT_TRUE(WriteFileBytes(dir.File("ours.pnm"), file));
        Pnm theirs;
        ASSERT_TRUE(DecodeWithImageMagick(dir.File("ours.pnm"), &theirs));
        EXPECT_TRUE(MatchesPnm(src, theirs)) << src.GetBpp();
    }
}

TEST(JasperPnm, ScalesSamplesAndSkipsComments) {
    // maxval 100: 50 is 127.5 of 255, rounded to 128; a value above maxval
    // is taken as maxval.
    RasterImage img;
    ASSERT_TRUE(DecodeBytes(Text("P2\n# a comment\n3 1 # width and height\n100\n0 50 101\n"),
                            kFormatPnm, &img))
        << img.GetLastError();
    EXPECT_EQ(img.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 128);
    EXPECT_EQ(img.GetPixelIndex(2, 0), 255);
    // P1 digits may follow each other without spaces; 1 is black.
    ASSERT_TRUE(DecodeBytes(Text("P1 4 1 0110"), kFormatPnm, &img)) << img.GetLastError();
    EXPECT_EQ(img.GetPixelColor(0, 0).red, 255);
    EXPECT_EQ(img.GetPixelColor(1, 0).red, 0);
    EXPECT_EQ(img.GetPixelColor(3, 0).red, 255);
    // 16-bit binary samples are big-endian: 0x8000 of 65535 is 128.
    Bytes p5 = Text("P5 2 1 65535\n");
    for (uint8_t v : {0x80, 0x00, 0xFF, 0xFF}) p5.push_back(v);
    ASSERT_TRUE(DecodeBytes(p5, kFormatPnm, &img)) << img.GetLastError();
    EXPECT_EQ(img.GetPixelIndex(0, 0), 128);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 255);
}

TEST(JasperPnm, RefusesBrokenHeadersAndShortData) {
    const char* cases[] = {
        "P5 0 1 255\n",            // zero width
        "P5 2 1 0\n\x01\x02",      // maxval 0
        "P5 2 1 65536\n\x01\x02",  // maxval too large
        "P5 2 1 255\n\x01",        // one sample short
        "P3 1 1 255\n1 2",         // one ASCII sample short
        "P1 3 1 0 2 1",            // not a bitmap digit
        "P6 99999 99999 255\n",    // far larger than the file
        "P5 2x1 255\n\x01\x02",    // garbage in a number
    };
    for (const char* c : cases) {
        RasterImage img;
        EXPECT_FALSE(DecodeBytes(Bytes(c, c + std::strlen(c)), kFormatPnm, &img)) << c;
    }
}

// ---------------------------------------------------------------- PGX

TEST_F(JasperFiles, PgxFromImageMagick) {
    ExpectSameAsImageMagick(Make("g8.pgx", "-colorspace gray -depth 8"), kFormatPgx, 8, kFormatPgx);
    ExpectSameAsImageMagick(Make("g16.pgx", "-colorspace gray -depth 16"), kFormatPgx, 8,
                            kFormatPgx, 1);
}

TEST(JasperPgx, RoundTripsGreyAndRefusesColour) {
    RasterImage src = GreyImage(17, 5, 9);
    const Bytes file = EncodeExpectingSuccess(src, kFormatPgx);
    EXPECT_EQ(0, std::memcmp(file.data(), "PG ML + 8 17 5\n", 15));
    RasterImage back;
    ASSERT_TRUE(DecodeBytes(file, kFormatPgx, &back)) << back.GetLastError();
    EXPECT_TRUE(SamePixels(src, back));
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File("ours.pgx"), file));
    Pnm theirs;
    ASSERT_TRUE(DecodeWithImageMagick(dir.File("ours.pgx"), &theirs));
    EXPECT_TRUE(MatchesPnm(src, theirs));

    for (uint32_t bpp : {1u, 4u, 8u, 24u}) {
        RasterImage colour = RandomImage(3, 3, bpp, bpp);
        EXPECT_EQ(Refusal(colour, kFormatPgx), "PGX can save only GrayScale images") << bpp;
    }
}

TEST(JasperPgx, ReadsSignedAndLittleEndianSamples) {
    // 12-bit little-endian unsigned: 4095 is white, 2048 is 128.
    Bytes le = Text("PG LM + 12 2 1\n");
    for (uint8_t v : {0xFF, 0x0F, 0x00, 0x08}) le.push_back(v);
    RasterImage img;
    ASSERT_TRUE(DecodeBytes(le, kFormatPgx, &img)) << img.GetLastError();
    EXPECT_EQ(img.GetPixelIndex(0, 0), 255);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 128);
    // 8-bit signed: -128 is black, 0 is mid grey, 127 is white.
    Bytes sgn = Text("PG ML - 8 3 1\n");
    for (uint8_t v : {0x80, 0x00, 0x7F}) sgn.push_back(v);
    ASSERT_TRUE(DecodeBytes(sgn, kFormatPgx, &img)) << img.GetLastError();
    EXPECT_EQ(img.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 128);
    EXPECT_EQ(img.GetPixelIndex(2, 0), 255);
    EXPECT_FALSE(DecodeBytes(Text("PG ML + 8 3 1\n\x01\x02"), kFormatPgx)) << "one sample short";
    EXPECT_FALSE(DecodeBytes(Text("PG XX + 8 1 1\n\x01"), kFormatPgx)) << "byte order";
    EXPECT_FALSE(DecodeBytes(Text("PG ML + 17 1 1\n\x01\x02\x03"), kFormatPgx)) << "depth";
}

// ---------------------------------------------------------------- Sun raster

TEST_F(JasperFiles, SunRasterFromImageMagick) {
    ExpectSameAsImageMagick(Make("rgb.ras", ""), kFormatRas, 24, kFormatRas);
    ExpectSameAsImageMagick(Make("pal.ras", "-colors 30 -type palette"), kFormatRas, 8, kFormatRas);
}

TEST(JasperRas, RoundTripsAndImageMagickReadsOurs) {
    ScratchDir dir;
    RasterImage images[] = {RandomImage(21, 6, 24, 5), GreyImage(21, 6, 6), GreyImage(1, 1, 7)};
    for (RasterImage& src : images) {
        const Bytes file = EncodeExpectingSuccess(src, kFormatRas);
        RasterImage back;
        ASSERT_TRUE(DecodeBytes(file, kFormatRas, &back)) << back.GetLastError();
        EXPECT_TRUE(SamePixels(src, back));
        ASSERT_TRUE(WriteFileBytes(dir.File("ours.ras"), file));
        Pnm theirs;
        ASSERT_TRUE(DecodeWithImageMagick(dir.File("ours.ras"), &theirs));
        EXPECT_TRUE(MatchesPnm(src, theirs)) << src.GetBpp();
    }
}

Bytes RasHeader(uint32_t w, uint32_t h, uint32_t depth, uint32_t type, uint32_t mapType,
                uint32_t mapLength) {
    Bytes b;
    for (uint32_t v : {0x59A66A95u, w, h, depth, 0u, type, mapType, mapLength})
        for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
    return b;
}

TEST(JasperRas, ReadsRunLengthMonochromeAndPaddedRows) {
    // 8-bit grey, 5 x 2, rows padded to 6 bytes: a run of 7 x 9, a literal
    // 0x80 (escaped), then 4 bytes.
    Bytes rle = RasHeader(5, 2, 8, 2, 0, 0);
    for (uint8_t v : {0x80, 6, 9, 0x80, 0x00, 1, 2, 3, 4}) rle.push_back(v);
    RasterImage img;
    ASSERT_TRUE(DecodeBytes(rle, kFormatRas, &img)) << img.GetLastError();
    for (int x = 0; x < 5; ++x) EXPECT_EQ(img.GetPixelIndex(x, 1), 9);
    EXPECT_EQ(img.GetPixelIndex(0, 0), 9);  // the 6th byte of the run is the padding
    EXPECT_EQ(img.GetPixelIndex(1, 0), 0x80);
    EXPECT_EQ(img.GetPixelIndex(4, 0), 3);
    // The run is one byte short of the raster.
    rle.pop_back();
    EXPECT_FALSE(DecodeBytes(rle, kFormatRas));

    // Monochrome without a map: a set bit is black.
    Bytes mono = RasHeader(3, 1, 1, 1, 0, 0);
    for (uint8_t v : {0xA0, 0x00}) mono.push_back(v);
    ASSERT_TRUE(DecodeBytes(mono, kFormatRas, &img)) << img.GetLastError();
    EXPECT_EQ(img.GetPixelColor(0, 0).red, 0);
    EXPECT_EQ(img.GetPixelColor(1, 0).red, 255);
    EXPECT_EQ(img.GetPixelColor(2, 0).red, 0);
    EXPECT_TRUE(PaddingIsZero(img));

    // 32-bit pixels carry a pad byte before blue, green, red.
    Bytes deep = RasHeader(1, 1, 32, 1, 0, 0);
    for (uint8_t v : {0, 10, 20, 30}) deep.push_back(v);
    ASSERT_TRUE(DecodeBytes(deep, kFormatRas, &img)) << img.GetLastError();
    EXPECT_EQ(img.GetPixelColor(0, 0).red, 30);
    EXPECT_EQ(img.GetPixelColor(0, 0).blue, 10);

    EXPECT_FALSE(DecodeBytes(RasHeader(1, 1, 16, 1, 0, 0), kFormatRas)) << "16-bit depth";
    EXPECT_FALSE(DecodeBytes(RasHeader(1, 1, 8, 1, 1, 4), kFormatRas))
        << "map length not a multiple of 3";
}

// ---------------------------------------------------------------- JPEG 2000

TEST_F(JasperFiles, Jpeg2000FromImageMagick) {
    ExpectSameAsImageMagick(Make("rgb.jp2", ""), kFormatJp2, 24, kFormatJp2);
    ExpectSameAsImageMagick(Make("grey.jp2", "-colorspace gray"), kFormatJp2, 8, kFormatJp2);
    ExpectSameAsImageMagick(Make("rgb.j2k", ""), kFormatJpc, 24, kFormatJpc);
    // A .j2k name maps to code 11; the code stream inside is still found.
    ExpectSameAsImageMagick(Make("rgb2.j2k", "-quality 40"), kFormatJp2, 24, kFormatJpc);
}

TEST(JasperJpeg2000, LosslessRoundTripsAndImageMagickReadsOurs) {
    ScratchDir dir;
    RasterImage images[] = {RandomImage(37, 19, 24, 21), GreyImage(37, 19, 22),
                            RandomImage(1, 1, 24, 23), GreyImage(2, 70, 24)};
    for (uint32_t code : {kFormatJp2, kFormatJpc}) {
        for (RasterImage& src : images) {
            const Bytes file = EncodeExpectingSuccess(src, code);
            RasterImage back;
            ASSERT_TRUE(DecodeBytes(file, code, &back)) << back.GetLastError();
            EXPECT_TRUE(SamePixels(src, back)) << code << " " << src.GetBpp();
            EXPECT_EQ(back.GetType(), code);
            const std::string name = dir.File(code == kFormatJp2 ? "ours.jp2" : "ours.j2k");
            ASSERT_TRUE(WriteFileBytes(name, file));
            Pnm theirs;
            ASSERT_TRUE(DecodeWithImageMagick(name, &theirs));
            EXPECT_TRUE(MatchesPnm(src, theirs)) << code << " " << src.GetBpp();
        }
    }
}

TEST(JasperJpeg2000, BlankPagesAreTinyAndStillDecode) {
    // A blank page compresses to a couple of hundred bytes; nothing may take
    // the small file for a lie about the image size.
    RasterImage page(1500, 1500, 8);
    page.SetGrayPalette();
    page.Clear(255);
    const Bytes file = EncodeExpectingSuccess(page, kFormatJpc);
    EXPECT_LT(file.size(), 1000u);
    RasterImage back;
    ASSERT_TRUE(DecodeBytes(file, kFormatJpc, &back)) << back.GetLastError();
    EXPECT_TRUE(SamePixels(page, back));
}

TEST(JasperJpeg2000, DecodesAlphaAndRefusesBrokenStreams) {
    ScratchDir dir;
    const std::string file = dir.File("alpha.jp2");
    ASSERT_EQ(0, RunShell(std::string(kImageMagick) +
                          " -size 8x8 xc:red -alpha set -channel A -fx 'i/7' +channel " + file));
    RasterImage img;
    ASSERT_TRUE(DecodeBytes(ReadFileBytes(file), kFormatJp2, &img)) << img.GetLastError();
    ASSERT_TRUE(img.HasAlpha());
    EXPECT_EQ(img.AlphaGet(0, 3), 0);
    EXPECT_EQ(img.AlphaGet(7, 3), 255);
    EXPECT_EQ(img.GetPixelColor(3, 3, false).red, 255);

    // Cut in the middle of the code stream, and with the image size in the
    // SIZ marker made enormous.
    RasterImage src = RandomImage(40, 40, 24, 5);
    Bytes j2k = EncodeExpectingSuccess(src, kFormatJpc);
    Bytes cut(j2k.begin(), j2k.begin() + static_cast<ptrdiff_t>(j2k.size() / 2));
    RasterImage out;
    EXPECT_FALSE(DecodeBytes(cut, kFormatJpc, &out));
    EXPECT_NE(std::string(out.GetLastError()).find("JPEG 2000"), std::string::npos)
        << out.GetLastError();
    Bytes huge = j2k;
    // SIZ: FF4F FF51 Lsiz(2) Rsiz(2) Xsiz(4) Ysiz(4).
    for (int i = 8; i < 16; ++i) huge[i] = 0x7F;
    EXPECT_FALSE(DecodeBytes(huge, kFormatJpc));
}

// ---------------------------------------------------------------- the entry point

TEST(JasperCodec, RefusesWhatNoFormatCanHold) {
    for (uint32_t code : {kFormatJp2, kFormatJpc, kFormatPnm, kFormatRas}) {
        RasterImage colour8 = RandomImage(3, 3, 8, 1);  // a palette that is not grey
        EXPECT_EQ(Refusal(colour8, code), "JasPer can save only RGB or GrayScale images") << code;
        RasterImage colour4 = RandomImage(3, 3, 4, 1);
        EXPECT_EQ(Refusal(colour4, code), "JasPer can save only RGB or GrayScale images") << code;
    }
    // Black and white is a bitmap for PNM only.
    for (uint32_t code : {kFormatJp2, kFormatJpc, kFormatRas}) {
        RasterImage bw = BlackAndWhite(3, 3, 1, false);
        EXPECT_EQ(Refusal(bw, code), "JasPer can save only RGB or GrayScale images") << code;
    }
    RasterImage empty;
    EXPECT_FALSE(empty.Encode(static_cast<ByteStream*>(nullptr), kFormatPnm));
}

TEST(JasperCodec, ContentDecidesTheFormatWhateverTheCode) {
    RasterImage src = GreyImage(5, 4, 1);
    for (uint32_t written : {uint32_t{kFormatJp2}, uint32_t{kFormatJpc}, uint32_t{kFormatPgx},
                             uint32_t{kFormatPnm}, uint32_t{kFormatRas}}) {
        const Bytes file = EncodeExpectingSuccess(src, written);
        for (uint32_t asked :
             {uint32_t{kFormatJp2}, uint32_t{kFormatPnm}, uint32_t{kFormatRas}, 0u}) {
            RasterImage back;
            ASSERT_TRUE(DecodeBytes(file, asked, &back))
                << written << " as " << asked << ": " << back.GetLastError();
            EXPECT_EQ(back.GetType(), written);
            EXPECT_TRUE(SamePixels(src, back));
        }
    }
    RasterImage img;
    EXPECT_FALSE(DecodeBytes(Text("plain text, no image"), kFormatPnm, &img));
    EXPECT_STREQ(img.GetLastError(), "JasPer: unknown image format");
}

}  // namespace
}  // namespace sheetmend::testing
