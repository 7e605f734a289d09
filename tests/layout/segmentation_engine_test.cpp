// The engine's stages together on drawn pages: the content band, tables and
// frames, the final typing, sparse pages and running out of memory for the
// ruling lines.
#include <gtest/gtest.h>

#include "layout/segmentation_internal.h"
#include "tests/layout/layout_test_page.h"

namespace sheetmend {
namespace {

using namespace layout_internal;
using testing::TestPage;

std::vector<LayoutBlock> Analyze(const TestPage& page) {
    return AnalyzeLayout(page.Rows(), page.RowBits(), page.Height(), 0, 0, page.Width() - 1,
                         page.Height() - 1);
}

// What the engine gives when it hands the whole region to the block analysis.
std::vector<LayoutBlock> WholeRegionAnalysis(const TestPage& page) {
    EngineContext ctx = page.Context();
    std::vector<LayoutBlock> out;
    for (const BlockRecord& r : AnalyzeBlock(ctx, 0, 0, page.Width() - 1, page.Height() - 1))
        out.push_back(LayoutBlock{r.x0, r.y0, r.x1, r.y1, r.type});
    RetypeBlocks(ctx, out);
    return out;
}

bool Within(const LayoutBlock& b, const Box& box) {
    return b.x0 >= box.x0 && b.y0 >= box.y0 && b.x1 <= box.x1 && b.y1 <= box.y1;
}

TEST(SegmentationEngine, ContentBand) {
    struct Case {
        const char* what;
        std::vector<Box> ink;
        bool found;
        int32_t y0, y1;
    };
    const Case cases[] = {
        {"blank page", {}, false, 0, 0},
        {"178 inked rows", {{100, 100, 700, 277}}, false, 0, 0},
        // Last blank sample above: 98; first blank sample below: 280.
        {"180 inked rows", {{100, 100, 700, 279}}, true, 58, 288},
        {"ink from the first row", {{100, 0, 700, 299}}, true, 0, 308},
        {"two stretches", {{100, 100, 700, 399}, {100, 600, 700, 899}}, true, 58, 908},
        {"down to the last row", {{100, 600, 700, 999}}, true, 558, 999},
        {"ink right of the region only", {{900, 100, 1000, 600}}, false, 0, 0},
    };
    for (const Case& c : cases) {
        TestPage page(1200, 1000);
        for (const Box& b : c.ink) page.Fill(b.x0, b.y0, b.x1, b.y1);
        EngineContext ctx = page.Context();
        Box band;
        const bool found = FindContentBand(ctx, Box{0, 0, 799, 999}, &band);
        EXPECT_EQ(found, c.found) << c.what;
        if (found && c.found) {
            EXPECT_EQ(band, (Box{0, c.y0, 799, c.y1})) << c.what;
        }
    }
}

TEST(SegmentationEngine, WithoutContentBandThePageGoesToTheBlockAnalysisWhole) {
    // A short ruled table, 150 rows high: with a content band it would be a
    // table; without one there are no lines at all.
    TestPage page(1600, 1200);
    page.Text(200, 100, 1400, 2);
    for (int32_t y : {300, 375, 447}) page.Fill(200, y, 1399, y + 2);
    for (int32_t x : {200, 320, 800, 1397}) page.Fill(x, 300, x + 2, 449);
    page.Text(200, 600, 1400, 2);
    const std::vector<LayoutBlock> blocks = Analyze(page);
    EXPECT_EQ(blocks, WholeRegionAnalysis(page));
    for (const LayoutBlock& b : blocks) EXPECT_NE(b.type, kTable);
}

TEST(SegmentationEngine, ALongRuleWithoutAGridIsNoSeparator) {
    TestPage page(1800, 1400);
    page.Text(100, 100, 850, 8);
    page.Text(950, 100, 1700, 8);
    page.Fill(100, 600, 1700, 603);
    page.Text(100, 660, 850, 8);
    page.Text(950, 660, 1700, 8);
    EXPECT_EQ(Analyze(page), WholeRegionAnalysis(page));
}

// A table 1200 x 603 with an inner column line 120 pixels from its left
// edge, text above and below it.
TestPage DrawTablePage() {
    TestPage page(2000, 2000);
    page.Text(200, 200, 1800, 5);
    for (int32_t y : {600, 800, 1000, 1200}) page.Fill(400, y, 1599, y + 2);
    for (int32_t x : {400, 520, 1000, 1597}) page.Fill(x, 600, x + 2, 1202);
    page.Text(540, 650, 980, 2);
    page.Text(200, 1300, 1800, 6);
    return page;
}

TEST(SegmentationEngine, RuledTableIsOneTableBlockWidenedBy10) {
    const TestPage page = DrawTablePage();
    const std::vector<LayoutBlock> blocks = Analyze(page);
    // The lines' box is x 400..1599, y 600..1202; blank rows lie right above
    // and below it, so it grows by 1 row up and down and 10 pixels sideways.
    const LayoutBlock table{390, 599, 1609, 1203, kTable};
    EXPECT_EQ(std::count(blocks.begin(), blocks.end(), table), 1);
    for (const LayoutBlock& b : blocks) {
        if (b == table) continue;
        EXPECT_NE(b.type, kTable);
        EXPECT_FALSE(StrictlyOverlaps(b, table))
            << b.x0 << "," << b.y0 << "," << b.x1 << "," << b.y1;
    }
}

TEST(SegmentationEngine, BoxRoundAParagraphIsAFrame) {
    TestPage page(2000, 2000);
    page.Text(200, 150, 1800, 4);
    page.Frame(400, 500, 1599, 1300);
    page.Text(450, 560, 1550, 11);
    page.Text(200, 1400, 1800, 6);

    EngineContext ctx = page.Context();
    Segmenter s(ctx);
    s.region = Box{0, 0, 1999, 1999};
    s.blocks = {{0, 0, 1999, 1999, 0}};
    Box band;
    ASSERT_TRUE(FindContentBand(ctx, s.region, &band));
    ASSERT_TRUE(FindRuleLines(s, band));
    ASSERT_EQ(s.horizontalLines.size(), 2u);
    ASSERT_EQ(s.verticalLines.size(), 2u);
    FindRuleGroups(s);
    // The borders are used up, no line is left as a separator, no table.
    EXPECT_EQ(s.usedLines.size(), 4u);
    EXPECT_TRUE(s.horizontalLines.empty() && s.verticalLines.empty());
    EXPECT_TRUE(s.horizontalSeparators.empty() && s.verticalSeparators.empty());
    EXPECT_TRUE(s.tables.empty());
    // The frame box is the horizontal strokes' box, x 400..1599 and y
    // 500..1300 (the vertical strokes fall inside it), inset by 15.
    const Box inside{415, 515, 1584, 1285};
    bool found = false;
    for (const PageBlock& b : s.blocks)
        found |= b == PageBlock{inside.x0, inside.y0, inside.x1, inside.y1, 0};
    EXPECT_TRUE(found);
    // The page around the frame is cut into the part above it, the sides
    // (with the blank rows next to the frame) and the part below.
    const std::vector<PageBlock> around = {{0, 0, 1999, 498, 0},
                                           {0, 499, 389, 1301, 0},
                                           {1610, 499, 1999, 1301, 0},
                                           {415, 515, 1584, 1285, 0},
                                           {0, 1302, 1999, 1999, 0}};
    EXPECT_EQ(s.blocks, around);

    // Through the whole engine: every result lies inside the frame or clear
    // of it, and the paragraph inside is text.
    const Box frame{400, 500, 1599, 1300};
    int inner = 0;
    for (const LayoutBlock& b : Analyze(page)) {
        if (Within(b, inside)) {
            ++inner;
            EXPECT_EQ(b.type, kHorizontalText);
        } else {
            EXPECT_FALSE(StrictlyOverlaps(b, frame))
                << b.x0 << "," << b.y0 << "," << b.x1 << "," << b.y1;
        }
    }
    EXPECT_GE(inner, 1);
}

TEST(SegmentationEngine, FinalTypingBySizeAndRules) {
    TestPage page(2000, 1000);
    page.Fill(100, 100, 139, 399);                                      // 40 x 300, every row inked
    page.Fill(200, 100, 269, 399);                                      // 70 x 300
    for (int32_t y = 100; y <= 399; y += 2) page.Fill(300, y, 339, y);  // half the rows
    page.Fill(400, 500, 799, 539);  // 400 x 40, every column inked
    page.Fill(400, 600, 799, 669);  // 400 x 70
    page.Fill(1000, 500, 1399, 539);
    for (int32_t x = 1000; x <= 1399; x += 4) page.Fill(x, 500, x + 1, 539);  // not every column...
    for (int32_t x = 1002; x <= 1399; x += 4) page.Fill(x, 500, x + 1, 500);  // ...yes, via one row
    page.Fill(1400, 100, 1799, 499);
    for (int32_t x = 1600; x <= 1999; x += 2) page.Fill(x, 700, x, 739);  // half the columns
    EngineContext ctx = page.Context();
    struct Case {
        LayoutBlock in;
        bool kept;
        uint32_t type;
    } cases[] = {
        {{100, 100, 139, 399, kPicture}, false, 0},
        {{200, 100, 269, 399, kPicture}, true, kVerticalText},
        {{300, 100, 339, 399, kPicture}, true, kVerticalText},
        {{400, 500, 799, 539, kPicture}, false, 0},
        {{400, 600, 799, 669, kPicture}, true, kHorizontalText},
        {{1000, 500, 1399, 539, kVerticalText}, false, 0},
        {{1400, 100, 1799, 499, kPicture}, true, kPicture},
        {{1400, 100, 1799, 499, kVerticalText}, true, kVerticalText},
        {{1600, 700, 1999, 739, kPicture}, true, kHorizontalText},
        {{0, 0, 100, 50, kTable}, true, kHorizontalText},
    };
    for (const Case& c : cases) {
        std::vector<LayoutBlock> blocks = {c.in};
        RetypeBlocks(ctx, blocks);
        ASSERT_EQ(blocks.size(), c.kept ? 1u : 0u) << c.in.x0 << "," << c.in.y0;
        if (c.kept) {
            EXPECT_EQ(blocks[0].type, c.type) << c.in.x0 << "," << c.in.y0;
        }
    }
}

TEST(SegmentationEngine, PagesWith1000InkedPixelsOrFewerHaveNoBlocks) {
    struct Case {
        int32_t width;  // of a stroke 400 rows high
        bool blocks;
    } cases[] = {{1, false}, {2, false}, {3, true}};  // 400, 800, 1200 pixels
    for (const Case& c : cases) {
        TestPage page(1200, 1000);
        page.Fill(600, 300, 600 + c.width - 1, 699);
        EXPECT_EQ(!Analyze(page).empty(), c.blocks) << c.width;
    }
}

TEST(SegmentationEngine, OutOfMemoryForLinesSaysSoAndGoesOn) {
    const TestPage page = DrawTablePage();
    EngineContext ctx = page.Context();
    Segmenter s(ctx);
    s.region = Box{0, 0, page.Width() - 1, page.Height() - 1};
    s.failLineMemory = true;
    ::testing::internal::CaptureStderr();
    const std::vector<LayoutBlock> blocks = RunSegmentation(s);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Bad memory.\n");
    EXPECT_FALSE(blocks.empty());
    for (const LayoutBlock& b : blocks) EXPECT_NE(b.type, kTable);
}

TEST(SegmentationEngine, RegionsOutsideThePageAreClipped) {
    TestPage page(800, 600);
    page.Fill(100, 100, 600, 500);
    EXPECT_TRUE(
        AnalyzeLayout(page.Rows(), page.RowBits(), page.Height(), 900, 0, 1000, 599).empty());
    EXPECT_TRUE(AnalyzeLayout(nullptr, 0, 0, 0, 0, 10, 10).empty());
    const std::vector<LayoutBlock> blocks =
        AnalyzeLayout(page.Rows(), page.RowBits(), page.Height(), -50, -50, 5000, 5000);
    for (const LayoutBlock& b : blocks) EXPECT_TRUE(Within(b, Box{0, 0, 799, 599}));
}

}  // namespace
}  // namespace sheetmend

namespace sheetmend {
namespace {

using layout_internal::Box;
using testing::TestPage;

// Odd pages must give blocks inside the region and never fault: tiny and
// thin pages, random noise of several densities, solid black, and regions
// given the wrong way round.
TEST(SegmentationEngine, OddPagesGiveBlocksInsideTheRegion) {
    struct Case {
        int32_t w, h, density;  // density in 1/16 of pixels inked; 16: solid
    } cases[] = {{1, 1, 16},    {16, 1, 8},    {1, 1000, 16}, {19, 800, 16},  {300, 300, 16},
                 {900, 700, 1}, {900, 700, 4}, {900, 700, 8}, {900, 700, 12}, {1200, 600, 16}};
    uint32_t state = 12345;
    auto next = [&] {
        state = state * 1103515245u + 12345u;
        return (state >> 16) & 15;
    };
    for (const Case& c : cases) {
        TestPage page(c.w, c.h);
        for (int32_t y = 0; y < c.h; ++y)
            for (int32_t x = 0; x < c.w; ++x)
                if (static_cast<int32_t>(next()) < c.density) page.Set(x, y);
        const Box region{0, 0, c.w - 1, c.h - 1};
        for (const LayoutBlock& b :
             AnalyzeLayout(page.Rows(), page.RowBits(), page.Height(), 0, 0, c.w - 1, c.h - 1)) {
            EXPECT_TRUE(b.x0 >= region.x0 && b.y0 >= region.y0 && b.x1 <= region.x1 &&
                        b.y1 <= region.y1 && b.x0 <= b.x1 && b.y0 <= b.y1)
                << c.w << "x" << c.h << "/" << c.density << ": " << ::testing::PrintToString(b);
            EXPECT_LE(b.type, 3u);
        }
        EXPECT_TRUE(
            AnalyzeLayout(page.Rows(), page.RowBits(), page.Height(), c.w - 1, c.h - 1, 0, 0)
                .empty() ||
            c.w == 1 || c.h == 1);
    }
}

}  // namespace
}  // namespace sheetmend
