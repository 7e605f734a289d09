// "-straighten" and "-orient" end to end on pages drawn turned by known
// angles: the output's skew is measured again with the independent
// projection measure of text_page.h.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/e2e/e2e_support.h"
#include "tests/support/test_images.h"
#include "tests/support/text_page.h"

namespace sheetmend::testing {
namespace {

constexpr int32_t W = 1240, H = 1754;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A two-page grey TIFF, its pages turned 2.4 and -1.7 degrees: each page is
// straightened on its own, then thresholded; the result is 1-bit, keeps its
// resolution and its lines are level.
TEST(StraightenRun, StraightensEveryPageThenThresholds) {
    ScratchDir dir;
    const std::vector<Rect> boxes = TextLineBoxes(W, H, 40, 14, 30);
    for (double angle : {2.4, -1.7}) {
        const BitPage ink = DrawTurned(W, H, boxes, angle * kDegree);
        RasterImage grey = GreyInkPage(ink, 150);
        SaveOrFail(grey, dir.File(angle > 0 ? "a.tif" : "b.tif"));
    }
    ASSERT_EQ(RunShell("tiffcp " + dir.File("a.tif") + " " + dir.File("b.tif") + " " +
                       dir.File("in.tif")),
              0);
    const ProgramResult r =
        RunSheetmend({"-straighten", "-threshold", "0", dir.File("in.tif"), dir.File("out.tif")});
    const size_t first = r.out.find("Straighten: skew "),
                 second = r.out.find("Straighten: skew ", first + 1);
    ASSERT_NE(second, std::string::npos) << r.out;
    EXPECT_NEAR(std::atof(r.out.c_str() + first + 17), 2.4, 0.1) << r.out;
    EXPECT_NEAR(std::atof(r.out.c_str() + second + 17), -1.7, 0.1) << r.out;
    EXPECT_LT(first, r.out.find("OptimalThreshold")) << r.out;
    const RasterImage out = LoadOrFail(dir.File("out.tif"));
    EXPECT_EQ(out.GetBpp(), 1u);
    EXPECT_EQ(out.GetXDpi(), 150);
    EXPECT_EQ(out.GetWidth(), static_cast<uint32_t>(W));
    EXPECT_NEAR(ProjectionSkew(InkOfImage(out)) / kDegree, 0.0, 0.1);
}

// Pages without text lines come out with the very pixels they went in
// with, and say why.
TEST(StraightenRun, PagesWithoutTextLinesAreLeftAlone) {
    ScratchDir dir;
    RasterImage blank(600, 800, 24);
    blank.Clear(240);
    std::vector<Rect> twoWords = TextLineBoxes(600, 800, 1, 14, 30);
    twoWords.resize(9);
    const RasterImage words = BitPageImage(DrawTurned(600, 800, twoWords, 2 * kDegree));
    for (const auto& [name, page] : {std::pair{"blank", blank}, {"two words", words}}) {
        RasterImage copy(page);
        SaveOrFail(copy, dir.File("in.png"));
        const ProgramResult r =
            RunSheetmend({"-straighten", dir.File("in.png"), dir.File("out.png")});
        EXPECT_TRUE(Has(r.out, "[Message] Straighten: page left as it is (")) << name << r.out;
        EXPECT_TRUE(SamePixels(LoadOrFail(dir.File("out.png")), page)) << name;
        unlink(dir.File("out.png").c_str());
    }
}

// A page of large words turned a quarter, a half and three quarters comes
// back upright; a page of vertical rules alone is left as it is; without
// the engine one line names the file and the page is not turned.
TEST(OrientRun, QuarterTurnedPagesComeBackUpright) {
    ScratchDir dir;
    RasterImage upright(1200, 900, 8), rules(1200, 900, 8);
    upright.SetGrayPalette(), rules.SetGrayPalette();
    upright.Clear(255), rules.Clear(255);
    const char* lines[] = {"The quick brown fox jumps over", "the lazy dog near the river bank",
                           "while seven wizards quietly box", "with jugs of liquid and vexed"};
    for (int i = 0; i < 4; ++i)
        upright.DrawString(40, 150 + 190 * i, lines[i], RgbQuad{0, 0, 0, 0}, "Arial", 60);
    for (int x = 100; x < 1100; x += 150)
        for (int y = 50; y < 850; ++y) rules.SetPixelIndex(x, y, 0);
    for (int quarters : {1, 2, 3, 0}) {
        RasterImage in(quarters ? upright : rules);
        for (int q = 0; q < quarters; ++q) in.RotateRight();
        SaveOrFail(in, dir.File("in.png"));
        const ProgramResult r = RunSheetmend({"-orient", dir.File("in.png"), dir.File("out.png")});
        EXPECT_TRUE(Has(r.out, quarters
                                   ? "Orient: page turned " + std::to_string(360 - 90 * quarters)
                                   : "page left as it is"))
            << quarters << r.out;
        EXPECT_TRUE(SamePixels(LoadOrFail(dir.File("out.png")), quarters ? upright : rules));
        unlink(dir.File("out.png").c_str());
    }
    // The binary alone in a folder: no engine beside it.
    ASSERT_EQ(RunShell("cp " + SheetmendBinary() + " " + dir.File("sheetmend")), 0);
    const ProgramResult alone =
        RunProgram(dir.File("sheetmend"), {"-orient", dir.File("in.png"), dir.File("alone.png")});
    EXPECT_TRUE(Has(alone.out, "[ERROR] Cannot orient the pages of \"" + dir.File("in.png") +
                                   "\": the OCR engine (ocr.exe) is not beside the program.\n"))
        << alone.out;
    EXPECT_TRUE(SamePixels(LoadOrFail(dir.File("alone.png")), rules));
}

}  // namespace
}  // namespace sheetmend::testing
