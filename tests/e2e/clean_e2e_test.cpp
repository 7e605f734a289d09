// "-clean -threshold 0" end to end on drawn grey pages: a dirty one (a
// scanner border on the left, the wedge of a turned scan at the top, text
// turned 2 degrees, specks below the text) comes out without border, level,
// without specks and with its text; a clean level page comes out exactly as
// "-threshold 0" alone makes it.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/e2e/e2e_support.h"
#include "tests/support/test_images.h"
#include "tests/support/text_page.h"

namespace sheetmend::testing {
namespace {

constexpr int32_t W = 1240, H = 1754;

TEST(CleanRun, DirtyPageLosesBorderSkewAndSpecks) {
    ScratchDir dir;
    const std::vector<Rect> boxes = TextLineBoxes(W, H, 12);
    const double angle = 2.0 * kDegree;
    BitPage ink = DrawTurned(W, H, boxes, angle);
    std::vector<std::pair<int32_t, int32_t>> specks;
    for (int32_t y = 1480; y <= 1640; y += 40)
        for (int32_t x = 250; x <= 1000; x += 125) {
            ink.Fill(x, y, 2, 2);
            specks.emplace_back(x, y);
        }
    const double slope = std::tan(angle);
    RasterImage dirty = GreyInkPage(
        ink, 150, [slope](int32_t x, int32_t y) { return x < 70 || y < 25 + x * slope; });
    SaveOrFail(dirty, dir.File("dirty.tif"));

    const ProgramResult r =
        RunSheetmend({"-clean", "-threshold", "0", dir.File("dirty.tif"), dir.File("out.tif")});
    EXPECT_NE(r.out.find("[Message] Clean: border removed (left 7"), std::string::npos) << r.out;
    const size_t turned = r.out.find(", turned by ");
    ASSERT_NE(turned, std::string::npos) << r.out;
    EXPECT_NEAR(std::atof(r.out.c_str() + turned + 12), -2.0, 0.1) << r.out;
    const RasterImage out = LoadOrFail(dir.File("out.tif"));
    ASSERT_EQ(out.GetBpp(), 1u);
    const BitPage got = InkOfImage(out);
    EXPECT_NEAR(ProjectionSkew(got) / kDegree, 0.0, 0.1);

    // Nothing left of the border (left columns, top rows) nor of any speck
    // where the turn back took it.
    int64_t left = 0;
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) left += (x < 60 || y < 20) && got.Ink(x, y);
    const double c = std::cos(angle), s = std::sin(angle), cx = W / 2.0, cy = H / 2.0;
    for (const auto& [x, y] : specks) {
        const auto lx = static_cast<int32_t>(cx + (x + 1 - cx) * c + (y + 1 - cy) * s);
        const auto ly = static_cast<int32_t>(cy - (x + 1 - cx) * s + (y + 1 - cy) * c);
        for (int32_t v = ly - 6; v <= ly + 6; ++v)
            for (int32_t u = lx - 6; u <= lx + 6; ++u) left += got.Ink(u, v);
    }
    EXPECT_EQ(left, 0);
    // The text is all there (the turn back thickens the strokes' edges a little).
    const double ratio = double(got.InkCount()) / double(DrawTurned(W, H, boxes, 0).InkCount());
    EXPECT_GT(ratio, 0.97);
    EXPECT_LT(ratio, 1.1);
}

// Anti-aliased colour text on white: any flattening or speck removal would
// change some stroke edge.
TEST(CleanRun, CleanLevelPageEqualsPlainThreshold) {
    ScratchDir dir;
    DrawTextLines({"A clean page, level; its dots", "and commas (i, j, ;) stay.", "Nothing to do."},
                  dir.File("in.png"));
    const ProgramResult clean =
        RunSheetmend({"-clean", "-threshold", "0", dir.File("in.png"), dir.File("clean.png")});
    RunSheetmend({"-threshold", "0", dir.File("in.png"), dir.File("plain.png")});
    EXPECT_NE(clean.out.find("[Message] Clean: no border, "), std::string::npos) << clean.out;
    EXPECT_NE(clean.out.find(", 0 specks removed."), std::string::npos) << clean.out;
    EXPECT_TRUE(SamePixels(LoadOrFail(dir.File("clean.png")), LoadOrFail(dir.File("plain.png"))));
}

}  // namespace
}  // namespace sheetmend::testing
