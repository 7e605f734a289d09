#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "image/format_codes.h"
#include "image/raster_image.h"
#include "tests/image/codecs_main/codec_test_support.h"

namespace sheetmend {
namespace {

using namespace testing;

// A smooth colour picture: JPEG's home ground.
RasterImage Gradients(uint32_t width, uint32_t height) {
    RasterImage img(width, height, 24);
    for (int32_t y = 0; y < static_cast<int32_t>(height); ++y)
        for (int32_t x = 0; x < static_cast<int32_t>(width); ++x)
            img.SetPixelColor(
                x, y,
                RgbQuad{static_cast<uint8_t>(x * 255 / width),
                        static_cast<uint8_t>(y * 255 / height),
                        static_cast<uint8_t>((x + y) * 127 / (width + height) + 64), 0});
    return img;
}

// The pixels djpeg makes of a file, with extra djpeg arguments.
bool DecodeWithDjpeg(const std::string& path, Pnm* pnm, const std::string& arguments = "") {
    std::string out;
    if (RunShell("djpeg " + arguments + " '" + path + "' 2>/dev/null", &out) != 0) return false;
    return ParsePnm(out, pnm);
}

// Offset of the first marker 0xFF `code`, or npos.
size_t FindMarker(const Bytes& file, uint8_t code) {
    for (size_t i = 2; i + 1 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == code) return i;
    return std::string::npos;
}

int MaxDifference(const RasterImage& a, const RasterImage& b) {
    int worst = 0;
    for (int32_t y = 0; y < static_cast<int32_t>(a.GetHeight()); ++y)
        for (int32_t x = 0; x < static_cast<int32_t>(a.GetWidth()); ++x) {
            const RgbQuad p = a.GetPixelColor(x, y, false), q = b.GetPixelColor(x, y, false);
            worst = std::max({worst, std::abs(p.red - q.red), std::abs(p.green - q.green),
                              std::abs(p.blue - q.blue)});
        }
    return worst;
}

// ---------------------------------------------------------------------------
// writing

TEST(JpegCodec, RoundTripsColourWithinToleranceAndMatchesDjpeg) {
    ScratchDir dir;
    RasterImage img = Gradients(61, 37);
    img.SetXDpi(300);
    img.SetYDpi(200);
    const Bytes file = EncodeToBytes(img, kFormatJpeg);
    ASSERT_FALSE(file.empty()) << img.GetLastError();
    RasterImage back = MustDecode(file, kFormatJpeg);
    ASSERT_EQ(back.GetBpp(), 24u);
    EXPECT_LE(MaxDifference(img, back), 12);
    EXPECT_EQ(back.GetXDpi(), 300);
    EXPECT_EQ(back.GetYDpi(), 200);

    // Density in dots per inch in the JFIF header.
    const size_t app0 = FindMarker(file, 0xE0);
    ASSERT_NE(app0, std::string::npos);
    EXPECT_EQ(file[app0 + 11], 1);
    EXPECT_EQ((file[app0 + 12] << 8) | file[app0 + 13], 300);
    EXPECT_EQ((file[app0 + 14] << 8) | file[app0 + 15], 200);

    // Our decoder gives exactly what libjpeg's own tool gives.
    const std::string path = dir.File("rt.jpg");
    ASSERT_TRUE(WriteFileBytes(path, file));
    Pnm pnm;
    ASSERT_TRUE(DecodeWithDjpeg(path, &pnm));
    EXPECT_TRUE(MatchesPnm(back, pnm));
}

TEST(JpegCodec, KeepsFlatGreyAreasExact) {
    // 8x8-aligned blocks of one grey level each: a grey JPEG codes them
    // without loss.
    RasterImage img(48, 24, 8);
    img.SetGrayPalette();
    for (int32_t y = 0; y < 24; ++y)
        for (int32_t x = 0; x < 48; ++x)
            img.SetPixelIndex(x, y, static_cast<uint8_t>(((x / 8) * 37 + (y / 8) * 90) % 256));
    const Bytes file = EncodeToBytes(img, kFormatJpeg);
    ASSERT_FALSE(file.empty()) << img.GetLastError();
    const size_t sof = FindMarker(file, 0xC0);
    ASSERT_NE(sof, std::string::npos);
    EXPECT_EQ(file[sof + 9], 1);  // one component
    RasterImage back = MustDecode(file, kFormatJpeg);
    EXPECT_EQ(back.GetBpp(), 8u);
    EXPECT_TRUE(back.IsGrayScale());
    EXPECT_TRUE(SamePixels(img, back));
}

TEST(JpegCodec, RefusesPaletteImages) {
    RasterImage colourPalette = RandomImage(4, 4, 8, 1);
    RasterImage fourBit(4, 4, 4);
    fourBit.SetGrayPalette();
    RasterImage oneBit(4, 4, 1);
    for (RasterImage* img : {&colourPalette, &fourBit, &oneBit}) {
        MemoryStream out;
        out.Open();
        EXPECT_FALSE(img->Encode(&out, kFormatJpeg));
        EXPECT_STREQ(img->GetLastError(), "JPEG can save only RGB or GreyScale images");
    }
}

TEST(JpegCodec, HonoursEveryOptionBit) {
    ScratchDir dir;
    RasterImage img = Gradients(40, 24);
    auto save = [&](uint32_t options, float quality = 90) {
        img.SetCodecOption(options, kFormatJpeg);
        img.SetJpegQuality(quality);
        Bytes file = EncodeToBytes(img, kFormatJpeg);
        EXPECT_FALSE(file.empty()) << options << ": " << img.GetLastError();
        // Every variant is a file libjpeg's own tool reads.
        const std::string path = dir.File("o.jpg");
        EXPECT_TRUE(WriteFileBytes(path, file));
        Pnm pnm;
        EXPECT_TRUE(DecodeWithDjpeg(path, &pnm)) << "options " << options;
        return file;
    };
    auto samplingOf = [](const Bytes& f) {
        const size_t sof = FindMarker(f, 0xC0);
        return sof == std::string::npos ? -1 : f[sof + 11];
    };

    const Bytes plain = save(0);
    EXPECT_EQ(samplingOf(plain), 0x22);
    EXPECT_EQ(samplingOf(save(0x1000)), 0x21);
    EXPECT_EQ(samplingOf(save(0x2000)), 0x11);
    EXPECT_NE(FindMarker(save(0x10), 0xC2), std::string::npos);  // progressive
    EXPECT_NE(FindMarker(save(0x2), 0xC9), std::string::npos);   // arithmetic
    EXPECT_LT(save(0x8).size(), plain.size());                   // optimised tables
    EXPECT_NE(save(0x40), plain);                                // smoothed input

    const Bytes grey = save(0x4);
    const size_t sof = FindMarker(grey, 0xC0);
    ASSERT_NE(sof, std::string::npos);
    EXPECT_EQ(grey[sof + 9], 1);
    EXPECT_EQ(MustDecode(grey, kFormatJpeg).GetBpp(), 8u);

    // At quality 5 the tables need 16-bit entries unless limited to baseline.
    EXPECT_NE(FindMarker(save(0, 5), 0xC1), std::string::npos);
    EXPECT_NE(FindMarker(save(0x1, 5), 0xC0), std::string::npos);

    // Quality 50 uses the standard tables as they are: first entry 16.
    const Bytes q50 = save(0, 50);
    const size_t dqt = FindMarker(q50, 0xDB);
    ASSERT_NE(dqt, std::string::npos);
    EXPECT_EQ(q50[dqt + 5], 16);
    img.SetCodecOption(0, kFormatJpeg);
}

// ---------------------------------------------------------------------------
// reading

TEST(JpegCodec, ReadsImageMagickFilesLikeImageMagick) {
    ScratchDir dir;
    struct Case {
        std::string args, name;
        uint32_t bpp;
        int tolerance;
    } cases[] = {
        {"-seed 3 -size 45x29 plasma:red-blue -quality 85 JPEG:", "base.jpg", 24, 0},
        {"-seed 3 -size 45x29 plasma:red-blue -interlace JPEG JPEG:", "prog.jpg", 24, 0},
        {"-seed 3 -size 45x29 plasma:red-blue -sampling-factor 1x1 JPEG:", "s444.jpg", 24, 0},
        {"-seed 3 -size 45x29 plasma:red-blue -colorspace Gray JPEG:", "grey.jpg", 8, 0},
        {"-seed 3 -size 45x29 plasma:red-blue -colorspace Gray -interlace JPEG JPEG:", "pgrey.jpg",
         8, 0},
        {"-seed 3 -size 45x29 plasma:red-blue -colorspace CMYK JPEG:", "cmyk.jpg", 24, 2},
    };
    for (const Case& c : cases) {
        const std::string path = MakeWithImageMagick(dir, c.args, c.name);
        ASSERT_FALSE(path.empty());
        RasterImage img;
        ASSERT_TRUE(img.Load(path.c_str(), kFormatJpeg)) << c.name << ": " << img.GetLastError();
        EXPECT_EQ(img.GetBpp(), c.bpp) << c.name;
        if (c.bpp == 8) {
            EXPECT_TRUE(img.IsGrayScale());
        }
        Pnm pnm;
        ASSERT_TRUE(DecodeWithImageMagick(path, &pnm));
        EXPECT_TRUE(MatchesPnm(img, pnm, c.tolerance)) << c.name;
    }
    // Density in dots per centimetre becomes dots per inch.
    const std::string cm = MakeWithImageMagick(
        dir, "-size 8x8 xc:gray -units PixelsPerCentimeter -density 118 JPEG:", "cm.jpg");
    RasterImage img;
    ASSERT_TRUE(img.Load(cm.c_str(), kFormatJpeg)) << img.GetLastError();
    EXPECT_EQ(img.GetXDpi(), 300);
}

TEST(JpegCodec, ScalesWhileDecodingWhenAsked) {
    ScratchDir dir;
    const std::string path = dir.File("s.jpg");
    RasterImage big = Gradients(80, 51);
    ASSERT_TRUE(big.Save(path.c_str(), kFormatJpeg)) << big.GetLastError();
    for (int scale : {2, 4, 8}) {
        // Settings of the image doing the load reach the decoder.
        class Scaled : public RasterImage {
          public:
            explicit Scaled(uint8_t s) { info_.jpegScale = s; }
        } img(static_cast<uint8_t>(scale));
        ASSERT_TRUE(img.Load(path.c_str(), kFormatJpeg)) << img.GetLastError();
        EXPECT_EQ(img.GetWidth(), (80u + scale - 1) / scale);
        EXPECT_EQ(img.GetHeight(), (51u + scale - 1) / scale);
        Pnm pnm;
        ASSERT_TRUE(DecodeWithDjpeg(path, &pnm, "-scale 1/" + std::to_string(scale)));
        EXPECT_TRUE(MatchesPnm(img, pnm)) << scale;
    }
}

TEST(JpegCodec, RefusesIncompleteFilesButNotAMissingEndMarker) {
    RasterImage img = Gradients(32, 32);
    const Bytes file = EncodeToBytes(img, kFormatJpeg);
    ASSERT_GT(file.size(), 200u);

    RasterImage a;
    EXPECT_FALSE(
        DecodeFromBytes(Bytes(file.begin(), file.begin() + file.size() / 2), kFormatJpeg, a));
    EXPECT_STREQ(a.GetLastError(), "JPEG: Premature end of input file");

    RasterImage b;
    EXPECT_FALSE(DecodeFromBytes(Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0}, kFormatJpeg, b));
    EXPECT_STREQ(b.GetLastError(), "JPEG: Not a JPEG file: starts with 0x47 0x49");

    // Everything but the two end bytes: the picture is complete.
    RasterImage c;
    EXPECT_TRUE(DecodeFromBytes(Bytes(file.begin(), file.end() - 2), kFormatJpeg, c))
        << c.GetLastError();
    RasterImage whole = MustDecode(file, kFormatJpeg);
    EXPECT_TRUE(SamePixels(whole, c));
}

}  // namespace
}  // namespace sheetmend
