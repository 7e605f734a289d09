// Reading TIFF files that other programs wrote (ImageMagick, tiffcp,
// fax2tiff, tiffset) or that the test builds byte by byte, compared pixel by
// pixel with an independent decoder (ImageMagick, or libtiff's tiff2rgba) or
// with the picture the file was made from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "image/raster_image.h"
#include "tests/image/codecs_tiff/tiff_test_support.h"
#include "tests/support/external_tools.h"
#include "tests/support/test_images.h"

namespace sheetmend::testing {
namespace {

const std::string kIm = std::string(kImageMagick) + " ";

class TiffInterop : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(WriteFileBytes(dir_.File("colour.ppm"), KnownPpm(53, 37)));
        ASSERT_TRUE(WriteFileBytes(dir_.File("page.pbm"), KnownPbm(77, 45)));
    }
    std::string File(const std::string& name) const { return dir_.File(name); }
    // Runs a command in the scratch folder; the test fails if it does.
    void Run(const std::string& command) {
        std::string out;
        ASSERT_EQ(0, RunShell("cd '" + dir_.path() + "' && " + command + " 2>&1", &out))
            << command << "\n"
            << out;
    }
    // Our decode of `name` has the pixels ImageMagick gives.
    void ExpectLikeImageMagick(const std::string& name, int tolerance = 0,
                               const std::string& imOptions = "") {
        SCOPED_TRACE(name);
        RasterImage ours;
        ASSERT_TRUE(ours.Load(File(name).c_str(), kFormatTiff)) << ours.GetLastError();
        std::string out;
        ASSERT_EQ(0, RunShell(kIm + "'" + File(name) + "[0]' " + imOptions +
                                  " -depth 8 ppm:- 2>/dev/null",
                              &out));
        Pnm pnm;
        ASSERT_TRUE(ParsePnm(out, &pnm));
        EXPECT_TRUE(MatchesPnm(ours, pnm, tolerance));
    }
    // Our decode of `name` has the pixels libtiff's own RGBA conversion gives.
    void ExpectLikeTiff2Rgba(const std::string& name, int tolerance = 0) {
        SCOPED_TRACE(name);
        Run("tiff2rgba -n -c none '" + name + "' '" + name + ".rgba.tif'");
        RasterImage ours;
        ASSERT_TRUE(ours.Load(File(name).c_str(), kFormatTiff)) << ours.GetLastError();
        Pnm pnm;
        ASSERT_TRUE(DecodeWithImageMagick(File(name + ".rgba.tif"), &pnm));
        EXPECT_TRUE(MatchesPnm(ours, pnm, tolerance));
    }

    ScratchDir dir_;
};

TEST_F(TiffInterop, CompressionsWrittenByTiffcp) {
    Run(kIm + "colour.ppm -compress none rgb.tif");
    Run(kIm + "colour.ppm -colorspace gray -compress none grey.tif");
    Run(kIm + "page.pbm -compress none bw.tif");
    for (const char* c : {"lzw", "zip", "packbits", "none", "lzw:2", "zip:2"}) {
        for (const char* src : {"rgb", "grey", "bw"}) {
            if (std::string(c).find(':') != std::string::npos && std::string(src) == "bw")
                continue;  // no differencing for 1-bit samples
            const std::string out = std::string(src) + "-" + c + ".tif";
            Run("tiffcp -c " + std::string(c) + " " + src + ".tif '" + out + "'");
            ExpectLikeImageMagick(out);
        }
    }
    for (const char* c : {"g3", "g3:2d", "g4"}) {
        const std::string out = std::string("bw-") + c + ".tif";
        Run("tiffcp -c " + std::string(c) + " bw.tif '" + out + "'");
        ExpectLikeImageMagick(out);
        RasterImage img;
        ASSERT_TRUE(img.Load(File(out).c_str(), kFormatTiff));
        EXPECT_EQ(img.GetBpp(), 1u);
    }
    // JPEG-in-TIFF, as YCbCr (the default) and as RGB; lossy, so compared
    // with libtiff's own conversion.
    Run("tiffcp -c jpeg rgb.tif ycbcr-jpeg.tif");
    Run("tiffcp -c jpeg:r rgb.tif rgb-jpeg.tif");
    Run("tiffcp -c jpeg grey.tif grey-jpeg.tif");
    ExpectLikeTiff2Rgba("ycbcr-jpeg.tif");
    ExpectLikeTiff2Rgba("rgb-jpeg.tif");
    ExpectLikeImageMagick("grey-jpeg.tif", 1);
}

TEST_F(TiffInterop, TilesAndSeparatePlanes) {
    Run(kIm + "colour.ppm -compress none rgb.tif");
    Run(kIm + "colour.ppm -colorspace gray -compress none grey.tif");
    Run(kIm + "page.pbm -compress none bw.tif");
    Run(kIm + "colour.ppm -colorspace gray -type palette -compress none pal.tif");
    for (const char* src : {"rgb", "grey", "bw", "pal"}) {
        const std::string s = src;
        Run("tiffcp -t -w 16 -l 16 " + s + ".tif " + s + "-tiled.tif");
        Run("tiffcp -c lzw -t -w 32 -l 16 " + s + ".tif " + s + "-tiled-lzw.tif");
        ExpectLikeImageMagick(s + "-tiled.tif");
        ExpectLikeImageMagick(s + "-tiled-lzw.tif");
    }
    Run("tiffcp -p separate rgb.tif rgb-planes.tif");
    Run("tiffcp -p separate -t -w 16 -l 16 rgb.tif rgb-planes-tiled.tif");
    ExpectLikeImageMagick("rgb-planes.tif");
    ExpectLikeImageMagick("rgb-planes-tiled.tif");
    // Several strips, with a few rows each.
    Run("tiffcp -r 5 -c lzw grey.tif grey-strips.tif");
    ExpectLikeImageMagick("grey-strips.tif");
}

TEST_F(TiffInterop, GreyAlphaInOneAndInSeparatePlanes) {
    Run(kIm +
        "colour.ppm -colorspace gray \\( +clone -fx 'i/w' \\) -alpha off -compose "
        "copy_opacity -composite -compress none ga.tif");
    Run("tiffcp -p separate ga.tif ga-planes.tif");
    // tiffcp moves the samples unchanged, so both files hold the pixels
    // ImageMagick reads from the interleaved one (it misreads the other).
    std::string out;
    ASSERT_EQ(0, RunShell(kIm + "'" + File("ga.tif") + "' -alpha extract -depth 8 pgm:-", &out));
    Pnm alpha;
    ASSERT_TRUE(ParsePnm(out, &alpha));
    ASSERT_EQ(0, RunShell(kIm + "'" + File("ga.tif") + "' -alpha off -depth 8 pgm:-", &out));
    Pnm grey;
    ASSERT_TRUE(ParsePnm(out, &grey));
    for (const char* name : {"ga.tif", "ga-planes.tif"}) {
        SCOPED_TRACE(name);
        RasterImage ours;
        ASSERT_TRUE(ours.Load(File(name).c_str(), kFormatTiff)) << ours.GetLastError();
        ASSERT_EQ(ours.GetBpp(), 8u);
        ASSERT_TRUE(ours.HasAlpha());
        EXPECT_TRUE(MatchesPnm(ours, grey));
        for (int y = 0; y < alpha.height; ++y)
            for (int x = 0; x < alpha.width; ++x)
                ASSERT_EQ(ours.AlphaGet(x, alpha.height - 1 - y),
                          alpha.samples[y * alpha.width + x]);
    }
}

TEST_F(TiffInterop, ColourModelsThroughTheRgbaReader) {
    // RGBA with unassociated alpha: the reader premultiplies, as tiff2rgba.
    Run(kIm +
        "colour.ppm \\( +clone -fx 'j/h' \\) -alpha off -compose copy_opacity -composite "
        "-compress lzw rgba.tif");
    RasterImage rgba;
    ASSERT_TRUE(rgba.Load(File("rgba.tif").c_str(), kFormatTiff)) << rgba.GetLastError();
    EXPECT_TRUE(rgba.HasAlpha());
    Run("tiff2rgba -c none rgba.tif rgba-ref.tif");
    std::string out;
    ASSERT_EQ(0,
              RunShell(kIm + "'" + File("rgba-ref.tif") + "' -alpha extract -depth 8 pgm:-", &out));
    Pnm alpha;
    ASSERT_TRUE(ParsePnm(out, &alpha));
    for (int y = 0; y < alpha.height; ++y)
        for (int x = 0; x < alpha.width; ++x)
            ASSERT_EQ(rgba.AlphaGet(x, alpha.height - 1 - y), alpha.samples[y * alpha.width + x]);

    // CMYK: four samples without alpha.
    Run(kIm + "colour.ppm -colorspace CMYK -compress none cmyk.tif");
    ASSERT_NE(TiffInfo(File("cmyk.tif")).find("separated"), std::string::npos);
    ExpectLikeTiff2Rgba("cmyk.tif");
    RasterImage cmyk;
    ASSERT_TRUE(cmyk.Load(File("cmyk.tif").c_str(), kFormatTiff));
    EXPECT_FALSE(cmyk.HasAlpha()) << "the fourth ink is not alpha";
    // 16-bit RGB and big-endian files.
    Run(kIm + "colour.ppm -depth 16 -compress none rgb16.tif");
    ExpectLikeTiff2Rgba("rgb16.tif");
    Run(kIm + "colour.ppm -endian MSB -compress lzw rgb-be.tif");
    ExpectLikeImageMagick("rgb-be.tif");
}

TEST_F(TiffInterop, GreyAndPaletteFiles) {
    Run(kIm + "colour.ppm -colorspace gray -depth 4 -compress none grey4.tif");
    Run(kIm + "colour.ppm -colorspace gray -depth 2 -compress none grey2.tif");
    Run(kIm + "colour.ppm -colorspace gray -depth 16 -compress lzw grey16.tif");
    Run(kIm + "colour.ppm -colorspace gray -depth 16 -endian MSB -compress none grey16-be.tif");
    Run(kIm + "colour.ppm -colors 200 -type palette -compress lzw palette8.tif");
    Run(kIm + "colour.ppm -colors 12 -type palette -compress none palette4.tif");
    ASSERT_NE(TiffInfo(File("grey2.tif")).find("Bits/Sample: 2"), std::string::npos);
    RasterImage four;
    ASSERT_TRUE(four.Load(File("grey4.tif").c_str(), kFormatTiff));
    EXPECT_EQ(four.GetBpp(), 4u);
    ExpectLikeImageMagick("grey4.tif");
    ExpectLikeImageMagick("grey2.tif");
    // 16 bits reduce to the high byte when the page uses the whole range;
    // ImageMagick rounds where we truncate.
    ExpectLikeImageMagick("grey16.tif", 1);
    ExpectLikeImageMagick("grey16-be.tif", 1);
    ExpectLikeImageMagick("palette8.tif", 1);
    ExpectLikeImageMagick("palette4.tif", 1);
}

TEST_F(TiffInterop, FloatingPointFilesFromImageMagick) {
    // (ImageMagick writes the floating-point predictor with its
    // compressions. Its signed files store unsigned levels, so they are no
    // reference for signed samples.)
    const std::string fp = " -define quantum:format=floating-point";
    Run(kIm + "colour.ppm -colorspace gray -depth 32" + fp + " -compress lzw grey-f32.tif");
    Run(kIm + "colour.ppm -colorspace gray -depth 16" + fp + " -compress zip grey-f16.tif");
    Run(kIm + "colour.ppm -colorspace gray -depth 64" + fp +
        " -compress lzw -endian MSB grey-f64-be.tif");
    Run(kIm + "colour.ppm -colorspace gray -depth 32" + fp +
        " -endian MSB -compress lzw grey-f32-be.tif");
    Run(kIm + "colour.ppm -depth 32" + fp + " -compress zip rgb-f32.tif");
    ASSERT_NE(TiffInfo(File("grey-f64-be.tif")).find("IEEE floating point"), std::string::npos);
    ASSERT_NE(TiffInfo(File("grey-f16.tif")).find("Bits/Sample: 16"), std::string::npos);
    // Scaling a value to 8 bits rounds in both; ImageMagick goes through
    // 16-bit quanta first, so a level may differ by one.
    for (const char* name :
         {"grey-f32.tif", "grey-f16.tif", "grey-f64-be.tif", "grey-f32-be.tif", "rgb-f32.tif"})
        ExpectLikeImageMagick(name, 1);
}

TEST_F(TiffInterop, FaxFilesFromFax2tiff) {
    ASSERT_TRUE(WriteFileBytes(File("fax.pbm"), KnownPbm(1728, 40)));
    Run(kIm + "fax.pbm fax:page.g3");
    Run("fax2tiff -M -o fax.tif page.g3");
    Run("fax2tiff -M -8 -o fax4.tif page.g3");
    Run("fax2tiff -M -5 -m -r 8 -o fax1d.tif page.g3");
    for (const char* name : {"fax.tif", "fax4.tif", "fax1d.tif"}) {
        SCOPED_TRACE(name);
        RasterImage img;
        ASSERT_TRUE(img.Load(File(name).c_str(), kFormatTiff)) << img.GetLastError();
        ASSERT_EQ(img.GetWidth(), 1728u);
        ASSERT_GE(img.GetHeight(), 40u);  // ImageMagick's fax writer adds blank lines
        const int32_t top = static_cast<int32_t>(img.GetHeight()) - 1;
        for (uint32_t y = 0; y < 40; ++y)
            for (uint32_t x = 0; x < 1728; ++x) {
                const RgbQuad c =
                    img.GetPixelColor(static_cast<int32_t>(x), top - static_cast<int32_t>(y));
                ASSERT_EQ(c.red == 0, KnownInk(x, y, 1728, 40)) << x << "," << y;
            }
        ExpectLikeImageMagick(name);
    }
}

TEST_F(TiffInterop, PagesOfAFileMadeByTiffcp) {
    Run(kIm + "colour.ppm -compress lzw one.tif");
    Run(kIm + "page.pbm -compress group4 two.tif");
    Run(kIm + "colour.ppm -colorspace gray -compress none three.tif");
    Run("tiffcp one.tif two.tif three.tif pages.tif");
    // Loading reports the page count along with the first page.
    RasterImage first;
    ASSERT_TRUE(first.Load(File("pages.tif").c_str(), kFormatTiff)) << first.GetLastError();
    EXPECT_EQ(first.GetNumFrames(), 3);
    Pnm pnm;
    ASSERT_TRUE(DecodeWithImageMagick(File("one.tif"), &pnm));
    EXPECT_TRUE(MatchesPnm(first, pnm));
    RasterImage second;
    second.SetFrame(1);
    ASSERT_TRUE(second.Load(File("pages.tif").c_str(), kFormatTiff)) << second.GetLastError();
    ASSERT_TRUE(DecodeWithImageMagick(File("two.tif"), &pnm));
    EXPECT_TRUE(MatchesPnm(second, pnm));
    EXPECT_EQ(second.GetBpp(), 1u);
}

TEST_F(TiffInterop, EveryOrientationLoadsUpright) {
    Run(kIm + "colour.ppm -compress lzw colour.tif");
    Run(kIm + "page.pbm -compress group4 page.tif");
    Run(kIm + "colour.ppm -colorspace gray -compress none grey.tif");
    for (const char* src : {"colour", "page", "grey"}) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(std::string(src) + " orientation " + std::to_string(orientation));
            const std::string name = std::string(src) + "-o" + std::to_string(orientation) + ".tif";
            Run("cp " + std::string(src) + ".tif " + name + " && tiffset -s 274 " +
                std::to_string(orientation) + " " + name);
            ExpectLikeImageMagick(name, 0, "-auto-orient");
        }
    }
    // Orientation 6 stores the page's rows down its right edge: the stored
    // top-left pixel is the upright picture's top-right pixel.
    RasterImage turned;
    ASSERT_TRUE(turned.Load(File("colour-o6.tif").c_str(), kFormatTiff));
    EXPECT_EQ(turned.GetWidth(), 37u);
    EXPECT_EQ(turned.GetHeight(), 53u);
    EXPECT_EQ(turned.GetPixelColor(36, 52, false), KnownColour(0, 0, 53, 37));
    RasterImage half;
    ASSERT_TRUE(half.Load(File("colour-o3.tif").c_str(), kFormatTiff));
    EXPECT_EQ(half.GetPixelColor(52, 0, false), KnownColour(0, 0, 53, 37));
}

TEST_F(TiffInterop, HandBuiltLayouts) {
    const uint32_t w = 13, h = 5;
    // 8-bit min-is-white: 0 is white.
    {
        std::vector<uint8_t> data(w * h);
        for (uint32_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 3);
        TinyTiff t(w, h);
        t.Short(258, 8).Short(259, 1).Short(262, 0).Short(277, 1).Data(data);
        RasterImage img;
        ASSERT_TRUE(DecodeTiff(t.Build(), &img)) << img.GetLastError();
        for (uint32_t i = 0; i < data.size(); ++i) {
            const RgbQuad c =
                img.GetPixelColor(static_cast<int32_t>(i % w), static_cast<int32_t>(h - 1 - i / w));
            ASSERT_EQ(c.red, 255 - data[i]);
        }
        ScratchDir d;
        ASSERT_TRUE(WriteFileBytes(d.File("mw.tif"), t.Build()));
        Pnm pnm;
        ASSERT_TRUE(DecodeWithImageMagick(d.File("mw.tif"), &pnm));
        EXPECT_TRUE(MatchesPnm(img, pnm));
    }
    // 16-bit grey that uses only 12 bits: one gain for the whole page, set
    // by the brightest row, so that row's top value reaches bit 7.
    {
        std::vector<uint16_t> samples(w * h);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                samples[y * w + x] = static_cast<uint16_t>((x * 300 + y * 100) % 4096);
        std::vector<uint8_t> data(samples.size() * 2);
        std::memcpy(data.data(), samples.data(), data.size());
        TinyTiff t(w, h);
        t.Short(258, 16).Short(259, 1).Short(262, 1).Short(277, 1).Data(data);
        RasterImage img;
        ASSERT_TRUE(DecodeTiff(t.Build(), &img)) << img.GetLastError();
        ASSERT_EQ(img.GetBpp(), 8u);
        EXPECT_TRUE(img.IsGrayScale());
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                ASSERT_EQ(
                    img.GetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(h - 1 - y)),
                    (samples[y * w + x] << 4) >> 8)
                    << x << "," << y;
    }
    // A palette file of 16 bits becomes 24-bit through its colour map.
    {
        std::vector<uint16_t> map(3 * 65536, 0);
        for (uint32_t k = 0; k < 65536; ++k) {
            map[k] = static_cast<uint16_t>(k);
            map[65536 + k] = static_cast<uint16_t>(65535 - k);
            map[131072 + k] = static_cast<uint16_t>((k * 7) & 0xFFFF);
        }
        std::vector<uint16_t> samples(w * h);
        for (uint32_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint16_t>(i * 4099);
        std::vector<uint8_t> data(samples.size() * 2);
        std::memcpy(data.data(), samples.data(), data.size());
        TinyTiff t(w, h);
        t.Short(258, 16).Short(259, 1).Short(262, 3).Short(277, 1).Short(320, map).Data(data);
        RasterImage img;
        ASSERT_TRUE(DecodeTiff(t.Build(), &img)) << img.GetLastError();
        ASSERT_EQ(img.GetBpp(), 24u);
        for (uint32_t i = 0; i < samples.size(); ++i) {
            const uint32_t k = samples[i];
            const RgbQuad c =
                img.GetPixelColor(static_cast<int32_t>(i % w), static_cast<int32_t>(h - 1 - i / w));
            ASSERT_EQ(c.red, map[k] * 255u / 65535u);
            ASSERT_EQ(c.green, map[65536 + k] * 255u / 65535u);
            ASSERT_EQ(c.blue, map[131072 + k] * 255u / 65535u);
        }
    }
    // A colour map holding 8-bit values is used as it is.
    {
        std::vector<uint16_t> map(3 * 16);
        for (uint32_t k = 0; k < 16; ++k) {
            map[k] = static_cast<uint16_t>(k * 16);
            map[16 + k] = static_cast<uint16_t>(255 - k);
            map[32 + k] = 7;
        }
        TinyTiff t(4, 1);
        t.Short(258, 4).Short(259, 1).Short(262, 3).Short(277, 1).Short(320, map).Data(
            {0x01, 0xEF});
        RasterImage img;
        ASSERT_TRUE(DecodeTiff(t.Build(), &img)) << img.GetLastError();
        ASSERT_EQ(img.GetBpp(), 4u);
        EXPECT_EQ(img.GetPixelColor(0, 0), (RgbQuad{7, 255, 0, 0}));
        EXPECT_EQ(img.GetPixelColor(3, 0), (RgbQuad{7, 240, 240, 0}));
    }
    // Resolution in centimetres and a position.
    {
        TinyTiff t(8, 1);
        t.Short(258, 8).Short(259, 1).Short(262, 1).Short(277, 1).Data(std::vector<uint8_t>(8, 9));
        t.Rational(282, 118, 1).Rational(283, 4000, 100).Short(296, 3);
        t.Rational(286, 5, 2).Rational(287, 7, 1);
        RasterImage img;
        ASSERT_TRUE(DecodeTiff(t.Build(), &img)) << img.GetLastError();
        EXPECT_EQ(img.GetXDpi(), 300);  // 118 * 2.54 + 0.5 = 300.22
        EXPECT_EQ(img.GetYDpi(), 102);  // 40 * 2.54 + 0.5 = 102.1
        EXPECT_EQ(img.GetXOffset(), 2);
        EXPECT_EQ(img.GetYOffset(), 7);
    }
}

TEST_F(TiffInterop, CieLabPages) {
    // Known colours: white, black, and saturated Lab values, 8 bits, with
    // and without separate planes; ImageMagick's conversion differs from
    // ours in its details, so only closeness is asked of it.
    Run(kIm + "colour.ppm -colorspace Lab -depth 8 -compress none lab.tif");
    ASSERT_NE(TiffInfo(File("lab.tif")).find("CIE L*a*b*"), std::string::npos);
    Run("tiffcp -p separate lab.tif lab-planes.tif");
    // ImageMagick converts with its own white point and clipping, so the
    // pictures agree closely on average and differ most at the gamut's edge.
    Pnm pnm;
    ASSERT_TRUE(DecodeWithImageMagick(File("lab.tif"), &pnm));
    for (const char* name : {"lab.tif", "lab-planes.tif"}) {
        SCOPED_TRACE(name);
        RasterImage ours;
        ASSERT_TRUE(ours.Load(File(name).c_str(), kFormatTiff)) << ours.GetLastError();
        ASSERT_EQ(ours.GetBpp(), 24u);
        double total = 0;
        int worst = 0;
        for (int y = 0; y < pnm.height; ++y)
            for (int x = 0; x < pnm.width; ++x) {
                int r, g, b;
                pnm.Rgb(x, y, &r, &g, &b);
                const RgbQuad c = ours.GetPixelColor(x, pnm.height - 1 - y, false);
                for (int d : {c.red - r, c.green - g, c.blue - b}) {
                    total += std::abs(d);
                    worst = std::max(worst, std::abs(d));
                }
            }
        EXPECT_LT(total / (3.0 * pnm.width * pnm.height), 4.0);
        EXPECT_LE(worst, 40);
    }

    TinyTiff t(3, 1);
    t.Short(258, {8, 8, 8}).Short(259, 1).Short(262, 8).Short(277, 3);
    t.Data({255, 0, 0, 0, 0, 0, 136, 80, 60});  // white, black, an orange red
    RasterImage img;
    ASSERT_TRUE(DecodeTiff(t.Build(), &img)) << img.GetLastError();
    ASSERT_EQ(img.GetBpp(), 24u);
    const RgbQuad white = img.GetPixelColor(0, 0), black = img.GetPixelColor(1, 0);
    EXPECT_GE(white.red, 254);
    EXPECT_GE(white.green, 254);
    EXPECT_GE(white.blue, 253);
    EXPECT_LE(black.red, 10);
    EXPECT_EQ(black.red, black.green);
    EXPECT_EQ(black.red, black.blue);
    const RgbQuad red = img.GetPixelColor(2, 0);
    EXPECT_GT(red.red, 200);
    EXPECT_LT(red.green, 120);
    EXPECT_LT(red.blue, 80);
}

TEST_F(TiffInterop, LoadFindsTheFormatByContent) {
    // A PNG named like a TIFF loads through detection.
    Run(kIm + "colour.ppm png:a.TIF");
    RasterImage png;
    EXPECT_TRUE(png.Load(File("a.TIF").c_str(), kFormatTiff)) << png.GetLastError();
    // A text file named like a TIFF keeps the TIFF reader's message.
    ASSERT_TRUE(WriteFileBytes(File("a.tif"), std::vector<uint8_t>(40, 'x')));
    RasterImage text;
    EXPECT_FALSE(text.Load(File("a.tif").c_str(), kFormatTiff));
    EXPECT_STREQ(text.GetLastError(), "Error encountered while opening TIFF file");
    // And a TIFF named like something else is found by detection.
    Run(kIm + "colour.ppm -compress lzw tiff:b.png");
    RasterImage tiff;
    ASSERT_TRUE(tiff.Load(File("b.png").c_str(), kFormatUnknown)) << tiff.GetLastError();
    EXPECT_EQ(tiff.GetType(), 6u);
    EXPECT_TRUE(SamePixels(tiff, KnownImage(53, 37)));
}

}  // namespace
}  // namespace sheetmend::testing
