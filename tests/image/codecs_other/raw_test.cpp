// Camera RAW through LibRaw: a small linear DNG written here with libtiff
// (a raw file made from pixels we know) is developed with its colours kept;
// saving is refused; and ordinary files, including ones whose size alone
// matches an old camera's headerless raw dump, are not taken for raw files.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <string>
#include <vector>

#include "image/raster_image.h"
#include "image/streams.h"
#include "tests/support/external_tools.h"
#include "tests/support/mutation.h"

namespace sheetmend::testing {
namespace {

// A LinearRaw DNG of 16-bit red, green, blue samples whose camera space is
// linear sRGB (the colour matrix is the XYZ to linear sRGB matrix) and whose
// white balance is neutral: the left half is saturated red at a quarter of
// full scale, the right half a neutral grey at a quarter.
bool WriteLinearDng(const std::string& path, uint32_t w, uint32_t h) {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) return false;
    const uint8_t dngVersion[4] = {1, 4, 0, 0};
    const uint8_t backward[4] = {1, 1, 0, 0};
    const float xyzToSrgb[9] = {3.2406f, -1.5372f, -0.4986f, -0.9689f, 1.8758f,
                                0.0415f, 0.0557f,  -0.2040f, 1.0570f};
    const float neutral[3] = {1.0f, 1.0f, 1.0f};
    const uint16_t illuminant = 21;  // D65
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, 34892);  // LinearRaw
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, h);
    TIFFSetField(tif, TIFFTAG_MAKE, "Sheetmend");
    TIFFSetField(tif, TIFFTAG_MODEL, "Test Camera");
    TIFFSetField(tif, TIFFTAG_DNGVERSION, dngVersion);
    TIFFSetField(tif, TIFFTAG_DNGBACKWARDVERSION, backward);
    TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, "Sheetmend Test Camera");
    TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, xyzToSrgb);
    TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
    TIFFSetField(tif, TIFFTAG_CALIBRATIONILLUMINANT1, illuminant);
    std::vector<uint16_t> row(static_cast<size_t>(w) * 3);
    bool ok = true;
    for (uint32_t y = 0; y < h && ok; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const bool red = x < w / 2;
            row[3 * x] = 16384;
            row[3 * x + 1] = red ? 0 : 16384;
            row[3 * x + 2] = red ? 0 : 16384;
        }
        ok = TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

TEST(RawCodec, DevelopsALinearDng) {
    ScratchDir dir;
    const std::string file = dir.File("test.dng");
    ASSERT_TRUE(WriteLinearDng(file, 32, 24));
    RasterImage img;
    img.SetXDpi(300);
    ASSERT_TRUE(DecodeBytes(ReadFileBytes(file), kFormatRaw, &img)) << img.GetLastError();
    ASSERT_EQ(img.GetWidth(), 32u);
    ASSERT_EQ(img.GetHeight(), 24u);
    EXPECT_EQ(img.GetBpp(), 24u);
    EXPECT_EQ(img.GetType(), kFormatRaw);
    EXPECT_EQ(img.GetXDpi(), 96);
    EXPECT_EQ(img.GetYDpi(), 96);
    // Away from the edge between the halves (demosaicing and colour
    // conversion may blur it): red stays red, grey stays neutral.
    const RgbQuad red = img.GetPixelColor(4, 12, false);
    EXPECT_GT(red.red, 100);
    EXPECT_LT(red.green, 30);
    EXPECT_LT(red.blue, 30);
    const RgbQuad grey = img.GetPixelColor(28, 12, false);
    EXPECT_GT(grey.red, 60);
    EXPECT_NEAR(grey.red, grey.green, 6);
    EXPECT_NEAR(grey.green, grey.blue, 6);
    // Every row is developed the same way: top and bottom agree.
    const RgbQuad top = img.GetPixelColor(28, 22, false);
    EXPECT_NEAR(top.red, grey.red, 2);
}

TEST(RawCodec, SavingIsRefused) {
    RasterImage img(4, 4, 24);
    MemoryStream out;
    out.Open();
    EXPECT_FALSE(img.Encode(&out, kFormatRaw));
    EXPECT_STREQ(img.GetLastError(), "Save RAW not supported");
}

TEST(RawCodec, OrdinaryFilesAreNotRaw) {
    // 62464 and 307200 bytes are sizes LibRaw knows from headerless dumps of
    // old cameras; a text file of such a size is still not a raw file.
    for (size_t size : {size_t{0}, size_t{1}, size_t{100}, size_t{62464}, size_t{307200}}) {
        Bytes text(size, 'a');
        for (size_t i = 0; i < size; i += 61) text[i] = '\n';
        RasterImage img;
        EXPECT_FALSE(DecodeBytes(text, kFormatRaw, &img)) << size;
        EXPECT_FALSE(DecodeBytes(text, 0)) << size;
    }
    // A truncated DNG is refused as well.
    ScratchDir dir;
    ASSERT_TRUE(WriteLinearDng(dir.File("t.dng"), 32, 24));
    Bytes dng = ReadFileBytes(dir.File("t.dng"));
    dng.resize(dng.size() / 3);
    EXPECT_FALSE(DecodeBytes(dng, kFormatRaw));
}

}  // namespace
}  // namespace sheetmend::testing
