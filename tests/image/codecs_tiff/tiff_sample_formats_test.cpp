// TIFF sample formats beyond unsigned integers, and the extra samples of a
// page: floating-point samples are clamped to 0..1 and scaled with rounding,
// signed samples are offset so that the most negative value is black, 64-bit
// grey keeps its top byte, unassociated alpha comes back with the colours
// written, and grey or palette pages with extra samples show their first
// sample. Files are built byte by byte; the expected pixels are worked out by
// hand in the comments (big-endian files are compared with ImageMagick in
// tiff_interop_test.cpp).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "image/raster_image.h"
#include "tests/image/codecs_tiff/tiff_test_support.h"
#include "tests/support/mutation.h"
#include "tests/support/test_images.h"

namespace sheetmend::testing {
namespace {

constexpr uint16_t kExtraSamples = 338, kSampleFormat = 339, kPlanar = 284;

template <typename T>
Bytes Raw(const std::vector<T>& values) {
    Bytes out(values.size() * sizeof(T));
    std::memcpy(out.data(), values.data(), out.size());
    return out;
}

// A one-row grey page of `n` samples.
Bytes GreyRow(uint32_t n, uint16_t bps, uint16_t format, uint16_t photometric, Bytes data) {
    TinyTiff t(n, 1);
    t.Short(258, bps).Short(259, 1).Short(262, photometric).Short(277, 1);
    return t.Short(kSampleFormat, format).Data(std::move(data)).Build();
}

// The indices of a decoded one-row page; each pixel's grey must be its index
// (or, min-is-white, the inverse).
std::vector<int> RowIndices(const Bytes& file, bool minIsWhite) {
    RasterImage img;
    std::vector<int> out;
    EXPECT_TRUE(DecodeBytes(file, kFormatTiff, &img)) << img.GetLastError();
    EXPECT_EQ(img.GetBpp(), 8u);
    for (int32_t x = 0; x < static_cast<int32_t>(img.GetWidth()); ++x) {
        out.push_back(img.GetPixelIndex(x, 0));
        EXPECT_EQ(img.GetPixelColor(x, 0).red, minIsWhite ? 255 - out.back() : out.back());
    }
    return out;
}

void ExpectColour(const RasterImage& img, int32_t x, int r, int g, int b) {
    const RgbQuad c = img.GetPixelColor(x, 0, false);
    EXPECT_EQ(c.red, r) << x;
    EXPECT_EQ(c.green, g) << x;
    EXPECT_EQ(c.blue, b) << x;
}

TEST(TiffSampleFormats, GreyLevelsOfEverySampleKind) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // value x 255 + 0.5 rounded down: 0.0019 -> 0.48 -> 0; 0.002 -> 0.51 -> 1;
    // 0.25 -> 64.25 -> 64; 0.5 -> 128; 0.75 -> 191.75 -> 191; NaN -> 0.
    const Bytes f32 = Raw(
        std::vector<float>{-0.5f, 0.0019f, 0.002f, 0.2f, 0.25f, 0.5f, 0.75f, 1.0f, 2.0f, nan, inf});
    const std::vector<int> f32Levels = {0, 0, 1, 51, 64, 128, 191, 255, 255, 0, 255};
    // Half: 0x3C00 = 1, 0x3800 = 0.5, 0x3B00 = 0.875 -> 223, 0x2C00 = 1/16 ->
    // 16, 0x1C00 = 1/256 -> 1, 0x0001 (subnormal) -> 0, 0xBC00 = -1, 0x7C00
    // infinity, 0x7E00 NaN.
    const Bytes f16 = Raw(std::vector<uint16_t>{0x3C00, 0x3800, 0x3B00, 0x2C00, 0x1C00, 0x0001,
                                                0xBC00, 0x7C00, 0x7E00});
    // 24 bits, exponent bias 63, least significant byte first: 0x3F0000 = 1,
    // 0x3E0000 = 0.5, 0x3E8000 = 0.75, 0x3B0000 = 1/16, 0xBF0000 = -1.
    const Bytes f24 = {0, 0, 0x3F, 0, 0, 0x3E, 0, 0x80, 0x3E, 0, 0, 0x3B, 0, 0, 0xBF};
    // 0.1 -> 25.5 -> 26 (truncating gives 25); 0.998 -> 254.49 -> 254.
    const Bytes f64 = Raw(std::vector<double>{0.1, 0.998, 0.999, 1e-300, -3.0, 7.0});
    // Signed: v + 2^(n-1). 16 bits then the page's common gain, here 1
    // (both extremes on the row): -1 -> 0x7FFF -> 127, 256 -> 0x8100 -> 129.
    const Bytes s8 = Raw(std::vector<int8_t>{-128, -1, 0, 1, 127, -64});
    const Bytes s16 = Raw(std::vector<int16_t>{-32768, -1, 0, 32767, 256, -256});
    // A faint signed page: offsets 0x0100 and 0x0800, gain 16 -> 16 and 128.
    const Bytes faint = Raw(std::vector<int16_t>{-32768 + 0x100, -32768 + 0x800});
    const Bytes u64 = Raw(
        std::vector<uint64_t>{0, ~0ull, 1ull << 63, 0x0123456789ABCDEFull, 0x00FFFFFFFFFFFFFFull});
    const struct {
        const char* what;
        Bytes file;
        std::vector<int> levels;
        bool minIsWhite;
    } cases[] = {
        {"float 32", GreyRow(11, 32, 3, 1, f32), f32Levels, false},
        {"float 32, min-is-white", GreyRow(11, 32, 3, 0, f32), f32Levels, true},
        {"float 16", GreyRow(9, 16, 3, 1, f16), {255, 128, 223, 16, 1, 0, 0, 255, 0}, false},
        {"float 24", GreyRow(5, 24, 3, 1, f24), {255, 128, 191, 16, 0}, false},
        {"float 64", GreyRow(6, 64, 3, 1, f64), {26, 254, 255, 0, 0, 255}, false},
        {"signed 8", GreyRow(6, 8, 2, 1, s8), {0, 127, 128, 129, 255, 64}, false},
        {"signed 8, min-is-white", GreyRow(6, 8, 2, 0, s8), {0, 127, 128, 129, 255, 64}, true},
        {"signed 16", GreyRow(6, 16, 2, 1, s16), {0, 127, 128, 255, 129, 127}, false},
        {"signed 16, faint", GreyRow(2, 16, 2, 1, faint), {16, 128}, false},
        {"unsigned 64", GreyRow(5, 64, 1, 1, u64), {0, 255, 128, 1, 0}, false},
        {"unsigned 64, min-is-white", GreyRow(5, 64, 1, 0, u64), {0, 255, 128, 1, 0}, true},
    };
    for (const auto& c : cases) EXPECT_EQ(RowIndices(c.file, c.minIsWhite), c.levels) << c.what;

    // Signed grey and alpha: (-128, 127) -> 0 opaque, (100, -128) -> 228
    // transparent. Signed 4-bit nibbles 8, F, 0, 7 (-8, -1, 0, 7) -> 0, 7, 8, 15.
    TinyTiff ga(2, 1);
    ga.Short(258, {8, 8}).Short(259, 1).Short(262, 1).Short(277, 2).Short(kSampleFormat, {2, 2});
    RasterImage img;
    ASSERT_TRUE(DecodeBytes(ga.Data(Raw(std::vector<int8_t>{-128, 127, 100, -128})).Build(),
                            kFormatTiff, &img));
    EXPECT_EQ(img.GetPixelIndex(0, 0) + 1000 * img.AlphaGet(0, 0), 255000);
    EXPECT_EQ(img.GetPixelIndex(1, 0) + 1000 * img.AlphaGet(1, 0), 228);
    ASSERT_TRUE(DecodeBytes(GreyRow(4, 4, 2, 1, {0x8F, 0x07}), kFormatTiff, &img));
    ASSERT_EQ(img.GetBpp(), 4u);
    const int nibbles[4] = {0, 7, 8, 15};
    for (int x = 0; x < 4; ++x) EXPECT_EQ(img.GetPixelIndex(x, 0), nibbles[x]) << x;
}

TEST(TiffSampleFormats, FloatAndSignedRgbPages) {
    // Float RGBA, unassociated: (1, 0.5, 0, 0.5) -> (255, 128, 0), alpha 128;
    // (-1, 2, 0.25, 1.5) -> (0, 255, 64), alpha 255.
    TinyTiff t(2, 1);
    t.Short(258, {32, 32, 32, 32}).Short(259, 1).Short(262, 2).Short(277, 4);
    t.Short(kExtraSamples, 2).Short(kSampleFormat, {3, 3, 3, 3});
    t.Data(Raw(std::vector<float>{1, 0.5f, 0, 0.5f, -1, 2, 0.25f, 1.5f}));
    RasterImage rgba;
    ASSERT_TRUE(DecodeBytes(t.Build(), kFormatTiff, &rgba)) << rgba.GetLastError();
    ASSERT_EQ(rgba.GetBpp(), 24u);
    ExpectColour(rgba, 0, 255, 128, 0);
    ExpectColour(rgba, 1, 0, 255, 64);
    EXPECT_EQ(rgba.AlphaGet(0, 0), 128);
    EXPECT_EQ(rgba.AlphaGet(1, 0), 255);

    // Signed 8-bit RGB in separate planes: (-128, 0, 127) -> (0, 128, 255),
    // (-1, 1, -100) -> (127, 129, 28).
    TinyTiff s(2, 1);
    s.Short(258, {8, 8, 8}).Short(259, 1).Short(262, 2).Short(277, 3).Short(kPlanar, 2);
    s.Short(kSampleFormat, {2, 2, 2}).Planes({{0x80, 0xFF}, {0, 1}, {127, 0x9C}});
    RasterImage planes;
    ASSERT_TRUE(DecodeBytes(s.Build(), kFormatTiff, &planes)) << planes.GetLastError();
    ExpectColour(planes, 0, 0, 128, 255);
    ExpectColour(planes, 1, 127, 129, 28);

    // Linear camera RGB is RGB too.
    TinyTiff lin(1, 1);
    lin.Short(258, {8, 8, 8}).Short(259, 1).Short(262, 34892).Short(277, 3).Data({10, 20, 30});
    RasterImage camera;
    ASSERT_TRUE(DecodeBytes(lin.Build(), kFormatTiff, &camera)) << camera.GetLastError();
    ExpectColour(camera, 0, 10, 20, 30);
}

TEST(TiffSampleFormats, UnassociatedAlphaComesBackWithTheColoursWritten) {
    // Row 0: (v, 255 - v, 200) for every v at alpha 128, row 1 the same at
    // alpha 0, row 2 at alpha 255.
    const uint8_t alphas[3] = {128, 0, 255};
    Bytes data;
    for (uint8_t a : alphas)
        for (int v = 0; v < 256; ++v)
            data.insert(data.end(),
                        {static_cast<uint8_t>(v), static_cast<uint8_t>(255 - v), 200, a});
    for (uint16_t kind : {1, 2}) {
        SCOPED_TRACE(kind);
        TinyTiff t(256, 3);
        t.Short(258, {8, 8, 8, 8}).Short(259, 1).Short(262, 2).Short(277, 4);
        RasterImage img;
        ASSERT_TRUE(
            DecodeBytes(t.Short(kExtraSamples, kind).Data(data).Build(), kFormatTiff, &img));
        for (int v = 0; v < 256; ++v) {
            const RgbQuad half = img.GetPixelColor(v, 2), clear = img.GetPixelColor(v, 1);
            const RgbQuad full = img.GetPixelColor(v, 0);
            EXPECT_EQ(img.AlphaGet(v, 2) + img.AlphaGet(v, 1) + img.AlphaGet(v, 0), 128 + 255);
            EXPECT_EQ(full.red + full.green, 255) << v;
            if (kind == 1) {
                // Associated alpha: the colours are taken as stored.
                EXPECT_EQ(half.red, v);
                EXPECT_EQ(clear.red + clear.green, 255);
                continue;
            }
            // Unassociated: libtiff premultiplies, (c x 128 + 127) / 255, and
            // the decoder divides again, so half the levels survive and each
            // colour comes back within one (it used to come back halved);
            // where alpha is 0 nothing is left.
            EXPECT_LE(std::abs(half.red - v), 1) << v;
            EXPECT_LE(std::abs(half.green - (255 - v)), 1) << v;
            EXPECT_EQ(clear.red + clear.green + clear.blue, 0) << v;
        }
        // 200 by hand: (200 x 128 + 127) / 255 = 100, (100 x 255 + 64) / 128
        // = 199.
        EXPECT_EQ(img.GetPixelColor(0, 2).blue, kind == 2 ? 199 : 200);
    }
}

TEST(TiffSampleFormats, GreyAndPalettePagesWithExtraSamples) {
    const struct {
        const char* what;
        uint16_t photometric;
        std::vector<uint16_t> extra;
        int alphaSample;  // -1: no alpha plane
        int grey;         // the colour of index 250
    } cases[] = {
        {"grey, unspecified then unassociated", 1, {0, 2}, 2, 250},
        {"grey, two unspecified samples", 1, {0, 0}, -1, 250},
        {"min-is-white, associated first", 0, {1, 0}, 1, 5},
        {"palette, unassociated first", 3, {2, 0}, 1, 250},
    };
    const Bytes data = {10, 200, 30, 250, 40, 99};  // three samples a pixel
    std::vector<uint16_t> map(3 * 256);
    for (int i = 0; i < 256; ++i) {
        map[i] = static_cast<uint16_t>(i * 257);            // red = index
        map[256 + i] = static_cast<uint16_t>(i / 2 * 257);  // green = index / 2
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TinyTiff t(2, 1);
        t.Short(258, {8, 8, 8}).Short(259, 1).Short(262, c.photometric).Short(277, 3);
        t.Short(kExtraSamples, c.extra).Data(data);
        if (c.photometric == 3) t.Short(320, map);
        RasterImage img;
        ASSERT_TRUE(DecodeBytes(t.Build(), kFormatTiff, &img)) << img.GetLastError();
        // The first sample is the pixel, not an L*a*b* colour.
        ASSERT_EQ(img.GetBpp(), 8u);
        EXPECT_EQ(img.GetPixelIndex(0, 0), 10);
        EXPECT_EQ(img.GetPixelIndex(1, 0), 250);
        const RgbQuad p = img.GetPixelColor(1, 0, false);
        EXPECT_EQ(p.red, c.grey);
        EXPECT_EQ(p.green, c.photometric == 3 ? 125 : c.grey);
        ASSERT_EQ(img.HasAlpha(), c.alphaSample >= 0);
        if (c.alphaSample >= 0) {
            EXPECT_EQ(img.AlphaGet(0, 0), data[c.alphaSample]);
            EXPECT_EQ(img.AlphaGet(1, 0), data[3 + c.alphaSample]);
        }
    }
    // CIE L*a*b* stays a colour page: L 255, a = b = 0 is white.
    TinyTiff lab(1, 1);
    lab.Short(258, {8, 8, 8}).Short(259, 1).Short(262, 8).Short(277, 3).Data({255, 0, 0});
    RasterImage white;
    ASSERT_TRUE(DecodeBytes(lab.Build(), kFormatTiff, &white));
    ASSERT_EQ(white.GetBpp(), 24u);
    EXPECT_GE(white.GetPixelColor(0, 0).green, 254);
}

TEST(TiffSampleFormats, LyingFloatFilesAreRefusedCleanly) {
    // Floating point in a size that has none.
    for (uint16_t bps : {8, 12, 48}) {
        RasterImage img;
        EXPECT_FALSE(DecodeBytes(GreyRow(2, bps, 3, 1, Bytes(12, 0x3F)), kFormatTiff, &img));
        EXPECT_STREQ(img.GetLastError(), "Unsupported TIFF floating-point sample size") << bps;
    }
    // A 4-row float page whose only strip holds one and a half rows: libtiff
    // refuses the short strip, so the page ends there, all black.
    TinyTiff t(2, 4);
    t.Short(258, 32).Short(259, 1).Short(262, 1).Short(277, 1).Short(kSampleFormat, 3);
    RasterImage img;
    ASSERT_TRUE(
        DecodeBytes(t.Data(Raw(std::vector<float>{1, 0.5f, 1})).Build(), kFormatTiff, &img));
    for (int i = 0; i < 8; ++i) EXPECT_EQ(img.GetPixelIndex(i % 2, i / 2), 0);
    // Sizes past the memory limit are refused before anything is taken.
    TinyTiff huge(100000, 100000);
    huge.Short(258, 64).Short(259, 1).Short(262, 1).Short(277, 1).Short(kSampleFormat, 3);
    EXPECT_FALSE(DecodeBytes(huge.Data(Bytes(64, 0)).Build(), kFormatTiff, &img));
    EXPECT_STREQ(img.GetLastError(), "TiffImage can't create image");
}

}  // namespace
}  // namespace sheetmend::testing
