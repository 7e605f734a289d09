// A newspaper-like A4 page at 300 dpi: a headline over a full-width rule,
// three columns between vertical rules (text; a halftone picture over text;
// text over a block of vertical text), a rule, and a ruled table. Every
// region drawn must be covered by exactly one block, of the right type.
#include <gtest/gtest.h>

#include "layout/segmentation_internal.h"
#include "tests/layout/layout_test_page.h"

namespace sheetmend {
namespace {

using layout_internal::Box;
using layout_internal::StrictlyOverlaps;
using testing::TestPage;

struct Region {
    const char* what;
    Box box;  // where it was drawn
    uint32_t type;
};

TEST(SegmentationNewspaper, EveryRegionIsOneBlockOfItsType) {
    TestPage page(2480, 3508);
    // Headline: letters 56 pixels high with 12-pixel strokes.
    for (int32_t x = 200; x + 300 <= 2280; x += 360)
        for (int32_t c = x; c + 12 <= x + 300; c += 24) page.Fill(c, 180, c + 11, 235);
    page.Fill(100, 350, 2379, 352);
    page.Fill(820, 400, 822, 2300);
    page.Fill(1650, 400, 1652, 2300);
    const int32_t col1 = page.Text(150, 450, 780, 30);
    page.Halftone(880, 450, 1590, 1150);
    const int32_t col2 = page.Text(880, 1300, 1590, 15);
    const int32_t col3 = page.Text(1710, 450, 2330, 12);
    page.VerticalText(1720, 1300, 2250, 10);
    page.Fill(100, 2380, 2379, 2382);
    for (int32_t y : {2460, 2580, 2700, 2820, 2940}) page.Fill(300, y, 2179, y + 2);
    for (int32_t x : {300, 700, 1200, 1700, 2177}) page.Fill(x, 2460, x + 2, 2942);
    for (int32_t y = 2480; y < 2940; y += 120) page.Text(340, y + 20, 660, 1);

    const Region regions[] = {
        {"headline", {200, 180, 2280, 235}, kHorizontalText},
        {"first column", {150, 450, 780, col1}, kHorizontalText},
        {"picture", {880, 450, 1590, 1150}, kPicture},
        {"text under the picture", {880, 1300, 1590, col2}, kHorizontalText},
        {"third column", {1710, 450, 2330, col3}, kHorizontalText},
        {"vertical text", {1720, 1300, 2289, 2250}, kVerticalText},
        {"table", {300, 2460, 2179, 2942}, kTable},
    };
    const std::vector<LayoutBlock> blocks =
        AnalyzeLayout(page.Rows(), page.RowBits(), page.Height(), 0, 0, 2479, 3507);
    int right = 0;
    for (const Region& r : regions) {
        const Box ink = page.InkBounds(r.box);
        std::vector<LayoutBlock> over;
        for (const LayoutBlock& b : blocks)
            if (StrictlyOverlaps(b, ink)) over.push_back(b);
        const bool covered = over.size() == 1 && over[0].x0 <= ink.x0 && over[0].y0 <= ink.y0 &&
                             over[0].x1 >= ink.x1 && over[0].y1 >= ink.y1;
        const bool ok = covered && over[0].type == r.type;
        right += ok;
        EXPECT_TRUE(ok) << r.what << ": " << over.size() << " blocks over it"
                        << (over.empty() ? "" : ", the first " + ::testing::PrintToString(over[0]));
    }
    std::printf("newspaper page: %d of %zu regions found as one block of the right type\n", right,
                std::size(regions));
    for (const LayoutBlock& b : blocks) std::printf("  %s\n", ::testing::PrintToString(b).c_str());
}

}  // namespace
}  // namespace sheetmend
