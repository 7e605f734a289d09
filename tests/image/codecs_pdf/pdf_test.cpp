// PDF output, checked with qpdf and poppler: structure, the coding of every
// image, the page size and the pixels pdfimages extracts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <functional>
#include <random>

#include "image/formats.h"
#include "image/pdf_writer.h"
#include "image/raster_image.h"
#include "image/streams.h"
#include "tests/image/codecs_pdf/pdf_test_support.h"
#include "tests/support/source_root.h"
#include "tests/support/test_images.h"

namespace sheetmend::testing {
namespace {

using Bytes = std::vector<uint8_t>;

void SetGreyRamp(RasterImage& img) {
    const uint32_t n = img.GetNumColors();
    for (uint32_t i = 0; i < n; ++i) {
        const auto v = static_cast<uint8_t>(i * (255 / (n - 1)));
        img.SetPaletteColor(static_cast<uint8_t>(i), v, v, v);
    }
}

// Alpha that varies over the page: a ramp crossed by random noise.
void AddAlpha(RasterImage& img, uint32_t seed) {
    ASSERT_TRUE(img.AlphaCreate());
    std::mt19937 rng(seed);
    for (int32_t y = 0; y < static_cast<int32_t>(img.GetHeight()); ++y)
        for (int32_t x = 0; x < static_cast<int32_t>(img.GetWidth()); ++x)
            img.AlphaSet(x, y, static_cast<uint8_t>((x * 7 + y * 3) ^ (rng() & 0x0F)));
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

struct PageCase {
    const char* name;
    uint32_t width, height, bpp;
    std::function<void(RasterImage&)> paint;  // palette and alpha
    int32_t xDpi, yDpi;
    // What pdfimages -list must say of the page image.
    const char* colour;
    int components, bits;
    const char* encoding;
    bool smask;
};

// Widths are chosen off multiples of 8 (and of 2 for 4 bits), so the last
// byte of each row is only partly used. Random 1-bit pixels are coded with
// Flate: Group 4 makes noise larger than it is.
const PageCase kPages[] = {
    {"bilevel white paper first", 203, 61, 1,
     [](RasterImage& i) {
         i.SetPaletteColor(0, 255, 255, 255);
         i.SetPaletteColor(1, 0, 0, 0);
     },
     300, 300, "gray", 1, 1, "image", false},
    {"bilevel black first", 77, 40, 1,
     [](RasterImage& i) {
         i.SetPaletteColor(0, 0, 0, 0);
         i.SetPaletteColor(1, 255, 255, 255);
     },
     200, 100, "gray", 1, 1, "image", false},
    {"bilevel two colours", 45, 33, 1,
     [](RasterImage& i) {
         i.SetPaletteColor(0, 20, 30, 140);    // dark blue ink
         i.SetPaletteColor(1, 250, 240, 150);  // yellowish paper
     },
     150, 150, "index", 1, 1, "image", false},
    {"four-bit grey", 37, 21, 4, SetGreyRamp, 96, 96, "gray", 1, 4, "image", false},
    {"four-bit palette", 31, 19, 4, [](RasterImage&) {}, 72, 144, "index", 1, 4, "image", false},
    {"eight-bit grey", 53, 29, 8, SetGreyRamp, 300, 300, "gray", 1, 8, "image", false},
    {"eight-bit palette", 41, 23, 8, [](RasterImage&) {}, 120, 240, "index", 1, 8, "image", false},
    {"colour", 59, 27, 24, [](RasterImage&) {}, 300, 150, "rgb", 3, 8, "image", false},
    {"colour with alpha", 33, 17, 24, [](RasterImage& i) { AddAlpha(i, 5); }, 96, 96, "rgb", 3, 8,
     "image", true},
    {"palette with alpha", 29, 15, 8, [](RasterImage& i) { AddAlpha(i, 6); }, 96, 96, "index", 1, 8,
     "image", true},
};

TEST(PdfPage, EveryDepthIsCodedLosslesslyAndSizedByItsResolution) {
    uint32_t seed = 40;
    for (const PageCase& c : kPages) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        RasterImage img = RandomImage(c.width, c.height, c.bpp, ++seed);
        c.paint(img);
        img.SetXDpi(c.xDpi);
        img.SetYDpi(c.yDpi);
        const RasterImage before(img);
        const std::string pdf = dir.File("page.pdf");
        ASSERT_TRUE(img.Save(pdf.c_str(), kFormatPdf)) << img.GetLastError();
        EXPECT_TRUE(SamePixels(img, before)) << "saving changed the image";
        EXPECT_EQ(img.GetPaletteColor(0), before.GetPaletteColor(0));

        std::string check;
        EXPECT_TRUE(QpdfCheckPasses(pdf, &check)) << check;
        const std::vector<ListedImage> list = ListImages(pdf);
        ASSERT_EQ(list.size(), c.smask ? 2u : 1u);
        const ListedImage& page = list[0];
        EXPECT_EQ(page.type, "image");
        EXPECT_EQ(page.width, static_cast<int>(c.width));
        EXPECT_EQ(page.height, static_cast<int>(c.height));
        EXPECT_EQ(page.colour, c.colour);
        EXPECT_EQ(page.components, c.components);
        EXPECT_EQ(page.bits, c.bits);
        EXPECT_EQ(page.encoding, c.encoding);
        // pdfimages derives the resolution from the page size.
        EXPECT_EQ(page.xPpi, c.xDpi);
        EXPECT_EQ(page.yPpi, c.yDpi);

        double w = 0, h = 0;
        ASSERT_TRUE(PageSize(pdf, 1, &w, &h));
        EXPECT_NEAR(w, c.width * 72.0 / c.xDpi, 0.01);
        EXPECT_NEAR(h, c.height * 72.0 / c.yDpi, 0.01);

        Pnm pixels;
        ASSERT_TRUE(ExtractImage(dir, pdf, 0, &pixels));
        RasterImage opaque(img, true, true, false);  // the colours alone
        if (c.bpp == 1 && std::string(c.colour) == "index") {
            // pdfimages writes 1-bit images as black and white, whatever
            // their colours: the darker entry must come out black.
            opaque.SetPaletteColor(0, 0, 0, 0);
            opaque.SetPaletteColor(1, 255, 255, 255);
        }
        EXPECT_TRUE(MatchesPnm(opaque, pixels));
        if (c.smask) {
            const ListedImage& mask = list[1];
            EXPECT_EQ(mask.type, "smask");
            EXPECT_EQ(mask.colour, "gray");
            EXPECT_EQ(mask.bits, 8);
            Pnm alpha;
            ASSERT_TRUE(ExtractImage(dir, pdf, 1, &alpha));
            ASSERT_EQ(alpha.width, static_cast<int>(c.width));
            int wrong = 0;
            for (int y = 0; y < alpha.height; ++y)
                for (int x = 0; x < alpha.width; ++x) {
                    int r, g, b;
                    alpha.Rgb(x, y, &r, &g, &b);
                    wrong += r != img.AlphaGet(x, alpha.height - 1 - y);
                }
            EXPECT_EQ(wrong, 0);
        }
    }
}

// The colours of a two-colour page as a renderer draws them: a page of two
// blocks, sampled away from their edge (where the renderer smooths), coded
// with Group 4 and, with noise in its bottom rows, with Flate.
TEST(PdfPage, TwoColourBilevelPageIsDrawnInItsColours) {
    ScratchDir dir;
    const std::string pdf = dir.File("two.pdf");
    struct Pair {
        RgbQuad first, second;
    };
    const Pair pairs[] = {{RgbQuad{200, 40, 10, 0}, RgbQuad{210, 250, 245, 0}},  // dark entry first
                          {RgbQuad{230, 255, 255, 0}, RgbQuad{0, 90, 0, 0}},  // light entry first
                          {RgbQuad{0, 0, 0, 0}, RgbQuad{255, 255, 255, 0}},
                          {RgbQuad{255, 255, 255, 0}, RgbQuad{0, 0, 0, 0}}};
    std::mt19937 rng(7);
    for (const Pair& p : pairs) {
        for (const bool noisy : {false, true}) {
            SCOPED_TRACE(::testing::Message() << int(p.first.red) << " " << int(p.first.green)
                                              << (noisy ? " noisy" : " plain"));
            RasterImage img(48, 32, 1);
            img.SetPaletteColor(0, p.first);
            img.SetPaletteColor(1, p.second);
            for (int32_t y = 0; y < 32; ++y)
                for (int32_t x = 0; x < 48; ++x)
                    img.SetPixelIndex(x, y, noisy && y < 8 ? rng() & 1 : x >= 24);
            img.SetXDpi(72);
            img.SetYDpi(72);
            ASSERT_TRUE(img.Save(pdf.c_str(), kFormatPdf));
            const std::vector<ListedImage> list = ListImages(pdf);
            ASSERT_EQ(list.size(), 1u);
            EXPECT_EQ(list[0].encoding, noisy ? "image" : "ccitt");
            ASSERT_EQ(RunShell("pdftoppm -r 72 '" + pdf + "' '" + dir.File("r") + "'"), 0);
            Pnm drawn;
            ASSERT_TRUE(DecodeWithImageMagick(dir.File("r-1.ppm"), &drawn));
            ASSERT_EQ(drawn.width, 48);
            int r, g, b;
            drawn.Rgb(8, 16, &r, &g, &b);
            EXPECT_EQ(RgbQuad(b, g, r, 0), p.first);
            drawn.Rgb(40, 16, &r, &g, &b);
            EXPECT_EQ(RgbQuad(b, g, r, 0), p.second);
        }
    }
}

// A letter page at 150 dpi of lines of words (strokes 12 pixels high) and
// the same page with a grey ramp dithered by error diffusion into its middle
// third, as a halftone photograph comes out of a scanner in black and white:
// Group 4 stays on the text, Flate takes the photograph (smaller than its
// Group 4 TIFF); both give back every pixel.
TEST(PdfPage, DitheredBilevelPageIsCodedWithFlateAndTextWithGroupFour) {
    ScratchDir dir;
    for (const bool photo : {false, true}) {
        SCOPED_TRACE(photo ? "photograph" : "text");
        const int32_t width = 1275;
        RasterImage img(width, 1650, 1);
        img.SetPaletteColor(0, 255, 255, 255);
        img.SetPaletteColor(1, 0, 0, 0);
        for (int32_t y = 100; y < 1500; ++y)
            for (int32_t x = 100; x < 1175; ++x)
                img.SetPixelIndex(x, y, y % 30 < 12 && x % 7 < 4 && (x / 90 + y / 30) % 5);
        std::vector<double> below(width + 2, 0.0), next(width + 2, 0.0);
        for (int32_t y = 550; photo && y < 1100; ++y) {  // Floyd-Steinberg
            below.swap(next);
            std::fill(next.begin(), next.end(), 0.0);
            for (int32_t x = 0; x < width; ++x) {
                const double want = 255.0 * x / width + below[x + 1];
                img.SetPixelIndex(x, y, want < 128);
                const double e = want - (want < 128 ? 0 : 255);
                below[x + 2] += e * 7 / 16, next[x] += e * 3 / 16;
                next[x + 1] += e * 5 / 16, next[x + 2] += e / 16;
            }
        }
        img.SetXDpi(150);
        img.SetYDpi(150);
        const std::string pdf = dir.File("page.pdf"), tif = dir.File("page.tif");
        ASSERT_TRUE(img.Save(pdf.c_str(), kFormatPdf)) << img.GetLastError();
        img.SetCodecOption(4, kFormatTiff);
        ASSERT_TRUE(img.Save(tif.c_str(), kFormatTiff)) << img.GetLastError();
        EXPECT_TRUE(QpdfCheckPasses(pdf));
        const std::vector<ListedImage> list = ListImages(pdf);
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].encoding, photo ? "image" : "ccitt");
        EXPECT_EQ(list[0].colour, "gray");
        struct stat p, t;
        ASSERT_EQ(stat(pdf.c_str(), &p) | stat(tif.c_str(), &t), 0);
        EXPECT_LT(p.st_size, photo ? t.st_size * 9 / 10 : t.st_size + 1200);
        Pnm pixels;
        ASSERT_TRUE(ExtractImage(dir, pdf, 0, &pixels));
        EXPECT_TRUE(MatchesPnm(img, pixels));
    }
}

// A black cross on white: Group 4 data that a fax reader decodes, its size
// close to that of the Group 4 TIFF of the same page.
TEST(PdfPage, BilevelPageMatchesTheGroupFourTiff) {
    ScratchDir dir;
    RasterImage img(1275, 1650, 1);  // a letter page at 150 dpi
    img.SetPaletteColor(0, 255, 255, 255);
    img.SetPaletteColor(1, 0, 0, 0);
    for (int32_t x = 100; x < 1175; ++x)
        for (int32_t y = 820; y < 830; ++y) img.SetPixelIndex(x, y, 1);
    for (int32_t y = 100; y < 1550; ++y)
        for (int32_t x = 630; x < 645; ++x) img.SetPixelIndex(x, y, 1);
    img.SetXDpi(150);
    img.SetYDpi(150);
    const std::string pdf = dir.File("cross.pdf");
    const std::string tif = dir.File("cross.tif");
    ASSERT_TRUE(img.Save(pdf.c_str(), kFormatPdf)) << img.GetLastError();
    img.SetCodecOption(4, kFormatTiff);
    ASSERT_TRUE(img.Save(tif.c_str(), kFormatTiff)) << img.GetLastError();
    struct stat p, t;
    ASSERT_EQ(stat(pdf.c_str(), &p), 0);
    ASSERT_EQ(stat(tif.c_str(), &t), 0);
    // The PDF's own objects cost a few hundred bytes more than the TIFF tags.
    EXPECT_LT(p.st_size, t.st_size + 1200) << p.st_size << " vs " << t.st_size;
    EXPECT_EQ(PdfInfoField(pdf, "Page size"), "612 x 792 pts (letter)");
    Pnm pixels;
    ASSERT_TRUE(ExtractImage(dir, pdf, 0, &pixels));
    EXPECT_TRUE(MatchesPnm(img, pixels));
}

// ---------------------------------------------------------------------------
// JPEG data passed through

Bytes WithoutTail(Bytes data, size_t n) {
    data.resize(data.size() - n);
    return data;
}

std::string ExtractJpeg(const ScratchDir& dir, const std::string& pdf) {
    RunShell("pdfimages -j '" + pdf + "' '" + dir.File("j") + "'");
    return dir.File("j-000.jpg");
}

TEST(PdfJpeg, UnchangedPixelsEmbedTheOriginalBytes) {
    ScratchDir dir;
    struct Case {
        const char* name;
        const char* makeArguments;  // ImageMagick
        const char* colour;
    };
    const Case cases[] = {
        {"colour", "-size 61x37 plasma:fractal -seed 3 -quality 80", "rgb"},
        {"grey", "-size 45x29 gradient:black-white -colorspace Gray -quality 75", "gray"},
        {"progressive", "-size 50x30 plasma:fractal -seed 4 -interlace JPEG", "rgb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string jpg = dir.File("in.jpg");
        ASSERT_EQ(RunShell(std::string(kImageMagick) + " " + c.makeArguments + " '" + jpg + "'"),
                  0);
        // Bytes after the end marker are not part of the JPEG data.
        const Bytes original = ReadFileBytes(jpg);
        Bytes padded = original;
        for (char k : std::string("trailing junk")) padded.push_back(static_cast<uint8_t>(k));
        ASSERT_TRUE(WriteFileBytes(jpg, padded));

        RasterImage img;
        ASSERT_TRUE(img.Load(jpg.c_str(), kFormatJpeg)) << img.GetLastError();
        const RasterImage copy(img);  // copies keep the data too
        const std::string pdf = dir.File("same.pdf");
        ASSERT_TRUE(RasterImage(copy).Save(pdf.c_str(), kFormatPdf));
        EXPECT_TRUE(QpdfCheckPasses(pdf));
        const std::vector<ListedImage> list = ListImages(pdf);
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].encoding, "jpeg");
        EXPECT_EQ(list[0].colour, c.colour);
        EXPECT_EQ(ReadFileBytes(ExtractJpeg(dir, pdf)), WithoutTail(padded, 13));
        EXPECT_EQ(WithoutTail(padded, 13), original);

        // One changed pixel, and the page is coded from its pixels instead.
        const RgbQuad was = img.GetPixelColor(3, 2, false);
        img.SetPixelColor(3, 2,
                          RgbQuad{static_cast<uint8_t>(was.blue ^ 0x80), was.green, was.red, 0});
        const std::string changed = dir.File("changed.pdf");
        ASSERT_TRUE(img.Save(changed.c_str(), kFormatPdf));
        const std::vector<ListedImage> after = ListImages(changed);
        ASSERT_EQ(after.size(), 1u);
        EXPECT_EQ(after[0].encoding, "image");
        Pnm pixels;
        ASSERT_TRUE(ExtractImage(dir, changed, 0, &pixels));
        EXPECT_TRUE(MatchesPnm(img, pixels));
        RunShell("rm -f '" + dir.File("j") + "'-*");
    }
}

// A file whose pixels are not what a PDF reader would decode from its data
// (CMYK, converted to RGB here) keeps no data; nor does a page whose block
// was replaced.
TEST(PdfJpeg, ConvertedDecodesAndNewBlocksKeepNoData) {
    ScratchDir dir;
    const std::string cmyk = SourceRoot() + "/fuzz/corpus/jpeg/im-cmyk.jpg";
    RasterImage img;
    ASSERT_TRUE(img.Load(cmyk.c_str(), kFormatJpeg)) << img.GetLastError();
    EXPECT_EQ(img.GetSourceJpeg(), nullptr);

    const std::string jpg = dir.File("big.jpg");
    ASSERT_EQ(RunShell(std::string(kImageMagick) + " -size 64x48 plasma:fractal '" + jpg + "'"), 0);
    RasterImage probe;
    ASSERT_TRUE(probe.Load(jpg.c_str(), kFormatJpeg));
    ASSERT_NE(probe.GetSourceJpeg(), nullptr);
    EXPECT_EQ(probe.GetSourceJpeg()->components, 3u);
    // A threshold makes a new block: the data goes with the old one.
    probe.Threshold(128);
    EXPECT_EQ(probe.GetSourceJpeg(), nullptr);
}

// ---------------------------------------------------------------------------
// The page-at-a-time writer

TEST(PdfWriter, WritesPagesOneAtATimeAndNothingBeforeClose) {
    ScratchDir dir;
    const std::string pdf = dir.File("book.pdf");
    PdfWriter writer;
    ASSERT_TRUE(writer.Open(pdf.c_str())) << writer.GetLastError();
    EXPECT_TRUE(writer.IsOpen());
    const uint32_t depths[] = {1, 8, 24};
    for (uint32_t k = 0; k < 3; ++k) {
        RasterImage page = RandomImage(20 + k, 10 + k, depths[k], 70 + k);
        page.SetXDpi(72);
        page.SetYDpi(72);
        ASSERT_TRUE(writer.AddPage(page)) << writer.GetLastError();
    }
    EXPECT_EQ(writer.GetPageCount(), 3);
    EXPECT_FALSE(Exists(pdf)) << "the file appears only when it is complete";
    ASSERT_TRUE(writer.Close()) << writer.GetLastError();
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_TRUE(QpdfCheckPasses(pdf));
    EXPECT_EQ(PdfInfoField(pdf, "Pages"), "3");
    const std::vector<ListedImage> list = ListImages(pdf);
    ASSERT_EQ(list.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(list[k].page, k + 1);
        EXPECT_EQ(list[k].width, 20 + k);
        double w, h;
        ASSERT_TRUE(PageSize(pdf, k + 1, &w, &h));
        EXPECT_NEAR(w, 20 + k, 0.001);  // 72 dpi: one point per pixel
        EXPECT_NEAR(h, 10 + k, 0.001);
    }
    EXPECT_EQ(list[0].encoding, "image");  // random bits: Flate beats Group 4
    EXPECT_EQ(list[2].colour, "rgb");

    // The same document into a stream gives the same bytes (the file ID is
    // derived from the content).
    MemoryStream memory;
    ASSERT_TRUE(memory.Open());
    ASSERT_TRUE(writer.Open(&memory));
    for (uint32_t k = 0; k < 3; ++k) {
        RasterImage page = RandomImage(20 + k, 10 + k, depths[k], 70 + k);
        page.SetXDpi(72);
        page.SetYDpi(72);
        ASSERT_TRUE(writer.AddPage(page));
    }
    ASSERT_TRUE(writer.Close());
    const Bytes file = ReadFileBytes(pdf);
    ASSERT_EQ(static_cast<size_t>(memory.Size()), file.size());
    EXPECT_TRUE(std::equal(file.begin(), file.end(), memory.GetBuffer(false)));
}

TEST(PdfWriter, MisuseFailsWithAReasonAndLeavesNoFile) {
    ScratchDir dir;
    const std::string pdf = dir.File("never.pdf");
    PdfWriter writer;
    RasterImage page = RandomImage(8, 8, 8, 3);
    EXPECT_FALSE(writer.AddPage(page));
    EXPECT_STREQ(writer.GetLastError(), "No PDF document is open");
    EXPECT_FALSE(writer.Close());
    EXPECT_FALSE(writer.Open(static_cast<ByteStream*>(nullptr)));
    EXPECT_STREQ(writer.GetLastError(), "null file handler");
    EXPECT_FALSE(writer.Open(""));

    ASSERT_TRUE(writer.Open(pdf.c_str()));
    EXPECT_FALSE(writer.Open(pdf.c_str())) << "one document at a time";
    RasterImage empty;
    EXPECT_FALSE(writer.AddPage(empty));
    EXPECT_STREQ(writer.GetLastError(), "null image!!!");
    EXPECT_FALSE(writer.Close());
    EXPECT_STREQ(writer.GetLastError(), "A PDF document needs a page");
    EXPECT_FALSE(Exists(pdf));

    {
        PdfWriter abandoned;
        ASSERT_TRUE(abandoned.Open(pdf.c_str()));
        ASSERT_TRUE(abandoned.AddPage(page));
    }  // given up without Close
    EXPECT_FALSE(Exists(pdf));
    std::string left;
    RunShell("ls -A '" + dir.path() + "'", &left);
    EXPECT_EQ(left, "") << "no temporary file either";
}

TEST(PdfWriter, AnUnwritableFolderLeavesNoFileAndSaysWhy) {
    ScratchDir dir;
    const std::string target = UnwritableFolder(dir) + "/out.pdf";
    RasterImage page = RandomImage(16, 16, 1, 9);

    PdfWriter writer;
    ASSERT_TRUE(writer.Open(target.c_str()));
    ASSERT_TRUE(writer.AddPage(page));
    EXPECT_FALSE(writer.Close());
    EXPECT_NE(std::string(writer.GetLastError()).find("Permission denied"), std::string::npos)
        << writer.GetLastError();
    EXPECT_FALSE(Exists(target));

    // Save keeps its own message and leaves the reason in errno.
    page.SetLastError("");
    errno = 0;
    EXPECT_FALSE(page.Save(target.c_str(), kFormatPdf));
    EXPECT_EQ(errno, EACCES);
    EXPECT_FALSE(Exists(target));
}

TEST(PdfFormat, CodeAndExtensions) {
    EXPECT_EQ(ImageTypeFromExtension("scan.pdf"), kFormatPdf);
    EXPECT_EQ(ImageTypeFromExtension("SCAN.PDF"), kFormatPdf);
    EXPECT_NE(kFormatPdf, 16u);
    EXPECT_TRUE(HasSupportedOutputExtension("out/scan.PDF"));
    EXPECT_TRUE(HasSupportedImageExtension("scan.pdf")) << "scanned PDFs are read page by page";
    EXPECT_TRUE(HasSupportedOutputExtension("scan.tif"));
    EXPECT_FALSE(HasSupportedOutputExtension("scan.pdf.bak"));
    // Nothing reads PDF: a typed decode fails as an unknown format.
    Bytes text = {'%', 'P', 'D', 'F', '-', '1', '.', '5', '\n'};
    MemoryStream s(text.data(), text.size());
    RasterImage img;
    EXPECT_FALSE(img.Decode(&s, kFormatPdf));
    EXPECT_STREQ(img.GetLastError(), "Decode: Unknown or wrong format");
    // Its codec slot is its own.
    img.SetCodecOption(7, kFormatPdf);
    EXPECT_EQ(img.GetCodecOption(kFormatRaw), 0u);
    EXPECT_EQ(img.GetCodecOption(kFormatPdf), 7u);
}

// Text layers of every shape a broken engine result could take: bytes that
// are no UTF-8, boxes of no width or far off the page, a sloped baseline, a
// line without words, a line read upwards. The file stays valid, the text
// copies out (a bad byte as U+FFFD), and the pages with text share one font.
TEST(PdfTextLayer, OddTextStillMakesAValidSearchableFile) {
    ScratchDir dir;
    const std::string pdf = dir.File("text.pdf");
    RasterImage page(400, 200, 1);
    page.SetPaletteColor(0, 0, 0, 0);
    page.SetPaletteColor(1, 255, 255, 255);
    page.Clear(1);
    PageText text(4);
    text[0] = PageTextLine{10, 10, 390, 50, 0.02, -5, 0, {}};
    text[0].words = {{10, 10, 10, 50, "zero"},
                     {60, 10, 50, 50, "back\xFF\xC3("},
                     {-1e9, -1e9, 2e9, 2e9, "huge"}};
    text[1] = PageTextLine{0, 100, 100, 90, 0, 0, 0, {}};
    text[2] = PageTextLine{0, 150, 100, 150,
                           0, 1e9, 0,   {{0, 150, 100, 150, "\xE2\x82\xAC\xF0\x9F\x98\x80"}}};
    text[3] = PageTextLine{300, 20, 330, 190, 0, 0, 90, {{300, 20, 330, 190, "upwards"}}};
    PdfWriter writer;
    ASSERT_TRUE(writer.Open(pdf.c_str()));
    ASSERT_TRUE(writer.AddPage(page, &text));
    ASSERT_TRUE(writer.AddPage(page, nullptr));
    ASSERT_TRUE(writer.AddPage(page, &text));
    ASSERT_TRUE(writer.Close()) << writer.GetLastError();
    std::string out;
    EXPECT_EQ(RunShell("qpdf --check '" + pdf + "' 2>&1", &out), 0) << out;
    RunShell("pdftotext -raw '" + pdf + "' - 2>&1", &out);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\f'), 3) << out;
    for (const char* word :
         {"zero", "back\xEF\xBF\xBD\xEF\xBF\xBD(", "huge", "\xE2\x82\xAC\xF0\x9F\x98\x80"})
        EXPECT_NE(out.find(word), std::string::npos) << word << "\n" << out;
    RunShell("pdffonts '" + pdf + "' | tail -n +3 | wc -l", &out);
    EXPECT_EQ(out, "1\n");
}

// Two justified columns of a book page at 300 dpi (10 point type: 31 pixels
// of ascenders, lines 50 pixels apart, the spaces stretched to fill each
// line): pdftotext, in its own reading order, gives the engine's lines in
// the engine's order, the left column first, one text line each.
TEST(PdfTextLayer, PdftotextReadsTwoColumnsInTheEnginesOrder) {
    ScratchDir dir;
    const std::string pdf = dir.File("columns.pdf");
    RasterImage page(2550, 3300, 1);
    page.SetXDpi(300);
    page.SetYDpi(300);
    std::mt19937 rng(3);
    PageText text;
    for (const double left : {150.0, 1350.0}) {
        for (int k = 0; k < 14; ++k) {
            const double baseline = 400 + 50 * k;
            PageTextLine line{left, baseline - 31, left + 1050, baseline + 9, 0, -9, 0, {}};
            std::vector<double> widths;  // words of 3 to 9 letters of 19 pixels
            double inked = 0;
            while (inked + 13.0 * widths.size() < 900)
                inked += widths.emplace_back(19.0 * (3 + rng() % 7));
            const double space = (1050 - inked) / (widths.size() - 1);
            for (double x = left; const double w : widths) {
                line.words.push_back(
                    {x, baseline - 31, x + w, baseline,
                     "w" + std::to_string(text.size()) + "x" + std::to_string(rng() % 100)});
                x += w + space;
            }
            text.push_back(line);
        }
    }
    PdfWriter writer;
    ASSERT_TRUE(writer.Open(pdf.c_str()));
    ASSERT_TRUE(writer.AddPage(page, &text));
    ASSERT_TRUE(writer.Close()) << writer.GetLastError();
    std::string out;
    RunShell("pdftotext '" + pdf + "' - 2>&1", &out);
    for (size_t at; (at = out.find("\n\n")) != std::string::npos;) out.erase(at, 1);
    EXPECT_EQ(out, PlainText(text) + "\f");
}

}  // namespace
}  // namespace sheetmend::testing
