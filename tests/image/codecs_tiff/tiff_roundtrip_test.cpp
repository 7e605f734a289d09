// Writing TIFF files and reading them back: exact pixels at every depth, the
// tags and compressions chosen (checked with libtiff's tiffinfo), the 1-bit
// palette convention, multi-page writing and the codec's refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "image/codecs/tiff_codec.h"
#include "image/raster_image.h"
#include "image/streams.h"
#include "tests/image/codecs_tiff/tiff_test_support.h"
#include "tests/support/external_tools.h"
#include "tests/support/test_images.h"

namespace sheetmend::testing {
namespace {

RasterImage BlackOnWhite(uint32_t width, uint32_t height, bool whiteFirst) {
    RasterImage img(width, height, 1);
    img.SetPaletteColor(0, whiteFirst ? RgbQuad{255, 255, 255, 0} : RgbQuad{0, 0, 0, 0});
    img.SetPaletteColor(1, whiteFirst ? RgbQuad{0, 0, 0, 0} : RgbQuad{255, 255, 255, 0});
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const bool ink = KnownInk(x, y, width, height);
            img.SetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(height - 1 - y),
                              (ink == whiteFirst) ? 1 : 0);
        }
    return img;
}

RasterImage GreyRamp(uint32_t width, uint32_t height) {
    RasterImage img(width, height, 8);
    img.SetGrayPalette();
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            img.SetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y),
                              static_cast<uint8_t>((x * 5 + y * 3) & 0xFF));
    return img;
}

// Decodes one page with the codec itself, which reports the page count.
bool DecodePage(const std::vector<uint8_t>& file, int32_t frame, TiffImage* out) {
    std::vector<uint8_t> copy = file;
    MemoryStream stream(copy.data(), copy.size());
    out->SetFrame(frame);
    return out->Decode(&stream);
}

bool LoadPage(const std::string& path, int32_t frame, TiffImage* out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out->SetFrame(frame);
    const bool ok = out->Decode(f);
    std::fclose(f);
    return ok;
}

::testing::AssertionResult SamePalette(const RasterImage& a, const RasterImage& b) {
    if (a.GetNumColors() != b.GetNumColors())
        return ::testing::AssertionFailure() << a.GetNumColors() << " vs " << b.GetNumColors();
    for (uint32_t i = 0; i < a.GetNumColors(); ++i) {
        const RgbQuad ca = a.GetPaletteColor(static_cast<uint8_t>(i));
        const RgbQuad cb = b.GetPaletteColor(static_cast<uint8_t>(i));
        if (ca.red != cb.red || ca.green != cb.green || ca.blue != cb.blue)
            return ::testing::AssertionFailure() << "palette entry " << i;
    }
    return ::testing::AssertionSuccess();
}

void FillAlpha(RasterImage& img) {
    ASSERT_TRUE(img.AlphaCreate());
    for (uint32_t y = 0; y < img.GetHeight(); ++y)
        for (uint32_t x = 0; x < img.GetWidth(); ++x)
            img.AlphaSet(static_cast<int32_t>(x), static_cast<int32_t>(y),
                         static_cast<uint8_t>((x * 37 + y * 11) & 0xFF));
}

TEST(TiffRoundTrip, EveryDepthComesBackPixelForPixel) {
    // Odd sizes put pixels into the last partly used byte of each row.
    struct Case {
        uint32_t bpp, width, height;
    } cases[] = {{1, 37, 23}, {1, 64, 9}, {4, 29, 17}, {8, 33, 21}, {24, 31, 19}, {24, 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bpp);
        RasterImage original = c.bpp == 1 ? BlackOnWhite(c.width, c.height, true)
                                          : RandomImage(c.width, c.height, c.bpp, 7 + c.bpp);
        original.SetXDpi(300);
        original.SetYDpi(150);
        const std::vector<uint8_t> file = EncodeTiff(original);
        RasterImage back;
        ASSERT_TRUE(DecodeTiff(file, &back)) << back.GetLastError();
        EXPECT_TRUE(SamePixels(original, back));
        if (c.bpp < 24) {
            EXPECT_TRUE(SamePalette(original, back));
        }
        EXPECT_TRUE(PaddingIsZero(back));
        EXPECT_EQ(back.GetXDpi(), 300);
        EXPECT_EQ(back.GetYDpi(), 150);
        EXPECT_EQ(back.GetType(), 6u);
        EXPECT_FALSE(back.HasAlpha());
    }
}

TEST(TiffRoundTrip, AlphaPlanesComeBackWithTheirPixels) {
    for (uint32_t bpp : {8u, 24u}) {
        SCOPED_TRACE(bpp);
        RasterImage original = bpp == 8 ? GreyRamp(27, 13) : RandomImage(27, 13, 24, 3);
        FillAlpha(original);
        const std::vector<uint8_t> file = EncodeTiff(original);
        RasterImage back;
        ASSERT_TRUE(DecodeTiff(file, &back)) << back.GetLastError();
        EXPECT_TRUE(SamePixels(original, back));
        ASSERT_TRUE(back.HasAlpha());
        EXPECT_EQ(0, std::memcmp(original.GetAlphaPlane(), back.GetAlphaPlane(), 27 * 13));

        // Other readers see the same alpha: ImageMagick's alpha channel.
        ScratchDir dir;
        const std::string path = dir.File("alpha.tif");
        ASSERT_TRUE(WriteFileBytes(path, file));
        std::string pgm;
        ASSERT_EQ(0, RunShell(std::string(kImageMagick) + " '" + path +
                                  "' -alpha extract -depth 8 pgm:- 2>/dev/null",
                              &pgm));
        Pnm pnm;
        ASSERT_TRUE(ParsePnm(pgm, &pnm));
        ASSERT_EQ(pnm.width, 27);
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 27; ++x)
                ASSERT_EQ(pnm.samples[y * 27 + x], original.AlphaGet(x, 12 - y)) << x << "," << y;
    }
}

TEST(TiffRoundTrip, DepthDecidesPhotometricAndCompression) {
    ScratchDir dir;
    struct Case {
        RasterImage image;
        const char* name;
        std::vector<std::string> expected;
    };
    RasterImage palette8 = RandomImage(20, 10, 8, 11);
    std::vector<Case> cases;
    cases.push_back({BlackOnWhite(40, 30, true),
                     "bw.tif",
                     {"Compression Scheme: CCITT Group 4", "min-is-white", "Bits/Sample: 1",
                      "Rows/Strip: 30"}});
    cases.push_back({GreyRamp(40, 30),
                     "grey.tif",
                     {"Compression Scheme: LZW", "min-is-black",
                      "Predictor: horizontal differencing", "Bits/Sample: 8"}});
    cases.push_back(
        {palette8, "palette.tif", {"Compression Scheme: LZW", "palette color", "Predictor"}});
    cases.push_back({RandomImage(20, 10, 4, 5),
                     "four.tif",
                     {"Compression Scheme: LZW", "palette color", "Bits/Sample: 4"}});
    cases.push_back(
        {RandomImage(20, 10, 24, 5),
         "rgb.tif",
         {"Compression Scheme: PackBits", "RGB color", "Samples/Pixel: 3",
          "Resolution: 96, 96 pixels/inch", "FillOrder: lsb-to-msb",
          "Orientation: row 0 top, col 0 lhs", "Planar Configuration: single image plane"}});
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File(c.name);
        ASSERT_TRUE(WriteFileBytes(path, EncodeTiff(c.image)));
        const std::string info = TiffInfo(path);
        for (const std::string& e : c.expected)
            EXPECT_NE(info.find(e), std::string::npos) << e << "\n" << info;
        EXPECT_EQ(info.find("Page Number"), std::string::npos)
            << "a single page carries no page number";
        // Every such file reads back in ImageMagick as the picture we wrote.
        Pnm pnm;
        ASSERT_TRUE(DecodeWithImageMagick(path, &pnm));
        EXPECT_TRUE(MatchesPnm(c.image, pnm));
    }
}

TEST(TiffRoundTrip, CodecOptionChoosesCompressionAndDecodingKeepsIt) {
    ScratchDir dir;
    struct Case {
        uint32_t bpp, compression;
        const char* expected;
        int tolerance;
    } cases[] = {
        {1, 3, "Compression Scheme: CCITT Group 3", 0},
        {1, 1, "Compression Scheme: None", 0},
        {1, 32773, "Compression Scheme: PackBits", 0},
        {8, 8, "Compression Scheme: AdobeDeflate", 0},
        {8, 7, "Compression Scheme: JPEG", -1},
        {24, 5, "Compression Scheme: LZW", 0},
        {24, 7, "Compression Scheme: JPEG", -1},
        {24, 32946, "Compression Scheme: Deflate", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bpp) + "/" + std::to_string(c.compression));
        RasterImage img = c.bpp == 1 ? BlackOnWhite(45, 21, true)
                                     : (c.bpp == 8 ? GreyRamp(45, 21) : KnownImage(45, 21));
        img.SetCodecOption(c.compression, kFormatTiff);
        const std::string path = dir.File("c.tif");
        ASSERT_TRUE(WriteFileBytes(path, EncodeTiff(img)));
        const std::string info = TiffInfo(path);
        EXPECT_NE(info.find(c.expected), std::string::npos) << info;
        if (c.compression == 3) {
            EXPECT_NE(info.find("Group 3 Options: EOL padding"), std::string::npos) << info;
        }
        if (c.compression == 7) {
            EXPECT_NE(info.find("Rows/Strip: 24"), std::string::npos) << info;
        }
        RasterImage back;
        ASSERT_TRUE(back.Load(path.c_str(), kFormatTiff)) << back.GetLastError();
        EXPECT_EQ(back.GetCodecOption(kFormatTiff), c.compression);
        Pnm pnm;
        ASSERT_TRUE(DecodeWithImageMagick(path, &pnm));
        EXPECT_TRUE(MatchesPnm(back, pnm, c.compression == 7 ? 1 : 0));
        // Lossy files are only compared with the other decoder.
        if (c.tolerance >= 0) {
            EXPECT_TRUE(MatchesPnm(img, pnm, c.tolerance));
        }
    }
}

TEST(TiffRoundTrip, JpegQualityFollowsTheImage) {
    RasterImage img = KnownImage(64, 64);
    img.SetCodecOption(7, kFormatTiff);
    img.SetJpegQuality(95);
    const size_t fine = EncodeTiff(img).size();
    img.SetJpegQuality(20);
    const size_t coarse = EncodeTiff(img).size();
    EXPECT_LT(coarse * 2, fine);
}

TEST(TiffRoundTrip, BlackFirstPaletteIsSwappedAndInvertedInTheCallersImage) {
    const uint32_t w = 45, h = 20;
    RasterImage blackFirst = BlackOnWhite(w, h, false);
    const RasterImage before(blackFirst);
    ScratchDir dir;
    const std::string path = dir.File("swap.tif");
    ASSERT_TRUE(blackFirst.Save(path.c_str(), kFormatTiff)) << blackFirst.GetLastError();

    // The caller's image changed: white is entry 0 now and every bit flipped,
    // but every pixel still shows the same colour and the padding stayed zero.
    EXPECT_EQ(blackFirst.GetPaletteColor(0), (RgbQuad{255, 255, 255, 0}));
    EXPECT_EQ(blackFirst.GetPaletteColor(1), (RgbQuad{0, 0, 0, 0}));
    for (int32_t y = 0; y < static_cast<int32_t>(h); ++y)
        for (int32_t x = 0; x < static_cast<int32_t>(w); ++x) {
            ASSERT_NE(blackFirst.GetPixelIndex(x, y), before.GetPixelIndex(x, y));
            ASSERT_EQ(blackFirst.GetPixelColor(x, y), before.GetPixelColor(x, y));
        }
    EXPECT_TRUE(PaddingIsZero(blackFirst));
    // Colour lookups made before the save do not survive it.
    RasterImage cached = BlackOnWhite(8, 8, false);
    cached.SetPixelColor(0, 0, RgbQuad{0, 0, 0, 0});
    ASSERT_TRUE(cached.Save(dir.File("cached.tif").c_str(), kFormatTiff));
    cached.SetPixelColor(1, 0, RgbQuad{0, 0, 0, 0});
    EXPECT_EQ(cached.GetPixelColor(1, 0), (RgbQuad{0, 0, 0, 0}));

    Pnm pnm;
    ASSERT_TRUE(DecodeWithImageMagick(path, &pnm));
    EXPECT_TRUE(MatchesPnm(before, pnm));
    EXPECT_NE(TiffInfo(path).find("min-is-white"), std::string::npos);

    // White first is already the file's convention: nothing is touched.
    RasterImage whiteFirst = BlackOnWhite(w, h, true);
    const std::vector<uint8_t> dib(whiteFirst.GetDib(),
                                   whiteFirst.GetDib() + whiteFirst.GetDibSize());
    ASSERT_TRUE(whiteFirst.Save(path.c_str(), kFormatTiff));
    EXPECT_EQ(0, std::memcmp(dib.data(), whiteFirst.GetDib(), dib.size()));
    ASSERT_TRUE(DecodeWithImageMagick(path, &pnm));
    EXPECT_TRUE(MatchesPnm(whiteFirst, pnm));
}

TEST(TiffRoundTrip, PagesWrittenOneByOneOrFromAList) {
    RasterImage a = BlackOnWhite(30, 20, true);
    RasterImage b = GreyRamp(25, 15);
    RasterImage c = KnownImage(17, 11);
    ScratchDir dir;

    // One page per call with append; the last call without it closes the file.
    {
        MemoryStream stream;
        stream.Open();
        TiffImage writer;
        writer.SetOutputPageCount(3);
        for (RasterImage* page : {&a, &b, &c}) {
            writer.Ghost(page);
            ASSERT_TRUE(writer.Encode(&stream, page != &c)) << writer.GetLastError();
        }
        EXPECT_FALSE(writer.IsWritingPages());
        const std::vector<uint8_t> file(stream.GetBuffer(false),
                                        stream.GetBuffer(false) + stream.Size());
        const std::string path = dir.File("calls.tif");
        ASSERT_TRUE(WriteFileBytes(path, file));
        const std::string info = TiffInfo(path);
        EXPECT_NE(info.find("Page Number: 0-3"), std::string::npos) << info;
        EXPECT_NE(info.find("Page Number: 2-3"), std::string::npos) << info;
        EXPECT_NE(info.find("PageName: Page 3"), std::string::npos) << info;
        EXPECT_NE(info.find("Subfile Type: multi-page document"), std::string::npos) << info;
        int32_t frame = 0;
        for (RasterImage* page : {&a, &b, &c}) {
            TiffImage back;
            ASSERT_TRUE(DecodePage(file, frame++, &back)) << back.GetLastError();
            EXPECT_EQ(back.GetNumFrames(), 3);
            EXPECT_TRUE(SamePixels(*page, back));
        }
    }
    // The list form, through a FILE. libtiff reads back the previous
    // directory to link the next one, so the file is opened for update.
    {
        const std::string path = dir.File("list.tif");
        FILE* f = std::fopen(path.c_str(), "w+b");
        ASSERT_NE(f, nullptr);
        RasterImage* pages[] = {&c, &a};
        TiffImage writer;
        ASSERT_TRUE(writer.Encode(f, pages, 2)) << writer.GetLastError();
        std::fclose(f);
        const std::string info = TiffInfo(path);
        EXPECT_NE(info.find("Page Number: 1-2"), std::string::npos) << info;
        TiffImage back;
        ASSERT_TRUE(LoadPage(path, 1, &back)) << back.GetLastError();
        EXPECT_EQ(back.GetNumFrames(), 2);
        EXPECT_TRUE(SamePixels(a, back));
    }
    // A file left open by append is finished when the writer goes away.
    {
        const std::string path = dir.File("open.tif");
        FILE* f = std::fopen(path.c_str(), "w+b");
        {
            TiffImage writer;
            writer.Ghost(&b);
            ASSERT_TRUE(writer.Encode(f, true));
            ASSERT_TRUE(writer.Encode(f, true));
            EXPECT_TRUE(writer.IsWritingPages());
        }
        std::fclose(f);
        TiffImage back;
        ASSERT_TRUE(LoadPage(path, 0, &back)) << back.GetLastError();
        EXPECT_EQ(back.GetNumFrames(), 2);
        EXPECT_TRUE(SamePixels(b, back));
    }
    // A write-only file takes one page but cannot link a second.
    {
        const std::string path = dir.File("writeonly.tif");
        FILE* f = std::fopen(path.c_str(), "wb");
        RasterImage* pages[] = {&a, &b};
        TiffImage writer;
        EXPECT_FALSE(writer.Encode(f, pages, 2));
        EXPECT_STREQ(writer.GetLastError(), "Error saving TIFF file");
        std::fclose(f);
    }
}

TEST(TiffRoundTrip, WriterRefusalsSayWhy) {
    TiffImage writer;
    MemoryStream stream;
    stream.Open();
    EXPECT_FALSE(writer.Encode(static_cast<ByteStream*>(nullptr)));
    EXPECT_STREQ(writer.GetLastError(), "null file handler");
    EXPECT_FALSE(writer.Encode(&stream));
    EXPECT_STREQ(writer.GetLastError(), "null image!!!");

    RasterImage good = GreyRamp(4, 4), empty;
    RasterImage* list[] = {&good, nullptr};
    EXPECT_FALSE(writer.Encode(static_cast<ByteStream*>(nullptr), list, 1));
    EXPECT_STREQ(writer.GetLastError(), "invalid file pointer");
    EXPECT_FALSE(writer.Encode(&stream, list, 0));
    EXPECT_STREQ(writer.GetLastError(), "multipage TIFF, no images!");
    EXPECT_FALSE(writer.Encode(&stream, nullptr, 2));
    EXPECT_STREQ(writer.GetLastError(), "multipage TIFF, no images!");
    EXPECT_FALSE(writer.Encode(&stream, list, 2));
    EXPECT_STREQ(writer.GetLastError(), "Bad image pointer");
    list[1] = &empty;
    EXPECT_FALSE(writer.Encode(&stream, list, 2));
    EXPECT_STREQ(writer.GetLastError(), "Empty image");
    EXPECT_EQ(stream.Size(), 0) << "nothing is written when a page is refused";

    // A stream holding something that is not TIFF cannot take pages.
    MemoryStream text;
    text.Open();
    text.Write("hello, world", 1, 12);
    text.Seek(0, SEEK_SET);
    TiffImage page;
    page.Ghost(&good);
    EXPECT_FALSE(page.Encode(&text));
    EXPECT_STREQ(page.GetLastError(), "initialization fail");

    // A compression libtiff cannot apply to the depth fails the page.
    RasterImage grey = GreyRamp(8, 8);
    grey.SetCodecOption(4, kFormatTiff);
    MemoryStream out;
    out.Open();
    EXPECT_FALSE(grey.Encode(&out, kFormatTiff));
    EXPECT_STREQ(grey.GetLastError(), "Error saving TIFF file");
}

TEST(TiffRoundTrip, AppendingToAnExistingFileAddsPages) {
    RasterImage a = GreyRamp(10, 10), b = KnownImage(12, 7);
    MemoryStream stream;
    stream.Open();
    ASSERT_TRUE(a.Encode(&stream, kFormatTiff));
    stream.Seek(0, SEEK_SET);
    TiffImage writer;
    writer.Ghost(&b);
    ASSERT_TRUE(writer.Encode(&stream)) << writer.GetLastError();
    std::vector<uint8_t> file(stream.GetBuffer(false), stream.GetBuffer(false) + stream.Size());
    TiffImage back;
    ASSERT_TRUE(DecodePage(file, 1, &back)) << back.GetLastError();
    EXPECT_EQ(back.GetNumFrames(), 2);
    EXPECT_TRUE(SamePixels(b, back));
}

TEST(TiffRoundTrip, CopiesTakeTheImageButNotTheOpenFile) {
    RasterImage grey = GreyRamp(6, 5);
    MemoryStream stream;
    stream.Open();
    TiffImage writer;
    writer.Ghost(&grey);
    writer.SetOutputPageCount(4);
    ASSERT_TRUE(writer.Encode(&stream, true));
    TiffImage copy(writer);
    EXPECT_FALSE(copy.IsWritingPages());
    EXPECT_EQ(copy.GetOutputPageCount(), 4);
    EXPECT_TRUE(SamePixels(copy, grey));
    TiffImage assigned;
    assigned = writer;
    EXPECT_EQ(assigned.GetOutputPageCount(), 4);
    EXPECT_TRUE(writer.IsWritingPages());
    ASSERT_TRUE(writer.Encode(&stream, false));
    std::vector<uint8_t> file(stream.GetBuffer(false), stream.GetBuffer(false) + stream.Size());
    TiffImage back;
    ASSERT_TRUE(DecodePage(file, 0, &back));
    EXPECT_EQ(back.GetNumFrames(), 2);
}

TEST(TiffDecode, RefusalsAndShortcutsSayWhy) {
    RasterImage page = GreyRamp(9, 7);
    const std::vector<uint8_t> file = EncodeTiff(page);

    RasterImage missing;
    missing.SetFrame(3);
    EXPECT_FALSE(DecodeTiff(file, &missing));
    EXPECT_STREQ(missing.GetLastError(), "Error: page not present in TIFF file");
    EXPECT_EQ(missing.GetNumFrames(), 1)
        << "the page count is learnt even when the page is missing";

    RasterImage sizeOnly;
    sizeOnly.SetEscape(-1);
    EXPECT_TRUE(DecodeTiff(file, &sizeOnly));
    EXPECT_STREQ(sizeOnly.GetLastError(), "output dimensions returned");
    EXPECT_EQ(sizeOnly.GetWidth(), 9u);
    EXPECT_EQ(sizeOnly.GetHeight(), 7u);
    EXPECT_FALSE(sizeOnly.IsValid());

    RasterImage cancelled;
    cancelled.SetEscape(1);
    EXPECT_FALSE(DecodeTiff(file, &cancelled));
    EXPECT_STREQ(cancelled.GetLastError(), "Cancelled");

    RasterImage text;
    const std::string hello = "hello, this is not a picture at all\n";
    EXPECT_FALSE(DecodeTiff(std::vector<uint8_t>(hello.begin(), hello.end()), &text));
    EXPECT_STREQ(text.GetLastError(), "Error encountered while opening TIFF file");

    TiffImage codec;
    EXPECT_FALSE(codec.Decode(static_cast<ByteStream*>(nullptr)));
    EXPECT_STREQ(codec.GetLastError(), "null file handler");
}

TEST(TiffDecode, FileStartsWhereTheStreamStands) {
    RasterImage page = KnownImage(9, 7);
    std::vector<uint8_t> file = EncodeTiff(page);
    std::vector<uint8_t> padded(100 + file.size(), 0xAB);
    std::copy(file.begin(), file.end(), padded.begin() + 100);
    MemoryStream stream(padded.data(), padded.size());
    stream.Seek(100, SEEK_SET);
    TiffImage codec;
    ASSERT_TRUE(codec.Decode(&stream)) << codec.GetLastError();
    EXPECT_TRUE(SamePixels(page, codec));
}

}  // namespace
}  // namespace sheetmend::testing
