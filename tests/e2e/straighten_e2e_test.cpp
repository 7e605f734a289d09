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

// A grey page turned 2.4 degrees: straightened, then thresholded; the result
// is 1-bit, keeps its resolution and its lines are level.
TEST(StraightenRun, StraightensThenThresholdsAGreyPage) {
    ScratchDir dir;
    const BitPage ink = DrawTurned(W, H, TextLineBoxes(W, H, 40, 14, 30), 2.4 * kDegree);
    RasterImage grey(W, H, 8);
    grey.SetGrayPalette();
    grey.SetXDpi(150);
    grey.SetYDpi(150);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) grey.SetPixelIndex(x, H - 1 - y, ink.Ink(x, y) ? 30 : 225);
    SaveOrFail(grey, dir.File("in.png"));
    const ProgramResult r =
        RunSheetmend({"-straighten", "-threshold", "0", dir.File("in.png"), dir.File("out.tif")});
    EXPECT_TRUE(Has(r.out, "[Message] Straighten: skew 2.4")) << r.out;
    EXPECT_LT(r.out.find("Straighten"), r.out.find("OptimalThreshold")) << r.out;
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

// Each page of a multi-page TIFF is measured and turned on its own.
TEST(StraightenRun, EveryPageOfAMultiPageFileOnItsOwn) {
    ScratchDir dir;
    const std::vector<Rect> boxes = TextLineBoxes(W, H, 40, 14, 30);
    const std::string pages[] = {dir.File("a.tif"), dir.File("b.tif")};
    RasterImage first = BitPageImage(DrawTurned(W, H, boxes, -1.7 * kDegree));
    RasterImage second = BitPageImage(DrawTurned(W, H, boxes, 3.1 * kDegree));
    SaveOrFail(first, pages[0]);
    SaveOrFail(second, pages[1]);
    ASSERT_EQ(RunShell("tiffcp " + pages[0] + " " + pages[1] + " " + dir.File("in.tif")), 0);
    const ProgramResult r = RunSheetmend({"-straighten", dir.File("in.tif"), dir.File("out.tif")});
    std::vector<double> skews;
    for (size_t at = r.out.find("Straighten: skew "); at != std::string::npos;
         at = r.out.find("Straighten: skew ", at + 1))
        skews.push_back(std::atof(r.out.c_str() + at + 17));
    ASSERT_EQ(skews.size(), 2u) << r.out;
    EXPECT_NEAR(skews[0], -1.7, 0.1);
    EXPECT_NEAR(skews[1], 3.1, 0.1);
}

// A page of large words turned a quarter, a half and three quarters comes
// back upright; a page of vertical rules alone is left as it is; without
// the engine one line names the file and the page is not turned.
TEST(OrientRun, QuarterTurnedPagesComeBackUpright) {
    ScratchDir dir;
    RasterImage upright(1200, 900, 8);
    upright.SetGrayPalette();
    upright.Clear(255);
    const char* lines[] = {"The quick brown fox jumps over", "the lazy dog near the river bank",
                           "while seven wizards quietly box", "with jugs of liquid and vexed"};
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(upright.DrawString(40, 150 + 190 * i, lines[i], RgbQuad{0, 0, 0, 0}, "Arial", 60),
                  1);
    for (int quarters : {1, 2, 3}) {
        RasterImage turned(upright);
        for (int q = 0; q < quarters; ++q) turned.RotateRight();
        SaveOrFail(turned, dir.File("in.png"));
        const ProgramResult r = RunSheetmend({"-orient", dir.File("in.png"), dir.File("out.png")});
        EXPECT_TRUE(
            Has(r.out, "[Message] Orient: page turned " + std::to_string(360 - 90 * quarters)))
            << quarters << r.out;
        EXPECT_TRUE(SamePixels(LoadOrFail(dir.File("out.png")), upright)) << quarters;
        unlink(dir.File("out.png").c_str());
    }
    RasterImage rules(upright);
    rules.Clear(255);
    for (int x = 100; x < 1100; x += 150)
        for (int y = 50; y < 850; ++y)
            rules.SetPixelIndex(x, y, 0), rules.SetPixelIndex(x + 1, y, 0);
    SaveOrFail(rules, dir.File("rules.png"));
    const ProgramResult r = RunSheetmend({"-orient", dir.File("rules.png"), dir.File("out.png")});
    EXPECT_TRUE(Has(r.out, "page left as it is")) << r.out;
    EXPECT_TRUE(SamePixels(LoadOrFail(dir.File("out.png")), rules));

    // The binary alone in a folder: no engine beside it.
    ASSERT_EQ(RunShell("cp " + SheetmendBinary() + " " + dir.File("sheetmend")), 0);
    const ProgramResult alone = RunProgram(
        dir.File("sheetmend"), {"-orient", dir.File("rules.png"), dir.File("alone.png")});
    EXPECT_TRUE(Has(alone.out, "[ERROR] Cannot orient the pages of \"" + dir.File("rules.png") +
                                   "\": the OCR engine (ocr.exe) is not beside the program.\n"))
        << alone.out;
    EXPECT_TRUE(SamePixels(LoadOrFail(dir.File("alone.png")), rules));
}

}  // namespace
}  // namespace sheetmend::testing
