// "-layout" end to end: the block list the program prints and the picture it
// writes, for pages drawn here.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/e2e/e2e_support.h"
#include "tests/layout/layout_test_page.h"

namespace sheetmend::testing {
namespace {

// The report between its two dash lines (both included), or "" when absent.
std::string Report(const std::string& out) {
    const std::string head = "------------------ LayoutAnalysis ------------------\n";
    const std::string tail = "------------------------------------------------\n";
    const size_t a = out.find(head);
    if (a == std::string::npos) return "";
    const size_t b = out.find(tail, a + head.size());
    if (b == std::string::npos) return "";
    return out.substr(a, b + tail.size() - a);
}

RgbQuad At(const RasterImage& img, int x, int yFromTop) {
    return img.GetPixelColor(x, static_cast<int>(img.GetHeight()) - 1 - yFromTop, false);
}

class LayoutE2e : public ::testing::Test {
  protected:
    ProgramResult Run(std::vector<std::string> args) { return RunSheetmend(args, dir.path()); }
    ScratchDir dir;
};

TEST_F(LayoutE2e, ThreeRuledColumnsPrintThreeTextBlocksAndDrawThem) {
    TestPage page(1600, 2400);
    page.Fill(530, 100, 532, 2300);
    page.Fill(1060, 100, 1062, 2300);
    page.Text(60, 150, 480, 30);
    page.Text(590, 150, 1010, 25);
    page.Text(1120, 150, 1540, 33);
    RasterImage img = page.ToImage();
    SaveOrFail(img, dir.File("page.tif"));

    // Each column's ink, found by looking at every pixel of its third.
    const layout_internal::Box thirds[] = {
        {0, 0, 529, 2399}, {533, 0, 1059, 2399}, {1063, 0, 1599, 2399}};
    std::string expected = "------------------ LayoutAnalysis ------------------\n";
    std::vector<layout_internal::Box> boxes;
    for (int i = 0; i < 3; ++i) {
        const layout_internal::Box ink = page.InkBounds(thirds[i]);
        boxes.push_back(ink);
        expected += std::to_string(i + 1) + ", HorizontalText, [" + std::to_string(ink.x0) + ", " +
                    std::to_string(ink.y0) + ", " + std::to_string(ink.x1) + ", " +
                    std::to_string(ink.y1) + "]\n";
    }
    expected += "------------------------------------------------\n";

    ProgramResult r = Run({"-layout", "page.tif", "out.tif"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(Report(r.out), expected) << r.out;

    // A colour TIFF, run-length coded, whatever the input's depth.
    const ProgramResult info = RunProgram("/usr/bin/tiffinfo", {dir.File("out.tif")});
    EXPECT_NE(info.out.find("Bits/Sample: 8"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Samples/Pixel: 3"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("PackBits"), std::string::npos) << info.out;

    RasterImage out = LoadOrFail(dir.File("out.tif"));
    const RgbQuad red{0, 0, 255, 0};
    for (const layout_internal::Box& b : boxes) {
        const int xm = (b.x0 + b.x1) / 2, ym = (b.y0 + b.y1) / 2;
        EXPECT_EQ(At(out, xm, b.y0 - 1), red);
        EXPECT_EQ(At(out, xm, b.y1 - 1), red);
        EXPECT_EQ(At(out, b.x0, ym), red);
        EXPECT_EQ(At(out, b.x1, ym), red);
        // Ink inside the block is kept as it was.
        EXPECT_EQ(At(out, b.x0 + 2, b.y0 + 10), (RgbQuad{0, 0, 0, 0}));
    }
}

TEST_F(LayoutE2e, FailuresAreReportedAndTheBatchGoesOn) {
    TestPage page(400, 300);
    page.Fill(50, 50, 300, 250);
    RasterImage img = page.ToImage();
    SaveOrFail(img, dir.File("page.png"));
    {
        std::ofstream bad(dir.File("broken.png"), std::ios::binary);
        bad << "\x89PNG\r\n\x1a\n not really";
    }
    ProgramResult r = Run({"-layout", "broken.png", "out.png"});
    EXPECT_NE(r.out.find("[ERROR] Failed to load \"" + dir.File("broken.png") + "\" file.\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(Report(r.out), "");
    EXPECT_FALSE(Exists(dir.File("out.png")));

    // A 24-bit input: the analysis runs on its black-and-white version and the
    // picture keeps the colours of the page.
    RasterImage colour = DrawColourPage(600, 400);
    SaveOrFail(colour, dir.File("colour.png"));
    r = Run({"-layout", "colour.png", "drawn.png"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(Report(r.out), "") << r.out;
    RasterImage drawn = LoadOrFail(dir.File("drawn.png"));
    EXPECT_EQ(drawn.GetBpp(), 24u);
    EXPECT_EQ(At(drawn, 160, 120), (RgbQuad{40, 30, 20, 0}));
    EXPECT_EQ(At(drawn, 5, 395), (RgbQuad{128, 128, 128, 0}));
}

}  // namespace
}  // namespace sheetmend::testing
