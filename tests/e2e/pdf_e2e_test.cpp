// PDF output end to end: directory batches, the operations that choose their
// output by extension, JPEG data passed through, and saves that cannot be
// made.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/e2e/e2e_support.h"
#include "tests/image/codecs_pdf/pdf_test_support.h"

namespace sheetmend::testing {
namespace {

class Pdf : public ::testing::Test {
  protected:
    ProgramResult Run(const std::vector<std::string>& args) {
        return RunSheetmend(args, dir.path());
    }
    ScratchDir dir;
};

long FileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

// An A4 page at 150 dpi in grey: lines of text with a grey border band, as a
// scanner gives them.
RasterImage DrawTextPage() {
    RasterImage page(1240, 1754, 8);
    page.SetGrayPalette();
    page.Clear(235);
    page.SetXDpi(150);
    page.SetYDpi(150);
    for (int line = 0; line < 40; ++line) {
        page.DrawString(120, 160 + line * 38,
                        "The quick brown fox jumps over the lazy dog; 0123456789.",
                        RgbQuad{30, 30, 30, 0}, "Arial", 26);
    }
    return page;
}

TEST_F(Pdf, ADirectoryOfScansBecomesADirectoryOfPdfs) {
    ASSERT_EQ(mkdir(dir.File("scans").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.File("out").c_str(), 0755), 0);
    RasterImage bitonal = DrawBitonalPage(333, 211);
    bitonal.SetXDpi(300);
    bitonal.SetYDpi(300);
    SaveOrFail(bitonal, dir.File("scans/a-bitonal.tif"));
    RasterImage grey = DrawColourPage(150, 90, 200);
    grey.GrayScale();
    SaveOrFail(grey, dir.File("scans/b-grey.png"));
    RasterImage colour = DrawColourPage(120, 80, 100);
    SaveOrFail(colour, dir.File("scans/c-colour.jpg"));

    ProgramResult r = Run({"-threshold", "0", "scans", "out"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(TimingLines(r.out), 3);
    struct Expected {
        const char* name;
        const char* input;
        int width, height, dpi;
    };
    for (const Expected& e : {Expected{"a-bitonal", "a-bitonal.tif", 333, 211, 300},
                              Expected{"b-grey", "b-grey.png", 150, 90, 200},
                              Expected{"c-colour", "c-colour.jpg", 120, 80, 100}}) {
        SCOPED_TRACE(e.name);
        const std::string pdf = dir.File("out/") + e.name + ".pdf";
        EXPECT_NE(r.out.find(dir.File("scans/") + e.input + " ==> " + pdf + "\n"),
                  std::string::npos)
            << r.out;
        std::string check;
        EXPECT_TRUE(QpdfCheckPasses(pdf, &check)) << check;
        const std::vector<ListedImage> list = ListImages(pdf);
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0].encoding, "ccitt");  // every page thresholded to 1 bit
        EXPECT_EQ(list[0].width, e.width);
        EXPECT_EQ(list[0].height, e.height);
        EXPECT_EQ(list[0].xPpi, e.dpi);  // the automatic threshold keeps the resolution
    }
    // Only .pdf files were written.
    std::string names;
    RunShell("ls '" + dir.File("out") + "'", &names);
    EXPECT_EQ(names, "a-bitonal.pdf\nb-grey.pdf\nc-colour.pdf\n");
}

TEST_F(Pdf, ThresholdedPageIsAsSmallAsTheGroupFourTiff) {
    RasterImage page = DrawTextPage();
    SaveOrFail(page, dir.File("page.png"));
    ASSERT_EQ(Run({"-threshold", "0", "page.png", "page.pdf"}).status, 1);
    ASSERT_EQ(Run({"-threshold", "0", "page.png", "page.tif"}).status, 1);
    const long pdf = FileSize(dir.File("page.pdf")), tif = FileSize(dir.File("page.tif"));
    ASSERT_GT(tif, 10000) << "a page of text codes to some kilobytes";
    EXPECT_LT(std::abs(pdf - tif), tif * 5 / 100) << pdf << " vs " << tif;
    EXPECT_EQ(PdfInfoField(dir.File("page.pdf"), "Page size"), "595.2 x 841.92 pts (A4)");

    // The same pixels as the TIFF, which tiffinfo calls Group 4.
    Pnm fromPdf, fromTiff;
    ASSERT_TRUE(ExtractImage(dir, dir.File("page.pdf"), 0, &fromPdf));
    ASSERT_TRUE(DecodeWithImageMagick(dir.File("page.tif"), &fromTiff));
    EXPECT_EQ(fromPdf.samples, fromTiff.samples);
}

// Every operation that names its output by extension writes the same pixels
// to a PDF as to a PNG.
TEST_F(Pdf, EveryOperationWritesPdf) {
    RasterImage page = DrawColourPage(160, 120, 150);
    // A black frame for the border and margin operations, and a long line.
    for (int32_t x = 0; x < 160; ++x)
        for (int32_t y : {0, 1, 118, 119}) page.SetPixelColor(x, y, RgbQuad{0, 0, 0, 0});
    for (int32_t y = 0; y < 120; ++y)
        for (int32_t x : {0, 1, 158, 159}) page.SetPixelColor(x, y, RgbQuad{0, 0, 0, 0});
    for (int32_t x = 10; x < 150; ++x) page.SetPixelColor(x, 100, RgbQuad{0, 0, 0, 0});
    SaveOrFail(page, dir.File("page.png"));
    const std::vector<std::vector<std::string>> operations = {{"-flip"},
                                                              {"-bitcount", "8"},
                                                              {"-removelongline", "0"},
                                                              {"-trimmargin"},
                                                              {"-removeborder"}};
    for (const auto& operation : operations) {
        SCOPED_TRACE(operation[0]);
        std::vector<std::string> toPng = operation, toPdf = operation;
        toPng.insert(toPng.end(), {"page.png", "out.png"});
        toPdf.insert(toPdf.end(), {"page.png", "out.pdf"});
        ProgramResult r = Run(toPng);
        ASSERT_EQ(r.status, 1) << r.out << r.err;
        r = Run(toPdf);
        ASSERT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_TRUE(QpdfCheckPasses(dir.File("out.pdf")));
        Pnm fromPdf, fromPng;
        ASSERT_TRUE(ExtractImage(dir, dir.File("out.pdf"), 0, &fromPdf));
        ASSERT_TRUE(DecodeWithImageMagick(dir.File("out.png"), &fromPng));
        EXPECT_EQ(fromPdf.width, fromPng.width);
        EXPECT_EQ(fromPdf.height, fromPng.height);
        EXPECT_EQ(fromPdf.samples, fromPng.samples);
        std::remove(dir.File("out.png").c_str());
        std::remove(dir.File("out.pdf").c_str());
    }
}

TEST_F(Pdf, AJpegConvertedWithoutChangeKeepsItsBytes) {
    RasterImage photo = DrawColourPage(97, 61, 120);
    SaveOrFail(photo, dir.File("photo.jpg"));
    // -bitcount 24 on a colour page is a plain conversion: no pixel changes.
    ProgramResult r = Run({"-bitcount", "24", "photo.jpg", "photo.pdf"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    ASSERT_EQ(RunShell("pdfimages -j '" + dir.File("photo.pdf") + "' '" + dir.File("x") + "'"), 0);
    EXPECT_EQ(ReadFileBytes(dir.File("x-000.jpg")), ReadFileBytes(dir.File("photo.jpg")));
    double w = 0, h = 0;
    ASSERT_TRUE(PageSize(dir.File("photo.pdf"), 1, &w, &h));
    EXPECT_NEAR(w, 97 * 72.0 / 120, 0.01);

    // A mirrored page is coded from its pixels.
    r = Run({"-mirror", "photo.jpg", "mirrored.pdf"});
    ASSERT_EQ(r.status, 1);
    const std::vector<ListedImage> list = ListImages(dir.File("mirrored.pdf"));
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].encoding, "image");
}

TEST_F(Pdf, AnUnwritableFolderLeavesNoFileAndPrintsTheReason) {
    RasterImage page = DrawColourPage(40, 30);
    SaveOrFail(page, dir.File("page.png"));
    const std::string target = UnwritableFolder(dir) + "/page.pdf";
    ProgramResult r = Run({"-threshold", "0", "page.png", target});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("[ERROR] Failed to save \"" + target +
                         "\": cannot create the file: Permission denied"),
              std::string::npos)
        << r.err;
    struct stat st;
    EXPECT_NE(lstat(target.c_str(), &st), 0);
}

TEST_F(Pdf, AHeaderWithoutADocumentIsRefusedByName) {
    ASSERT_TRUE(
        WriteFileBytes(dir.File("doc.pdf"), {'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n'}));
    ProgramResult r = Run({"-flip", "doc.pdf", "page.png"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(
        r.out.find("[ERROR] Cannot open \"" + dir.File("doc.pdf") + "\": damaged beyond repair"),
        std::string::npos)
        << r.out;
    EXPECT_FALSE(Exists(dir.File("page.png")));
}

}  // namespace
}  // namespace sheetmend::testing
