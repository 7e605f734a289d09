// Scanned PDFs as input, end to end: documents made by other programs go
// through the page loop, a JPEG page passes PDF to PDF untouched with its
// page size, and broken or locked documents each give one message that names
// them while the batch goes on.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/e2e/e2e_support.h"
#include "tests/image/codecs_pdf/pdf_test_support.h"

namespace sheetmend::testing {
namespace {

class PdfInput : public ::testing::Test {
  protected:
    void SetUp() override {
        RasterImage page = DrawColourPage(640, 480, 150);
        page.DrawString(40, 300, "SCANNED", RgbQuad{0, 0, 0, 0}, "Arial", 80);
        SaveOrFail(page, dir.File("page.jpg"));
        SaveOrFail(page, dir.File("page.png"));
        std::string out;
        // The last page is placed at a size that no whole dpi gives back.
        ASSERT_EQ(RunShell("cd '" + dir.path() +
                               "' && img2pdf page.jpg page.png -o two.pdf && img2pdf --imgsize "
                               "100mmx75mm page.jpg -o sized.pdf && qpdf --empty --pages two.pdf "
                               "sized.pdf -- three.pdf 2>&1",
                           &out),
                  0)
            << out;
    }
    ProgramResult Run(const std::vector<std::string>& args) {
        return RunSheetmend(args, dir.path());
    }
    ScratchDir dir;
};

TEST_F(PdfInput, PdfToPdfKeepsPagesTheirSizesAndTheJpegBytes) {
    const ProgramResult r = Run({"-bitcount", "24", "three.pdf", "out.pdf"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    for (int k = 1; k <= 3; ++k)
        EXPECT_NE(r.out.find("[Message] Page " + std::to_string(k) + " of 3\n"), std::string::npos);
    EXPECT_TRUE(QpdfCheckPasses(dir.File("out.pdf")));
    EXPECT_EQ(PdfInfoField(dir.File("out.pdf"), "Pages"), "3");
    for (int k = 1; k <= 3; ++k) {
        double w0 = 0, h0 = 0, w1 = 0, h1 = 0;
        ASSERT_TRUE(PageSize(dir.File("three.pdf"), k, &w0, &h0));
        ASSERT_TRUE(PageSize(dir.File("out.pdf"), k, &w1, &h1));
        EXPECT_NEAR(w1, w0, 0.01) << "page " << k;
        EXPECT_NEAR(h1, h0, 0.01) << "page " << k;
    }
    // The JPEG pages come out as the very bytes that went in.
    std::string out;
    ASSERT_EQ(RunShell("cd '" + dir.path() + "' && pdfimages -j out.pdf x 2>&1", &out), 0) << out;
    const std::vector<uint8_t> original = ReadFileBytes(dir.File("page.jpg"));
    EXPECT_EQ(ReadFileBytes(dir.File("x-000.jpg")), original);
    EXPECT_EQ(ReadFileBytes(dir.File("x-002.jpg")), original);
}

TEST_F(PdfInput, APdfToAnImageFormatGivesNumberedPagesAtTheirResolution) {
    const ProgramResult r = Run({"-threshold", "0", "three.pdf", "out.png"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const struct {
        const char* name;
        int32_t dpi;  // 640 pixels over 100 mm is 162.56 dpi
    } pages[] = {{"out.png", 150}, {"out-2.png", 150}, {"out-3.png", 163}};
    for (const auto& p : pages) {
        RasterImage page = LoadOrFail(dir.File(p.name));
        EXPECT_EQ(page.GetWidth(), 640u) << p.name;
        EXPECT_EQ(page.GetBpp(), 1u) << p.name;
        EXPECT_EQ(page.GetXDpi(), p.dpi) << p.name;
    }
    EXPECT_FALSE(Exists(dir.File("out-4.png")));
}

TEST_F(PdfInput, BrokenAndLockedDocumentsAreNamedAndTheBatchGoesOn) {
    std::string out;
    const std::vector<uint8_t> whole = ReadFileBytes(dir.File("three.pdf"));
    ASSERT_EQ(mkdir(dir.File("in").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFileBytes(dir.File("in/a-empty.pdf"), {}));
    ASSERT_TRUE(
        WriteFileBytes(dir.File("in/b-truncated.pdf"),
                       std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() / 3)));
    // The PNG page's image claims more rows than its stream holds.
    std::string text(whole.begin(), whole.end());
    const size_t at = text.find("/Height 480");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 11, "/Height 980");
    ASSERT_TRUE(
        WriteFileBytes(dir.File("in/c-lying.pdf"), std::vector<uint8_t>(text.begin(), text.end())));
    ASSERT_EQ(RunShell("qpdf --encrypt secret secret 256 -- '" + dir.File("three.pdf") + "' '" +
                           dir.File("in/d-locked.pdf") + "' 2>&1",
                       &out),
              0)
        << out;
    ASSERT_EQ(
        RunShell("cp '" + dir.File("three.pdf") + "' '" + dir.File("in/e-good.pdf") + "'", &out),
        0);
    ASSERT_EQ(mkdir(dir.File("out").c_str(), 0755), 0);

    const ProgramResult r = Run({"-threshold", "0", "in", "out/x.tif"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;  // the last file is good
    const std::string all = r.out + r.err;
    const std::string in = dir.File("in/");
    EXPECT_NE(all.find("[ERROR] Failed to load \"" + in + "a-empty.pdf\" file."), std::string::npos)
        << all;
    EXPECT_NE(all.find("[ERROR] Cannot open \"" + in + "b-truncated.pdf\": damaged beyond repair"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("[ERROR] \"" + in +
                       "c-lying.pdf\": page 1: JPEG of 640 x 480 where the image says 640 x 980"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("[ERROR] Cannot open \"" + in + "d-locked.pdf\": needs a password to open"),
              std::string::npos)
        << all;
    // Nothing is written for the broken ones, all of the good one.
    for (const char* name : {"a-empty", "b-truncated", "d-locked"})
        EXPECT_FALSE(Exists(dir.File(std::string("out/") + name + ".tif"))) << name;
    RasterImage last;
    last.SetFrame(2);
    EXPECT_TRUE(last.Load(dir.File("out/e-good.tif").c_str(), 0)) << last.GetLastError();
    EXPECT_EQ(last.GetNumFrames(), 3);
}

}  // namespace
}  // namespace sheetmend::testing
