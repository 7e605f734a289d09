// Automatic detection (code 0) finds each of these formats by content and
// sets the image's type to it; files without a signature (TGA, WBMP, RAW) are
// tried last, so text and truncated files must not be taken for them.
#include <gtest/gtest.h>

#include <string>

#include "image/raster_image.h"
#include "image/streams.h"
#include "tests/support/external_tools.h"
#include "tests/support/mutation.h"
#include "tests/support/test_images.h"

namespace sheetmend::testing {
namespace {

RasterImage Grey(uint32_t w, uint32_t h) {
    RasterImage img = RandomImage(w, h, 8, 77);
    img.SetGrayPalette();
    return img;
}

TEST(OtherCodecDetection, FindsEachFormatByContent) {
    RasterImage rgb = RandomImage(19, 11, 24, 1);
    RasterImage pal = RandomImage(19, 11, 8, 2);
    RasterImage grey = Grey(19, 11);
    RasterImage bw = RandomImage(19, 11, 1, 3);
    bw.SetPaletteColor(0, 0, 0, 0);
    bw.SetPaletteColor(1, 255, 255, 255);
    const struct {
        RasterImage* image;
        uint32_t code;
    } cases[] = {
        {&rgb, kFormatTga},  {&pal, kFormatTga}, {&rgb, kFormatPcx}, {&bw, kFormatPcx},
        {&bw, kFormatWbmp},  {&rgb, kFormatMng}, {&rgb, kFormatJp2}, {&grey, kFormatJpc},
        {&grey, kFormatPgx}, {&rgb, kFormatPnm}, {&bw, kFormatPnm},  {&rgb, kFormatRas},
        {&grey, kFormatRas},
    };
    for (const auto& c : cases) {
        RasterImage found;
        ASSERT_TRUE(DecodeBytes(EncodeExpectingSuccess(*c.image, c.code), 0, &found))
            << "format " << c.code << ", " << c.image->GetBpp()
            << " bits: " << found.GetLastError();
        EXPECT_EQ(found.GetType(), c.code) << c.image->GetBpp() << " bits";
        EXPECT_TRUE(SamePixels(*c.image, found)) << "format " << c.code;
    }
}

TEST(OtherCodecDetection, FindsImageMagickFiles) {
    ScratchDir dir;
    const std::string src = dir.File("src.ppm");
    ASSERT_EQ(0, RunShell(std::string(kImageMagick) +
                          " -size 21x13 -seed 3 plasma:fractal -depth 8 " + src));
    const struct {
        const char* name;
        const char* options;
        uint32_t code;
    } cases[] = {
        {"a.tga", "-compress RLE", kFormatTga},
        {"a.pcx", "", kFormatPcx},
        {"a.wbmp", "-monochrome", kFormatWbmp},
        {"a.mng", "", kFormatMng},
        {"a.jng", "", kFormatMng},
        {"a.jp2", "", kFormatJp2},
        {"a.j2k", "", kFormatJpc},
        {"a.pgx", "-colorspace gray", kFormatPgx},
        {"a.pbm", "-monochrome -compress none", kFormatPnm},
        {"a.ras", "", kFormatRas},
    };
    for (const auto& c : cases) {
        const std::string file = dir.File(c.name);
        ASSERT_EQ(0,
                  RunShell(std::string(kImageMagick) + " " + src + " " + c.options + " " + file));
        RasterImage img;
        ASSERT_TRUE(img.Load(file.c_str(), 0)) << c.name << ": " << img.GetLastError();
        EXPECT_EQ(img.GetType(), c.code) << c.name;
    }
}

TEST(OtherCodecDetection, TextAndTruncatedFilesAreNotTakenForSignaturelessFormats) {
    const std::string text = "This is a plain text file.\nIt has a few lines\nand nothing else.\n";
    const Bytes textBytes(text.begin(), text.end());
    for (uint32_t code : {0u, uint32_t{kFormatTga}, uint32_t{kFormatWbmp}, uint32_t{kFormatRaw}}) {
        RasterImage img;
        EXPECT_FALSE(DecodeBytes(textBytes, code, &img)) << code;
    }
    RasterImage img;
    EXPECT_FALSE(DecodeBytes(textBytes, 0, &img));
    EXPECT_STREQ(img.GetLastError(), "Decode: Unknown or wrong format");

    // Every proper prefix of a TGA or WBMP file is refused by its decoder and
    // is not taken for another of these signatureless formats.
    RasterImage rgb = RandomImage(9, 7, 24, 4);
    RasterImage bw = RandomImage(30, 7, 1, 5);
    const Bytes files[] = {EncodeExpectingSuccess(rgb, kFormatTga), EncodeExpectingSuccess(bw, kFormatWbmp)};
    for (const Bytes& file : files) {
        for (size_t n = 0; n < file.size(); ++n) {
            const Bytes cut(file.begin(), file.begin() + static_cast<ptrdiff_t>(n));
            for (uint32_t code :
                 {uint32_t{kFormatTga}, uint32_t{kFormatWbmp}, uint32_t{kFormatRaw}}) {
                EXPECT_FALSE(DecodeBytes(cut, code)) << n << " bytes as " << code;
            }
        }
    }
    // An all-zero block is neither a TGA (type 0) nor a WBMP (zero width).
    EXPECT_FALSE(DecodeBytes(Bytes(4096, 0), 0));
}

}  // namespace
}  // namespace sheetmend::testing
