// TIFF sample formats beyond unsigned integers, and the extra samples of a
// page: floating-point samples (16, 24, 32 and 64 bits) are clamped to 0..1
// and scaled with rounding, signed samples are offset so that the most
// negative value is black, 64-bit grey keeps its top byte, unassociated alpha
// comes back with the colours written, and grey or palette pages with extra
// samples show their first sample. Files are built byte by byte or written
// with libtiff (big-endian, so byte swapping is exercised); every expected
// pixel is worked out by hand in the comments.
#include <tiffio.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "image/raster_image.h"
#include "tests/image/codecs_tiff/tiff_test_support.h"
#include "tests/support/external_tools.h"
#include "tests/support/mutation.h"
#include "tests/support/test_images.h"

namespace sheetmend::testing {
namespace {

constexpr uint16_t kSampleFormat = 339;
constexpr uint16_t kExtraSamples = 338;
constexpr uint16_t kPlanar = 284;

template <typename T>
Bytes Raw(const std::vector<T>& values) {
    Bytes out(values.size() * sizeof(T));
    std::memcpy(out.data(), values.data(), out.size());
    return out;
}

// 24-bit samples, least significant byte first.
Bytes Raw24(const std::vector<uint32_t>& values) {
    Bytes out;
    for (uint32_t v : values)
        for (int i = 0; i < 3; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

// A one-row grey page of `n` samples of `bps` bits.
Bytes GreyRow(uint32_t n, uint16_t bps, uint16_t format, uint16_t photometric, Bytes data) {
    TinyTiff t(n, 1);
    t.Short(258, bps).Short(259, 1).Short(262, photometric).Short(277, 1);
    t.Short(kSampleFormat, format).Data(std::move(data));
    return t.Build();
}

// A page written by libtiff: samples given in host order, one row after the
// other; "wb" makes a big-endian file.
struct LibtiffPage {
    uint32_t width = 1, height = 1;
    uint16_t bps = 8, spp = 1, photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t format = SAMPLEFORMAT_UINT, compression = COMPRESSION_NONE, predictor = 1;
    std::vector<uint16_t> extra;
    Bytes samples;
};

bool WriteWithLibtiff(const std::string& path, const LibtiffPage& p, const char* mode = "wb") {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(path.c_str(), mode);
    if (!tif) return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, p.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, p.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, p.bps);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, p.spp);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, p.photometric);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, p.format);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, p.compression);
    if (p.predictor != 1) TIFFSetField(tif, TIFFTAG_PREDICTOR, p.predictor);
    if (!p.extra.empty())
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(p.extra.size()),
                     p.extra.data());
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, p.height);
    const size_t row = static_cast<size_t>(p.width) * p.spp * p.bps / 8;
    bool ok = p.samples.size() == row * p.height;
    for (uint32_t y = 0; ok && y < p.height; ++y) {
        Bytes line(p.samples.begin() + static_cast<std::ptrdiff_t>(y * row),
                   p.samples.begin() + static_cast<std::ptrdiff_t>((y + 1) * row));
        ok = TIFFWriteScanline(tif, line.data(), y, 0) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

Bytes LibtiffBytes(const LibtiffPage& p, const char* mode = "wb") {
    ScratchDir dir;
    const std::string path = dir.File("page.tif");
    EXPECT_TRUE(WriteWithLibtiff(path, p, mode));
    return ReadFileBytes(path);
}

// The grey indices of a one-row 8-bit page, and that its palette is the
// plain ramp (min-is-black) or the inverted one (min-is-white).
::testing::AssertionResult GreyRowIs(const Bytes& file, const std::vector<int>& expected,
                                     bool minIsWhite = false) {
    RasterImage img;
    if (!DecodeBytes(file, kFormatTiff, &img))
        return ::testing::AssertionFailure() << "refused: " << img.GetLastError();
    if (img.GetBpp() != 8 || img.GetWidth() != expected.size() || img.GetHeight() != 1)
        return ::testing::AssertionFailure()
               << "got " << img.GetWidth() << " x " << img.GetHeight() << " x " << img.GetBpp();
    for (size_t x = 0; x < expected.size(); ++x) {
        const int index = img.GetPixelIndex(static_cast<int32_t>(x), 0);
        const int grey = img.GetPixelColor(static_cast<int32_t>(x), 0).red;
        if (index != expected[x] || grey != (minIsWhite ? 255 - index : index))
            return ::testing::AssertionFailure()
                   << "pixel " << x << ": index " << index << ", grey " << grey
                   << ", expected index " << expected[x];
    }
    return ::testing::AssertionSuccess();
}

const float kNanF = std::numeric_limits<float>::quiet_NaN();
const float kInfF = std::numeric_limits<float>::infinity();

// value x 255 + 0.5, rounded down: -0.5 and 0 -> 0; 0.0019 -> 0.48 -> 0;
// 0.002 -> 0.51 -> 1; 0.2 -> 51; 0.25 -> 63.75 -> 64; 0.5 -> 127.5 -> 128;
// 0.75 -> 191.25 -> 191; 1 and above -> 255; NaN -> 0; infinity -> 255.
const std::vector<float> kFloats = {-0.5f, 0.0f,  0.0019f, 0.002f, 0.2f,  0.25f,
                                    0.5f,  0.75f, 1.0f,    2.0f,   kNanF, kInfF};
const std::vector<int> kFloatLevels = {0, 0, 0, 1, 51, 64, 128, 191, 255, 255, 0, 255};

TEST(TiffSampleFormats, FloatGreyIsClampedAndRounded) {
    const uint32_t n = static_cast<uint32_t>(kFloats.size());
    EXPECT_TRUE(GreyRowIs(GreyRow(n, 32, 3, 1, Raw(kFloats)), kFloatLevels));
    EXPECT_TRUE(GreyRowIs(GreyRow(n, 32, 3, 0, Raw(kFloats)), kFloatLevels, true));

    // The same values LZW-compressed with the floating-point predictor, over
    // two rows: libtiff undoes both before the values arrive. (Little-endian:
    // libtiff's own writer swaps the bytes of big-endian floating-point
    // predictor data wrongly, which ImageMagick's files show it reads back.)
    LibtiffPage p;
    p.width = n / 2;
    p.height = 2;
    p.bps = 32;
    p.format = SAMPLEFORMAT_IEEEFP;
    p.compression = COMPRESSION_LZW;
    p.predictor = 3;
    p.samples = Raw(kFloats);
    RasterImage img;
    ASSERT_TRUE(DecodeBytes(LibtiffBytes(p, "wl"), kFormatTiff, &img)) << img.GetLastError();
    ASSERT_EQ(img.GetBpp(), 8u);
    for (uint32_t i = 0; i < n; ++i)
        EXPECT_EQ(img.GetPixelIndex(static_cast<int32_t>(i % p.width),
                                    static_cast<int32_t>(1 - i / p.width)),
                  kFloatLevels[i])
            << i;
}

TEST(TiffSampleFormats, HalfAndTwentyFourBitFloats) {
    // Half precision: 0x3C00 = 1, 0x3800 = 0.5 -> 128, 0x3400 = 0.25 -> 64,
    // 0x3B00 = 0.875 -> 223.125 -> 223, 0x2C00 = 0.0625 -> 15.94 -> 16,
    // 0x1C00 = 2^-8 -> 0.996 -> 1, 0x0001 (smallest subnormal) -> 0,
    // 0xBC00 = -1 -> 0, 0x4000 = 2 -> 255, 0x7C00 infinity -> 255, 0x7E00
    // NaN -> 0, 0x8000 (-0) -> 0.
    const std::vector<uint16_t> halves = {0x3C00, 0x3800, 0x3400, 0x3B00, 0x2C00, 0x1C00,
                                          0x0001, 0xBC00, 0x4000, 0x7C00, 0x7E00, 0x8000};
    const std::vector<int> halfLevels = {255, 128, 64, 223, 16, 1, 0, 0, 255, 255, 0, 0};
    EXPECT_TRUE(GreyRowIs(GreyRow(12, 16, 3, 1, Raw(halves)), halfLevels));
    LibtiffPage p;
    p.width = 12;
    p.bps = 16;
    p.format = SAMPLEFORMAT_IEEEFP;
    p.samples = Raw(halves);
    EXPECT_TRUE(GreyRowIs(LibtiffBytes(p), halfLevels));

    // 24 bits, exponent bias 63: 0x3F0000 = 1, 0x3E0000 = 0.5, 0x3E8000 =
    // 0.75, 0x3D0000 = 0.25, 0x3B0000 = 1/16 -> 15.94 -> 16, 0xBF0000 = -1,
    // 0x400000 = 2.
    const std::vector<uint32_t> f24 = {0x3F0000, 0x3E0000, 0x3E8000, 0x3D0000,
                                       0x3B0000, 0xBF0000, 0x400000};
    EXPECT_TRUE(GreyRowIs(GreyRow(7, 24, 3, 1, Raw24(f24)), {255, 128, 191, 64, 16, 0, 255}));
}

TEST(TiffSampleFormats, DoubleFloatPage) {
    // 0.1 -> 25.5 -> 26 (truncating would give 25); 0.998 -> 254.49 -> 254;
    // 0.999 -> 254.75 -> 255; 1e-300 -> 0; -3 -> 0; 0.5 -> 128; 7 -> 255.
    const std::vector<double> values = {0.1, 0.998, 0.999, 1e-300, -3.0, 0.5, 7.0, 0.0};
    const std::vector<int> levels = {26, 254, 255, 0, 0, 128, 255, 0};
    LibtiffPage p;
    p.width = 4;
    p.height = 2;
    p.bps = 64;
    p.format = SAMPLEFORMAT_IEEEFP;
    p.samples = Raw(values);
    RasterImage img;
    ASSERT_TRUE(DecodeBytes(LibtiffBytes(p), kFormatTiff, &img)) << img.GetLastError();
    ASSERT_EQ(img.GetBpp(), 8u);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(img.GetPixelIndex(i % 4, 1 - i / 4), levels[i]) << i;
    // Little-endian, byte by byte, the same.
    EXPECT_TRUE(GreyRowIs(GreyRow(8, 64, 3, 1, Raw(values)), levels));
}

TEST(TiffSampleFormats, SignedPagesPutTheMostNegativeValueAtBlack) {
    // 8 bits: v + 128.
    const std::vector<int8_t> s8 = {-128, -1, 0, 1, 127, -64};
    EXPECT_TRUE(GreyRowIs(GreyRow(6, 8, 2, 1, Raw(s8)), {0, 127, 128, 129, 255, 64}));
    EXPECT_TRUE(GreyRowIs(GreyRow(6, 8, 2, 0, Raw(s8)), {0, 127, 128, 129, 255, 64}, true));

    // 16 bits: v + 32768, then the usual reduction. With both extremes on
    // the row the gain is 1, so each pixel is its high byte: -32768 -> 0,
    // -1 -> 0x7FFF -> 127, 0 -> 128, 32767 -> 255, 256 -> 0x8100 -> 129,
    // -256 -> 0x7F00 -> 127.
    const std::vector<int16_t> s16 = {-32768, -1, 0, 32767, 256, -256};
    EXPECT_TRUE(GreyRowIs(GreyRow(6, 16, 2, 1, Raw(s16)), {0, 127, 128, 255, 129, 127}));
    // A faint page, all near the most negative value: offsets 0x0100 and
    // 0x0800 have high bytes 1 and 8; the gain of 16 puts 8 at bit 7, so
    // they become 16 and 128. Read unsigned, the same page would be white.
    const std::vector<int16_t> faint = {-32768 + 0x100, -32768 + 0x800};
    EXPECT_TRUE(GreyRowIs(GreyRow(2, 16, 2, 1, Raw(faint)), {16, 128}));

    // Big-endian from libtiff, two rows: the same offsets.
    LibtiffPage p;
    p.width = 3;
    p.height = 2;
    p.bps = 16;
    p.format = SAMPLEFORMAT_INT;
    p.samples = Raw(std::vector<int16_t>{-32768, 32767, 0, -32000, -30000, 0x1234});
    RasterImage img;
    ASSERT_TRUE(DecodeBytes(LibtiffBytes(p), kFormatTiff, &img)) << img.GetLastError();
    // -32000 + 32768 = 0x0300 -> 3; -30000 + 32768 = 0x0AD0 -> 10;
    // 0x1234 + 0x8000 = 0x9234 -> 0x92.
    const int expected[2][3] = {{0, 255, 128}, {3, 10, 0x92}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(img.GetPixelIndex(x, 1 - y), expected[y][x]);

    // Grey and alpha, both signed: (-128, 127) -> 0 opaque, (100, -128) ->
    // 228 transparent.
    TinyTiff t(2, 1);
    t.Short(258, {8, 8}).Short(259, 1).Short(262, 1).Short(277, 2).Short(kSampleFormat, {2, 2});
    t.Data(Raw(std::vector<int8_t>{-128, 127, 100, -128}));
    RasterImage ga;
    ASSERT_TRUE(DecodeBytes(t.Build(), kFormatTiff, &ga)) << ga.GetLastError();
    ASSERT_TRUE(ga.HasAlpha());
    EXPECT_EQ(ga.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(ga.AlphaGet(0, 0), 255);
    EXPECT_EQ(ga.GetPixelIndex(1, 0), 228);
    EXPECT_EQ(ga.AlphaGet(1, 0), 0);

    // 4-bit signed: -8 -> 0, -1 -> 7, 0 -> 8, 7 -> 15 (nibbles 8, F, 0, 7).
    TinyTiff four(4, 1);
    four.Short(258, 4).Short(259, 1).Short(262, 1).Short(277, 1).Short(kSampleFormat, 2);
    four.Data({0x8F, 0x07});
    RasterImage nib;
    ASSERT_TRUE(DecodeBytes(four.Build(), kFormatTiff, &nib)) << nib.GetLastError();
    ASSERT_EQ(nib.GetBpp(), 4u);
    const int nibbles[4] = {0, 7, 8, 15};
    for (int x = 0; x < 4; ++x) EXPECT_EQ(nib.GetPixelIndex(x, 0), nibbles[x]) << x;
}

TEST(TiffSampleFormats, SixtyFourBitUnsignedGreyKeepsItsTopByte) {
    const std::vector<uint64_t> values = {0,
                                          0xFFFFFFFFFFFFFFFFull,
                                          0x8000000000000000ull,
                                          0x0123456789ABCDEFull,
                                          0x7F00000000000001ull,
                                          0x00FFFFFFFFFFFFFFull};
    const std::vector<int> levels = {0, 255, 128, 1, 127, 0};
    LibtiffPage p;
    p.width = 6;
    p.bps = 64;
    p.samples = Raw(values);
    EXPECT_TRUE(GreyRowIs(LibtiffBytes(p), levels));
    EXPECT_TRUE(GreyRowIs(LibtiffBytes(p, "wl"), levels));
    p.photometric = PHOTOMETRIC_MINISWHITE;
    EXPECT_TRUE(GreyRowIs(LibtiffBytes(p), levels, true));
}

TEST(TiffSampleFormats, FloatAndSignedRgbPages) {
    // Float RGB: (1, 0.5, 0) -> (255, 128, 0); (-1, 2, 0.25) -> (0, 255, 64).
    TinyTiff t(2, 1);
    t.Short(258, {32, 32, 32}).Short(259, 1).Short(262, 2).Short(277, 3);
    t.Short(kSampleFormat, {3, 3, 3}).Data(Raw(std::vector<float>{1, 0.5f, 0, -1, 2, 0.25f}));
    RasterImage rgb;
    ASSERT_TRUE(DecodeBytes(t.Build(), kFormatTiff, &rgb)) << rgb.GetLastError();
    ASSERT_EQ(rgb.GetBpp(), 24u);
    EXPECT_FALSE(rgb.HasAlpha());
    RgbQuad c = rgb.GetPixelColor(0, 0);
    EXPECT_EQ(c.red, 255);
    EXPECT_EQ(c.green, 128);
    EXPECT_EQ(c.blue, 0);
    c = rgb.GetPixelColor(1, 0);
    EXPECT_EQ(c.red, 0);
    EXPECT_EQ(c.green, 255);
    EXPECT_EQ(c.blue, 64);

    // Float RGBA from libtiff, big-endian: alpha 0.5 -> 128, 1.5 -> 255.
    LibtiffPage p;
    p.width = 2;
    p.bps = 32;
    p.spp = 4;
    p.photometric = PHOTOMETRIC_RGB;
    p.format = SAMPLEFORMAT_IEEEFP;
    p.extra = {EXTRASAMPLE_UNASSALPHA};
    p.samples = Raw(std::vector<float>{0.2f, 0.4f, 0.6f, 0.5f, 0, 0, 1, 1.5f});
    RasterImage rgba;
    ASSERT_TRUE(DecodeBytes(LibtiffBytes(p), kFormatTiff, &rgba)) << rgba.GetLastError();
    ASSERT_TRUE(rgba.HasAlpha());
    c = rgba.GetPixelColor(0, 0);
    EXPECT_EQ(c.red, 51);  // 0.4 -> 102, 0.6 -> 153
    EXPECT_EQ(c.green, 102);
    EXPECT_EQ(c.blue, 153);
    EXPECT_EQ(rgba.AlphaGet(0, 0), 128);
    EXPECT_EQ(rgba.GetPixelColor(1, 0).blue, 255);
    EXPECT_EQ(rgba.AlphaGet(1, 0), 255);

    // Signed 8-bit RGB in separate planes: (-128, 0, 127) -> (0, 128, 255),
    // (-1, 1, -100) -> (127, 129, 28).
    TinyTiff s(2, 1);
    s.Short(258, {8, 8, 8}).Short(259, 1).Short(262, 2).Short(277, 3).Short(kPlanar, 2);
    s.Short(kSampleFormat, {2, 2, 2});
    s.Planes({Raw(std::vector<int8_t>{-128, -1}), Raw(std::vector<int8_t>{0, 1}),
              Raw(std::vector<int8_t>{127, -100})});
    RasterImage planes;
    ASSERT_TRUE(DecodeBytes(s.Build(), kFormatTiff, &planes)) << planes.GetLastError();
    c = planes.GetPixelColor(0, 0);
    EXPECT_EQ(c.red, 0);
    EXPECT_EQ(c.green, 128);
    EXPECT_EQ(c.blue, 255);
    c = planes.GetPixelColor(1, 0);
    EXPECT_EQ(c.red, 127);
    EXPECT_EQ(c.green, 129);
    EXPECT_EQ(c.blue, 28);
}

TEST(TiffSampleFormats, UnassociatedAlphaComesBackWithTheColoursWritten) {
    // Every grey level at alpha 255, 128 and 0, and two colours.
    LibtiffPage p;
    p.width = 256;
    p.height = 4;
    p.spp = 4;
    p.photometric = PHOTOMETRIC_RGB;
    p.extra = {EXTRASAMPLE_UNASSALPHA};
    const uint8_t alphas[3] = {255, 128, 0};
    for (int row = 0; row < 3; ++row)
        for (int v = 0; v < 256; ++v) {
            const uint8_t c = static_cast<uint8_t>(v);
            p.samples.insert(p.samples.end(), {c, static_cast<uint8_t>(255 - v), c, alphas[row]});
        }
    for (int v = 0; v < 256; ++v)
        p.samples.insert(p.samples.end(),
                         {200, 100, 50, static_cast<uint8_t>(v < 128 ? 128 : 255)});
    RasterImage img;
    ASSERT_TRUE(DecodeBytes(LibtiffBytes(p), kFormatTiff, &img)) << img.GetLastError();
    ASSERT_EQ(img.GetBpp(), 24u);
    ASSERT_TRUE(img.HasAlpha());
    for (int v = 0; v < 256; ++v) {
        SCOPED_TRACE(v);
        // Alpha 255: exact.
        RgbQuad c = img.GetPixelColor(v, 3);
        EXPECT_EQ(c.red, v);
        EXPECT_EQ(c.green, 255 - v);
        EXPECT_EQ(img.AlphaGet(v, 3), 255);
        // Alpha 128: the premultiplied byte holds half the levels, so the
        // colour comes back within one of the one written (it used to come
        // back about halved).
        c = img.GetPixelColor(v, 2);
        EXPECT_LE(std::abs(c.red - v), 1);
        EXPECT_LE(std::abs(c.green - (255 - v)), 1);
        EXPECT_EQ(img.AlphaGet(v, 2), 128);
        // Alpha 0: no colour left.
        c = img.GetPixelColor(v, 1);
        EXPECT_EQ(c.red + c.green + c.blue, 0);
        EXPECT_EQ(img.AlphaGet(v, 1), 0);
    }
    // (200, 100, 50) at 128 by hand: premultiplied (200 x 128 + 127) / 255 =
    // 100, (100 x 128 + 127) / 255 = 50, (50 x 128 + 127) / 255 = 25; undone
    // (100 x 255 + 64) / 128 = 199, (50 x 255 + 64) / 128 = 100, (25 x 255 +
    // 64) / 128 = 50.
    RgbQuad c = img.GetPixelColor(0, 0);
    EXPECT_EQ(c.red, 199);
    EXPECT_EQ(c.green, 100);
    EXPECT_EQ(c.blue, 50);
    c = img.GetPixelColor(200, 0);
    EXPECT_EQ(c.red, 200);
    EXPECT_EQ(c.green, 100);
    EXPECT_EQ(c.blue, 50);

    // Associated alpha is left as stored.
    LibtiffPage q;
    q.width = 2;
    q.spp = 4;
    q.photometric = PHOTOMETRIC_RGB;
    q.extra = {EXTRASAMPLE_ASSOCALPHA};
    q.samples = {100, 50, 0, 128, 10, 20, 30, 40};
    RasterImage assoc;
    ASSERT_TRUE(DecodeBytes(LibtiffBytes(q), kFormatTiff, &assoc)) << assoc.GetLastError();
    c = assoc.GetPixelColor(0, 0);
    EXPECT_EQ(c.red, 100);
    EXPECT_EQ(c.green, 50);
    EXPECT_EQ(c.blue, 0);
    c = assoc.GetPixelColor(1, 0);
    EXPECT_EQ(c.red, 10);
    EXPECT_EQ(c.blue, 30);
    EXPECT_EQ(assoc.AlphaGet(1, 0), 40);
}

TEST(TiffSampleFormats, GreyAndPalettePagesWithExtraSamples) {
    struct Case {
        const char* what;
        uint16_t photometric;
        std::vector<uint16_t> extra;
        int alphaSample;  // -1: no alpha plane
    } cases[] = {
        {"grey, unspecified and unassociated alpha", 1, {0, 2}, 2},
        {"grey, two unspecified samples", 1, {0, 0}, -1},
        {"min-is-white, associated alpha first", 0, {1, 0}, 1},
        {"palette, unassociated alpha first", 3, {2, 0}, 1},
    };
    // Three samples a pixel: (10, 200, 30), (250, 40, 99).
    const Bytes data = {10, 200, 30, 250, 40, 99};
    std::vector<uint16_t> map(3 * 256);
    for (int i = 0; i < 256; ++i) {
        map[i] = static_cast<uint16_t>(i * 257);                // red = index
        map[256 + i] = static_cast<uint16_t>((255 - i) * 257);  // green = 255 - index
        map[512 + i] = static_cast<uint16_t>((i / 2) * 257);    // blue = index / 2
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TinyTiff t(2, 1);
        t.Short(258, {8, 8, 8}).Short(259, 1).Short(262, c.photometric).Short(277, 3);
        t.Short(kExtraSamples, c.extra);
        if (c.photometric == 3) t.Short(320, map);
        t.Data(data);
        RasterImage img;
        ASSERT_TRUE(DecodeBytes(t.Build(), kFormatTiff, &img)) << img.GetLastError();
        // The first sample is the pixel, not an L*a*b* colour.
        ASSERT_EQ(img.GetBpp(), 8u);
        EXPECT_EQ(img.GetPixelIndex(0, 0), 10);
        EXPECT_EQ(img.GetPixelIndex(1, 0), 250);
        const RgbQuad p = img.GetPixelColor(1, 0, false);
        if (c.photometric == 3) {
            EXPECT_EQ(p.red, 250);
            EXPECT_EQ(p.green, 5);
            EXPECT_EQ(p.blue, 125);
        } else {
            EXPECT_EQ(p.red, c.photometric == 0 ? 5 : 250);
        }
        ASSERT_EQ(img.HasAlpha(), c.alphaSample >= 0);
        if (c.alphaSample >= 0) {
            EXPECT_EQ(img.AlphaGet(0, 0), data[c.alphaSample]);
            EXPECT_EQ(img.AlphaGet(1, 0), data[3 + c.alphaSample]);
        }
    }

    // CIE L*a*b* with three samples is still a colour page: L 255 with
    // a = b = 0 is white.
    TinyTiff lab(1, 1);
    lab.Short(258, {8, 8, 8}).Short(259, 1).Short(262, 8).Short(277, 3).Data({255, 0, 0});
    RasterImage white;
    ASSERT_TRUE(DecodeBytes(lab.Build(), kFormatTiff, &white));
    ASSERT_EQ(white.GetBpp(), 24u);
    EXPECT_GE(white.GetPixelColor(0, 0).green, 254);
}

TEST(TiffSampleFormats, LinearCameraRgbIsReadAsRgb) {
    TinyTiff t(2, 1);
    t.Short(258, {8, 8, 8}).Short(259, 1).Short(262, 34892).Short(277, 3);
    t.Data({10, 20, 30, 200, 150, 100});
    RasterImage img;
    ASSERT_TRUE(DecodeBytes(t.Build(), kFormatTiff, &img)) << img.GetLastError();
    ASSERT_EQ(img.GetBpp(), 24u);
    const RgbQuad a = img.GetPixelColor(0, 0), b = img.GetPixelColor(1, 0);
    EXPECT_EQ(a.red, 10);
    EXPECT_EQ(a.green, 20);
    EXPECT_EQ(a.blue, 30);
    EXPECT_EQ(b.red, 200);
    EXPECT_EQ(b.blue, 100);
}

TEST(TiffSampleFormats, LyingFloatAndSignedFilesAreRefusedCleanly) {
    // Floating point in a size that has none.
    for (uint16_t bps : {8, 12, 48}) {
        SCOPED_TRACE(bps);
        RasterImage img;
        EXPECT_FALSE(DecodeBytes(GreyRow(2, bps, 3, 1, Bytes(12, 0x3F)), kFormatTiff, &img));
        EXPECT_STREQ(img.GetLastError(), "Unsupported TIFF floating-point sample size");
    }
    // A float page of 4 rows whose only strip holds one and a half: libtiff
    // refuses the short strip, so the page ends there, all black.
    {
        TinyTiff t(2, 4);
        t.Short(258, 32).Short(259, 1).Short(262, 1).Short(277, 1).Short(kSampleFormat, 3);
        t.Data(Raw(std::vector<float>{1.0f, 0.5f, 1.0f}));
        RasterImage img;
        ASSERT_TRUE(DecodeBytes(t.Build(), kFormatTiff, &img)) << img.GetLastError();
        ASSERT_EQ(img.GetBpp(), 8u);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 2; ++x) EXPECT_EQ(img.GetPixelIndex(x, y), 0);
    }
    // Sizes past the memory limit are refused before anything is taken.
    {
        TinyTiff t(100000, 100000);
        t.Short(258, 64).Short(259, 1).Short(262, 1).Short(277, 1).Short(kSampleFormat, 3);
        t.Data(Bytes(64, 0));
        RasterImage img;
        EXPECT_FALSE(DecodeBytes(t.Build(), kFormatTiff, &img));
        EXPECT_STREQ(img.GetLastError(), "TiffImage can't create image");
    }
    // Damage of every kind to small pages of each new layout.
    std::vector<Bytes> seeds = {
        GreyRow(12, 32, 3, 1, Raw(kFloats)),
        GreyRow(6, 16, 2, 1, Raw(std::vector<int16_t>{-32768, -1, 0, 32767, 256, -256})),
        GreyRow(3, 16, 3, 0, Raw(std::vector<uint16_t>{0x3C00, 0x3800, 0x7E00})),
        GreyRow(2, 64, 1, 1, Raw(std::vector<uint64_t>{1, ~0ull})),
        GreyRow(2, 24, 3, 1, Raw24({0x3F0000, 0x3E8000})),
    };
    {
        TinyTiff t(2, 1);
        t.Short(258, {8, 8, 8}).Short(259, 1).Short(262, 1).Short(277, 3);
        t.Short(kExtraSamples, {0, 2}).Data({10, 200, 30, 250, 40, 99});
        seeds.push_back(t.Build());
        TinyTiff s(2, 1);
        s.Short(258, {16, 16, 16, 16}).Short(259, 1).Short(262, 2).Short(277, 4).Short(kPlanar, 2);
        s.Short(kSampleFormat, {3, 3, 3, 3});
        s.Planes({Raw(std::vector<uint16_t>{0x3C00, 0}), Raw(std::vector<uint16_t>{0x3800, 0}),
                  Raw(std::vector<uint16_t>{0, 0x3C00}),
                  Raw(std::vector<uint16_t>{0x3C00, 0x3800})});
        seeds.push_back(s.Build());
    }
    uint32_t seed = 900;
    for (const Bytes& valid : seeds) {
        SCOPED_TRACE(seed);
        ASSERT_TRUE(DecodeBytes(valid, kFormatTiff));
        ForEachMutation(valid, seed++, [](const Bytes& m) {
            RasterImage img;
            if (DecodeBytes(m, kFormatTiff, &img)) {
                EXPECT_TRUE(PaddingIsZero(img));
            }
        });
    }
}

}  // namespace
}  // namespace sheetmend::testing
