// Reading PDF pages, checked against poppler's own tools: every scanned page
// equals what pdfimages extracts from the same file, made by the real
// producers (tiff2pdf, img2pdf, qpdf); vector pages render as pdftoppm does;
// broken, lying and locked files fail with a reason.
#include <gtest/gtest.h>
#include <tiffio.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "image/codecs/group4.h"
#include "image/codecs/pdf_reader.h"
#include "image/raster_image.h"
#include "tests/image/codecs_pdf/pdf_test_support.h"
#include "tests/support/test_images.h"

// poppler finds fonts through fontconfig, which keeps what it loads for the
// life of the process: not a leak of the reader's.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace sheetmend::testing {
namespace {

const std::string kIm = kImageMagick;

// A PDF written by hand: `objects` are the bodies of objects 1..n (object 1
// the catalog), numbered in order, with a correct cross-reference table.
std::string HandMadePdf(const std::vector<std::string>& objects) {
    std::string pdf = "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    char line[32];
    for (size_t off : offsets) {
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

std::string StreamObject(const std::string& dict, const std::string& data) {
    return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
           "\nendstream";
}

// One page of `w` x `h` points that draws `content` with image /Im0 (object 5)
// and font /F1 at hand; `extraObject` becomes object 7.
std::string OnePagePdf(double w, double h, const std::string& content,
                       const std::string& imageObject, const std::string& pageExtra = "",
                       const std::string& extraObject = "") {
    char box[64];
    std::snprintf(box, sizeof box, "[0 0 %g %g]", w, h);
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        std::string("<< /Type /Page /Parent 2 0 R /MediaBox ") + box +
            " /Resources << /XObject << /Im0 5 0 R >> /Font << /F1 6 0 R >> >>"
            " /Contents 4 0 R " +
            pageExtra + " >>",
        StreamObject("", content),
        imageObject,
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
    if (!extraObject.empty()) objects.push_back(extraObject);
    return HandMadePdf(objects);
}

std::string Deflate(const std::string& data) {
    uLongf size = compressBound(data.size());
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size,
              reinterpret_cast<const Bytef*>(data.data()), data.size(), 9);
    out.resize(size);
    return out;
}

// Opens `pdf` and reads its first page, which must come out rendered or not
// as `rendered` says.
::testing::AssertionResult ReadFirstPage(const std::string& pdf, bool rendered, RasterImage& page,
                                         int32_t dpi = 0) {
    PdfReader reader;
    if (!reader.Open(pdf)) return ::testing::AssertionFailure() << "open: " << reader.LastError();
    bool wasRendered = !rendered;
    if (!reader.LoadPage(0, page, dpi, &wasRendered))
        return ::testing::AssertionFailure() << "page 1: " << reader.LastError();
    if (wasRendered != rendered)
        return ::testing::AssertionFailure() << (rendered ? "extracted" : "rendered");
    return ::testing::AssertionSuccess();
}

std::string Hex(const std::string& data) {
    std::string hex;
    char b[3];
    for (unsigned char c : data) {
        std::snprintf(b, sizeof b, "%02x", c);
        hex += b;
    }
    return hex + ">";
}

bool WriteText(const std::string& path, const std::string& text) {
    return WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// ---------------------------------------------------------------------------
// scanned pages from the real producers

struct Producer {
    const char* name;
    // Shell commands run in the scratch folder; they leave page.pdf there.
    const char* recipe;
    int pages;
    uint32_t bpp;  // of every page read
    int32_t dpi;
    bool keepsJpeg;  // the page carries the JPEG bytes pdfimages -j extracts
    // CalRGB: poppler colour-manages the samples, so the reference is libjpeg's
    // decoding (djpeg) of the bytes pdfimages -j extracts.
    bool calibrated = false;
};

#define PICTURE                                                                              \
    " -size 203x151 gradient:red-blue -fill yellow -draw 'circle 90,70 130,100' -alpha off " \
    "-depth 8 "
#define BILEVEL                                                                                 \
    " -size 203x151 xc:white -fill black -draw 'rectangle 10,10 100,60' -draw 'circle 150,100 " \
    "170,120' -monochrome "
#define DENSITY(d) " -units PixelsPerInch -density " #d " "

#define IMG2PDF(ext) " a." ext " && img2pdf -o page.pdf a." ext
#define TIFF2PDF(options) " a.tif && tiff2pdf " options " -o page.pdf a.tif"

const Producer kProducers[] = {
    {"tiff2pdf CCITT G4", "IM" BILEVEL DENSITY(300) "-compress Group4" TIFF2PDF(""), 1, 1, 300,
     false},
    {"tiff2pdf JPEG CalRGB", "IM" PICTURE DENSITY(200) TIFF2PDF("-j -q 85"), 1, 24, 200, true,
     true},
    {"tiff2pdf CMYK Flate", "IM" PICTURE DENSITY(150) "-colorspace CMYK" TIFF2PDF("-z"), 1, 24, 150,
     false},
    {"img2pdf JPEG grey", "IM" PICTURE DENSITY(150) "-colorspace Gray" IMG2PDF("jpg"), 1, 8, 150,
     true},
    {"img2pdf JPEG CMYK with Decode", "IM" PICTURE DENSITY(100) "-colorspace CMYK" IMG2PDF("jpg"),
     1, 24, 100, false},
    {"img2pdf PNG RGB predictors", "IM" PICTURE DENSITY(300) IMG2PDF("png"), 1, 24, 300, false},
    {"img2pdf PNG palette 4-bit",
     "IM" PICTURE DENSITY(300) "-colors 16 -type palette" IMG2PDF("png"), 1, 8, 300, false},
    {"img2pdf PNG grey 2-bit", "IM" PICTURE DENSITY(72) "-colorspace Gray -depth 2" IMG2PDF("png"),
     1, 8, 72, false},
    {"img2pdf PNG 1-bit", "IM" BILEVEL DENSITY(600) IMG2PDF("png"), 1, 1, 600, false},
    {"img2pdf PNG 16-bit grey",
     "IM" PICTURE DENSITY(300) "-colorspace Gray -depth 16" IMG2PDF("png"), 1, 8, 300, false},
    // The JP2 file carries no resolution; img2pdf places it at 96 dpi.
    {"img2pdf JPEG 2000", "IM" PICTURE IMG2PDF("jp2"), 1, 24, 96, false},
    {"img2pdf two pages",
     "IM" PICTURE DENSITY(300) "a.png && IM" BILEVEL DENSITY(
         300) "b.png && img2pdf -o page.pdf a.png b.png",
     2, 0, 300, false},
};

class ProducerTest : public ::testing::TestWithParam<Producer> {};

TEST_P(ProducerTest, EveryPageEqualsWhatPdfimagesExtracts) {
    const Producer& p = GetParam();
    ScratchDir dir;
    std::string recipe = p.recipe, out;
    for (size_t at; (at = recipe.find("IM")) != std::string::npos;) recipe.replace(at, 2, kIm);
    ASSERT_EQ(RunShell("cd '" + dir.path() + "' && " + recipe + " 2>&1", &out), 0) << out;
    const std::string pdf = dir.File("page.pdf");
    PdfReader reader;
    ASSERT_TRUE(reader.Open(pdf)) << reader.LastError();
    EXPECT_EQ(reader.Notice(), "");
    ASSERT_EQ(reader.PageCount(), p.pages);
    const std::vector<ListedImage> listed = ListImages(pdf);
    ASSERT_EQ(listed.size(), static_cast<size_t>(p.pages));
    for (int i = 0; i < p.pages; ++i) {
        SCOPED_TRACE(i);
        RasterImage page;
        bool rendered = true;
        ASSERT_TRUE(reader.LoadPage(i, page, 0, &rendered)) << reader.LastError();
        EXPECT_FALSE(rendered);
        if (p.bpp) {
            EXPECT_EQ(page.GetBpp(), p.bpp);
        }
        EXPECT_EQ(page.GetXDpi(), p.dpi);
        EXPECT_EQ(page.GetYDpi(), p.dpi);
        EXPECT_EQ(page.GetXDpi(), listed[i].xPpi);
        EXPECT_TRUE(PaddingIsZero(page));
        Pnm reference;
        if (p.keepsJpeg) {
            ASSERT_EQ(RunShell("pdfimages -j '" + pdf + "' '" + dir.File("j") + "'"), 0);
        }
        if (p.calibrated) {
            ASSERT_EQ(RunShell("djpeg -ppm '" + dir.File("j-000.jpg") + "'", &out), 0);
            ASSERT_TRUE(ParsePnm(out, &reference));
        } else {
            ASSERT_TRUE(ExtractImage(dir, pdf, i, &reference));
        }
        EXPECT_TRUE(MatchesPnm(page, reference));
        double w, h, pw, ph;  // the page's size in points, ours and pdfinfo's
        ASSERT_TRUE(reader.PageSizePoints(i, &w, &h) && PageSize(pdf, i + 1, &pw, &ph));
        EXPECT_TRUE(std::fabs(w - pw) < 0.01 && std::fabs(h - ph) < 0.01) << w << " x " << h;
        if (p.keepsJpeg) {
            ASSERT_NE(page.GetSourceJpeg(), nullptr);
            EXPECT_EQ(page.GetSourceJpeg()->data, ReadFileBytes(dir.File("j-000.jpg")));
            EXPECT_EQ(page.GetSourceJpeg()->fingerprint, page.PixelFingerprint());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Producers, ProducerTest, ::testing::ValuesIn(kProducers),
                         [](const ::testing::TestParamInfo<Producer>& info) {
                             std::string n = info.param.name;
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

// ---------------------------------------------------------------------------
// pages made by hand: codings and placements the producers above do not write

// A 1-bit page drawn in code: black (index 0) bars and a diagonal on white.
RasterImage BilevelPage(uint32_t w, uint32_t h) {
    RasterImage img(w, h, 1);
    img.SetPaletteColor(0, 0, 0, 0);
    img.SetPaletteColor(1, 255, 255, 255);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const bool black = (x / 9) % 3 == 0 || x == y || (y > h / 2 && x < w / 4);
            img.SetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y), black ? 0 : 1);
        }
    return img;
}

// The JBIG2 segments of one page holding one generic region coded with MMR
// (`g4`, the Group 4 code of a w x h page), as embedded in a PDF stream.
std::string Jbig2Page(uint32_t w, uint32_t h, const std::string& g4) {
    auto u32 = [](uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 8), static_cast<char>(v)};
    };
    auto segment = [&](uint32_t number, uint8_t type, const std::string& data) {
        return u32(number) + std::string{static_cast<char>(type), 0, 1} +
               u32(static_cast<uint32_t>(data.size())) + data;
    };
    const std::string info = u32(w) + u32(h) + u32(0) + u32(0) + std::string{0, 0, 0};
    const std::string region = u32(w) + u32(h) + u32(0) + u32(0) + std::string{0, 1} + g4;
    return segment(0, 48, info) + segment(1, 38, region) + segment(2, 49, "");
}

// The drawn page coded by libtiff's Group 3 coder (an EOL before each row),
// one- or two-dimensional, with fill bits that start each row on a byte when
// `aligned`: the raw strip of a TIFF written with it.
std::string Group3(const RasterImage& img, bool twoD, bool aligned = false) {
    ScratchDir dir;
    const std::string path = dir.File("g3.tif");
    const uint32_t w = img.GetWidth(), h = img.GetHeight();
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t) return "";
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS,
                 (twoD ? GROUP3OPT_2DENCODING : 0) | (aligned ? GROUP3OPT_FILLBITS : 0));
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
    std::vector<uint8_t> row((w + 7) / 8);
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* r = img.RowPtr(h - 1 - y);
        for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>(~r[i]);  // 1 = black
        TIFFWriteScanline(t, row.data(), y, 0);
    }
    TIFFClose(t);
    t = TIFFOpen(path.c_str(), "r");
    if (!t) return "";
    std::string strip(static_cast<size_t>(TIFFRawStripSize(t, 0)), '\0');
    TIFFReadRawStrip(t, 0, strip.data(), static_cast<tmsize_t>(strip.size()));
    TIFFClose(t);
    return strip;
}

struct HandCase {
    const char* name;
    std::string content;  // the page's drawing
    std::string image;    // object 5
    std::string pageExtra;
    int32_t dpi;
    int turn;  // 0: as drawn, 1: a quarter to the right, 2: half, 3: a quarter to the left
    bool invert;
};

TEST(PdfReaderHandMade, CodingsAndPlacements) {
    const RasterImage drawn = BilevelPage(83, 61);
    std::string rows;  // the drawn page as DeviceGray 1-bit samples, top row first
    for (uint32_t y = 0; y < 61; ++y) {
        const uint8_t* r = drawn.RowPtr(60 - y);
        rows.append(reinterpret_cast<const char*>(r), (83 + 7) / 8);
    }
    std::vector<uint8_t> g4;
    std::string why;
    ASSERT_TRUE(EncodeGroup4Strip(drawn, true, g4, why)) << why;
    const std::string fax(g4.begin(), g4.end());
    const std::string gray =
        "/Type /XObject /Subtype /Image /Width 83 /Height 61 /BitsPerComponent 1 ";
    const std::string dev = gray + "/ColorSpace /DeviceGray ";
    const std::string over = "q 83 0 0 61 0 0 cm /Im0 Do Q";  // 72 dpi on an 83 x 61 pt page
    auto ccitt = [&](const std::string& parms, const std::string& data,
                     const std::string& more = "") {
        return StreamObject(
            dev + more + "/Filter /CCITTFaxDecode /DecodeParms << /Columns 83 " + parms + " >>",
            data);
    };
    const HandCase cases[] = {
        {"CCITT G4 BlackIs1 inverted", over, ccitt("/K -1 /BlackIs1 true", fax), "", 72, 0, true},
        {"CCITT G4 Decode array", over, ccitt("/K -1", fax, "/Decode [1 0] "), "", 72, 0, true},
        {"CCITT G3 1-D", over, ccitt("/K 0 /EndOfLine true", Group3(drawn, false)), "", 72, 0,
         false},
        {"CCITT G3 2-D", over, ccitt("/K 4 /EndOfLine true", Group3(drawn, true)), "", 72, 0,
         false},
        {"CCITT G3 2-D byte-aligned", over,
         ccitt("/K 4 /EndOfLine true /EncodedByteAlign true", Group3(drawn, true, true)), "", 72, 0,
         false},
        {"JBIG2 generic region", over,
         StreamObject(dev + "/Filter /JBIG2Decode", Jbig2Page(83, 61, fax)), "", 72, 0, false},
        {"stencil mask", over,
         StreamObject(gray + "/ImageMask true /Filter /FlateDecode", Deflate(rows)), "", 72, 0,
         false},
        {"ASCIIHex then Flate", over, StreamObject(dev + "/Filter [/AHx /Fl]", Hex(Deflate(rows))),
         "", 72, 0, false},
        {"page /Rotate 90 at 144 dpi", "q 41.5 0 0 30.5 0 0 cm /Im0 Do Q", StreamObject(dev, rows),
         "/Rotate 90", 144, 1, false},
        {"placed upside down", "q -83 0 0 -61 83 61 cm /Im0 Do Q", StreamObject(dev, rows), "", 72,
         2, false},
        {"placed a quarter to the left", "q 0 83 -61 0 61 0 cm /Im0 Do Q", StreamObject(dev, rows),
         "", 72, 3, false},
    };
    for (const HandCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string pdf = dir.File("hand.pdf");
        // The page is the image's size at its dpi, turned when the image lies across.
        const double scale = 72.0 / c.dpi;
        const bool across = c.turn == 3;
        ASSERT_TRUE(
            WriteText(pdf, OnePagePdf((across ? 61 : 83) * scale, (across ? 83 : 61) * scale,
                                      c.content, c.image, c.pageExtra)));
        RasterImage page;
        ASSERT_TRUE(ReadFirstPage(pdf, false, page));
        ASSERT_EQ(page.GetBpp(), 1u);
        const uint32_t height = c.turn % 2 ? 83 : 61;
        ASSERT_EQ(page.GetWidth(), c.turn % 2 ? 61u : 83u);
        ASSERT_EQ(page.GetHeight(), height);
        EXPECT_EQ(page.GetXDpi(), c.dpi);
        EXPECT_EQ(page.GetYDpi(), c.dpi);
        EXPECT_TRUE(PaddingIsZero(page));
        int wrong = 0;
        for (uint32_t y = 0; y < 61; ++y)
            for (uint32_t x = 0; x < 83; ++x) {
                // Where drawn pixel (x, y from top) lands on the page read, from its top.
                uint32_t px = x, py = y;
                if (c.turn == 1) px = 60 - y, py = x;
                if (c.turn == 2) px = 82 - x, py = 60 - y;
                if (c.turn == 3) px = y, py = 82 - x;
                const uint8_t want = drawn.GetPixelIndex(x, 60 - y) ^ (c.invert ? 1 : 0);
                wrong += page.GetPixelIndex(px, height - 1 - py) != want;
            }
        EXPECT_EQ(wrong, 0);
        if (c.turn == 0 && !c.invert && c.image.find("/ImageMask") == std::string::npos) {
            Pnm reference;  // poppler's own decoder agrees (it gives a stencil's bits as they are)
            ASSERT_TRUE(ExtractImage(dir, pdf, 0, &reference));
            EXPECT_TRUE(MatchesPnm(page, reference));
        }
    }
}

// A page of text is rendered at 300 dpi and looks as pdftoppm draws it.
TEST(PdfReaderRender, VectorPageMatchesPdftoppm) {
    ScratchDir dir;
    const std::string pdf = dir.File("text.pdf");
    ASSERT_TRUE(WriteText(
        pdf,
        OnePagePdf(200, 100, "BT /F1 36 Tf 10 40 Td (Sheet 42) Tj ET 0 0 1 rg 150 10 40 20 re f",
                   "<< >>")));
    RasterImage page;
    ASSERT_TRUE(ReadFirstPage(pdf, true, page));
    EXPECT_EQ(page.GetBpp(), 24u);
    EXPECT_EQ(page.GetXDpi(), 300);
    ASSERT_EQ(RunShell("pdftoppm -r 300 -png '" + pdf + "' '" + dir.File("ref") + "'"), 0);
    Pnm reference;
    ASSERT_TRUE(DecodeWithImageMagick(dir.File("ref-1.png"), &reference));
    ASSERT_EQ(reference.width, 834);
    EXPECT_TRUE(MatchesPnm(page, reference, 2));
    // The dpi asked for wins.
    ASSERT_TRUE(ReadFirstPage(pdf, true, page, 72));
    EXPECT_EQ(page.GetWidth(), 200u);
}

// A page of two images is rendered at the finer image's resolution, capped at 600 dpi.
TEST(PdfReaderRender, AutomaticResolutionFollowsTheImages) {
    ScratchDir dir;
    const std::string image = StreamObject(
        "/Subtype /Image /Width 100 /Height 50 /BitsPerComponent 8 /ColorSpace /DeviceGray",
        std::string(5000, '\x80'));
    const struct {
        const char* content;
        int32_t dpi;
    } cases[] = {
        {"q 18 0 0 9 0 0 cm /Im0 Do Q q 18 0 0 9 18 9 cm /Im0 Do Q", 400},  // 100 px over 18 pt
        {"q 6 0 0 3 0 0 cm /Im0 Do Q q 36 0 0 18 0 0 cm /Im0 Do Q", 600},   // 1200 dpi, capped
        {"q 36 0 0 18 0 0 cm /Im0 Do Q 0 g 1 1 5 5 re f", 300},             // 200 dpi, raised
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        const std::string pdf = dir.File("two.pdf");
        ASSERT_TRUE(WriteText(pdf, OnePagePdf(36, 18, c.content, image)));
        RasterImage page;
        ASSERT_TRUE(ReadFirstPage(pdf, true, page));
        EXPECT_EQ(page.GetXDpi(), c.dpi);
        EXPECT_EQ(page.GetWidth(), static_cast<uint32_t>(c.dpi / 2));
    }
}

// /SMask becomes the alpha plane of a 24-bit page; the colours come from an
// /Indexed palette over CMYK, run-length coded.
TEST(PdfReaderHandMade, SoftMaskIsAlpha) {
    ScratchDir dir;
    std::string samples, alpha;
    for (int i = 0; i < 64; ++i) samples += static_cast<char>((i % 4) << 4 | ((i % 4) ^ (i / 16)));
    for (int i = 0; i < 128; ++i) alpha += static_cast<char>(i * 2);
    const std::string pdf = dir.File("smask.pdf");
    const std::string doc = OnePagePdf(
        16, 8, "q 16 0 0 8 0 0 cm /Im0 Do Q",
        StreamObject(
            "/Subtype /Image /Width 16 /Height 8 /BitsPerComponent 4 /ColorSpace [/Indexed "
            "/DeviceCMYK 3 <00000000ff00000000ff000000000080>] /SMask 7 0 R /Filter "
            "/RunLengthDecode",
            std::string(1, '\x3F') + samples + '\x80'),
        "",
        StreamObject("/Subtype /Image /Width 16 /Height 8 /BitsPerComponent 8 /ColorSpace "
                     "/DeviceGray /Filter /ASCIIHexDecode",
                     Hex(alpha)));
    ASSERT_TRUE(WriteText(pdf, doc));
    RasterImage page;
    ASSERT_TRUE(ReadFirstPage(pdf, false, page));
    ASSERT_EQ(page.GetBpp(), 24u);
    ASSERT_TRUE(page.HasAlpha());
    Pnm colours, mask;
    ASSERT_TRUE(ExtractImage(dir, pdf, 0, &colours));
    ASSERT_TRUE(ExtractImage(dir, pdf, 1, &mask));
    EXPECT_TRUE(MatchesPnm(page, colours));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            int r, g, bl;
            mask.Rgb(x, y, &r, &g, &bl);
            ASSERT_EQ(page.AlphaGet(x, 7 - y), r) << x << "," << y;
            ASSERT_EQ(r, (y * 16 + x) * 2);
        }
}

// ---------------------------------------------------------------------------
// files that must fail cleanly, and one that is repaired

TEST(PdfReaderBroken, FailsWithAReason) {
    ScratchDir dir;
    std::string out;
    ASSERT_EQ(
        RunShell("cd '" + dir.path() + "' && " + kIm + BILEVEL DENSITY(300) +
                     "-compress Group4 a.tif && tiff2pdf -o good.pdf a.tif && "
                     "qpdf --encrypt user owner 256 -- good.pdf locked.pdf && : > empty.pdf && "
                     "echo 'just text' > text.pdf 2>&1",
                 &out),
        0)
        << out;
    const std::vector<uint8_t> good = ReadFileBytes(dir.File("good.pdf"));
    WriteFileBytes(dir.File("truncated.pdf"),
                   std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 3));
    // A damaged cross-reference offset: qpdf rebuilds the table.
    std::string moved(good.begin(), good.end());
    const size_t sx = moved.rfind("startxref\n");
    ASSERT_NE(sx, std::string::npos);
    moved.replace(sx + 10, moved.find('\n', sx + 10) - sx - 10, "17");
    WriteText(dir.File("repaired.pdf"), moved);
    // Image streams that hold fewer rows than they declare, and one too large.
    const std::string image = "/Subtype /Image /BitsPerComponent 1 /ColorSpace /DeviceGray ";
    struct Bad {
        const char* file;
        std::string imageObject;  // written on a page of its own; "" for the files above
        bool opens;
        const char* says;
    } const cases[] = {
        {"missing.pdf", "", false, "No such file or directory"},
        {"empty.pdf", "", false, "not a PDF file"},
        {"text.pdf", "", false, "not a PDF file"},
        {"locked.pdf", "", false, "needs a password to open"},
        {"truncated.pdf", "", false, "damaged beyond repair: "},
        {"short-raw.pdf", StreamObject(image + "/Width 640 /Height 100", std::string(880, 'U')),
         true, "page 1: image data ends after 11 of 100 rows"},
        {"short-flate.pdf",
         StreamObject(image + "/Width 80 /Height 100 /Filter /FlateDecode",
                      Deflate(std::string(10 * 3 + 5, 'U'))),
         true, "page 1: image data ends after 3 of 100 rows"},
        {"huge.pdf",
         StreamObject(image + "/Width 100000 /Height 100000 /Filter /FlateDecode", Deflate("U")),
         true, "page 1: image of 100000 x 100000 pixels is too large for the memory limit"},
    };
    for (const Bad& b : cases) {
        SCOPED_TRACE(b.file);
        if (!b.imageObject.empty())
            WriteText(dir.File(b.file),
                      OnePagePdf(640, 100, "q 640 0 0 100 0 0 cm /Im0 Do Q", b.imageObject));
        PdfReader reader;
        const bool opened = reader.Open(dir.File(b.file));
        ASSERT_EQ(opened, b.opens) << reader.LastError();
        if (opened) {
            RasterImage page;
            bool rendered = false;
            EXPECT_FALSE(reader.LoadPage(0, page, 0, &rendered));
            EXPECT_FALSE(page.IsValid());
        }
        EXPECT_EQ(reader.LastError().rfind(b.says, 0), 0u) << reader.LastError();
    }
    PdfReader repaired;
    ASSERT_TRUE(repaired.Open(dir.File("repaired.pdf"))) << repaired.LastError();
    EXPECT_NE(repaired.Notice().find("repaired"), std::string::npos);
    RasterImage page;
    ASSERT_TRUE(ReadFirstPage(dir.File("repaired.pdf"), false, page));
    Pnm reference;
    ASSERT_TRUE(ExtractImage(dir, dir.File("good.pdf"), 0, &reference));
    EXPECT_TRUE(MatchesPnm(page, reference));
}

// A 35000 x 35000 1-bit page (153 MB) still loads. Its Group 4 code is one
// bit per row (a white row under a white row is "vertical 0"); /Decode [1 0]
// turns it black, so every byte is flipped and the row padding must stay zero.
TEST(PdfReaderHuge, LargestBilevelPageLoads) {
    ScratchDir dir;
    const uint32_t side = 35000;
    const std::string pdf = dir.File("huge.pdf");
    ASSERT_TRUE(WriteText(
        pdf,
        OnePagePdf(8400, 8400, "q 8400 0 0 8400 0 0 cm /Im0 Do Q",
                   StreamObject("/Subtype /Image /Width 35000 /Height 35000 /BitsPerComponent 1 "
                                "/ColorSpace /DeviceGray /Decode [1 0] /Filter /CCITTFaxDecode "
                                "/DecodeParms << /K -1 /Columns 35000 >>",
                                std::string(side / 8, '\xFF')))));
    RasterImage page;
    ASSERT_TRUE(ReadFirstPage(pdf, false, page));
    ASSERT_EQ(page.GetWidth(), side);
    ASSERT_EQ(page.GetHeight(), side);
    EXPECT_EQ(page.GetXDpi(), 300);
    for (uint32_t i = 0; i < side; i += 997) EXPECT_EQ(page.GetPixelIndex(i, side - 1 - i), 0);
    EXPECT_TRUE(PaddingIsZero(page));
}

}  // namespace
}  // namespace sheetmend::testing
