// Splits along separators and around boxes, merges, sparse blocks and the
// rejoining of neighbours, on an A4 page at 300 dpi (2480 x 3508). The
// expected pieces are worked out by hand from the cut rules: 11 pixels are
// left clear on each side of a separator, pieces under 300 wide or, away from
// the page's top and bottom, under 450 high are too small to stand alone.
#include <gtest/gtest.h>

#include "layout/segmentation_internal.h"
#include "tests/layout/layout_test_page.h"

namespace sheetmend {
namespace {

using namespace layout_internal;
using testing::TestPage;

constexpr PageBlock kPage{0, 0, 2479, 3507, 0};

struct Cut {
    const char* what;
    RuleLine line;
    PageBlock block;
    bool splits;
    std::vector<PageBlock> result;  // the pieces, or the block as it stays
};

void CheckCuts(const std::vector<Cut>& cases, bool vertical) {
    TestPage page(2480, 3508);
    EngineContext ctx = page.Context();
    Segmenter s(ctx);
    s.region = Box{0, 0, 2479, 3507};
    for (const Cut& c : cases) {
        PageBlock b = c.block;
        std::vector<PageBlock> pieces;
        const bool split = vertical ? SplitByVerticalLine(s, c.line, b, pieces)
                                    : SplitByHorizontalLine(s, c.line, b, pieces);
        EXPECT_EQ(split, c.splits) << c.what;
        if (split)
            EXPECT_EQ(pieces, c.result) << c.what;
        else
            EXPECT_EQ(std::vector<PageBlock>{b}, c.result) << c.what;
    }
}

TEST(SegmentationCuts, HorizontalSeparators) {
    CheckCuts(
        {
            {"across the page",
             {100, 1500, 2400, 1503},
             kPage,
             true,
             {{0, 0, 2479, 1489}, {0, 1514, 2479, 3507}}},
            {"too short to matter", {100, 1500, 600, 1503}, kPage, false, {kPage}},
            {"near the top trims the block",
             {0, 50, 2479, 52},
             kPage,
             false,
             {{0, 63, 2479, 3507}}},
            {"near the top but not across 85 %", {0, 50, 2000, 52}, kPage, false, {kPage}},
            {"from the left edge",
             {100, 1500, 1800, 1503},
             kPage,
             true,
             {{0, 0, 1800, 1489}, {0, 1514, 1800, 3507}, {1801, 0, 2479, 3507}}},
            {"to the right edge",
             {700, 1500, 2479, 1503},
             kPage,
             true,
             {{0, 0, 699, 3507}, {700, 0, 2479, 1489}, {700, 1514, 2479, 3507}}},
            {"touching neither edge", {700, 1500, 1800, 1503}, kPage, false, {kPage}},
            {"a piece would be too small",
             {0, 1300, 2479, 1302},
             {0, 1000, 2479, 1700, 0},
             false,
             {{0, 1000, 2479, 1700, 0}}},
        },
        false);
}

TEST(SegmentationCuts, VerticalSeparators) {
    CheckCuts(
        {
            {"down the page",
             {1200, 100, 1203, 3450},
             kPage,
             true,
             {{0, 0, 1189, 3507}, {1214, 0, 2479, 3507}}},
            {"from the top",
             {1200, 100, 1203, 2000},
             kPage,
             true,
             {{0, 0, 1189, 2000}, {1214, 0, 2479, 2000}, {0, 2001, 2479, 3507}}},
            {"to the bottom",
             {1200, 1500, 1203, 3500},
             kPage,
             true,
             {{0, 0, 2479, 1499}, {0, 1500, 1189, 3507}, {1214, 1500, 2479, 3507}}},
            {"near the left trims the block",
             {50, 0, 52, 3507},
             kPage,
             false,
             {{63, 0, 2479, 3507}}},
            {"near the right trims the block",
             {2420, 0, 2422, 3507},
             kPage,
             false,
             {{0, 0, 2409, 3507}}},
            // 350 rows: below the 400 that a vertical separator needs.
            {"too short to matter", {1200, 1500, 1203, 1850}, kPage, false, {kPage}},
            {"a piece would be too narrow",
             {200, 100, 203, 3450},
             {0, 0, 2479, 3507, 0},
             false,
             {kPage}},
        },
        true);
}

TEST(SegmentationCuts, IsSmallPiece) {
    TestPage page(2480, 3508);
    EngineContext ctx = page.Context();
    Segmenter s(ctx);
    s.region = Box{0, 0, 2479, 3507};
    struct Case {
        PageBlock p;
        bool small;
    } cases[] = {
        {{0, 0, 299, 3507}, true},       // 299 wide
        {{0, 0, 300, 3507}, false},      // 300 wide, full height
        {{0, 100, 2479, 549}, true},     // 449 high inside the page
        {{0, 100, 2479, 550}, false},    // 450 high
        {{0, 0, 2479, 200}, false},      // low but at the top and full width
        {{0, 3300, 2479, 3507}, false},  // low but at the bottom and full width
        {{0, 0, 2000, 200}, true},       // low at the top but under 85 % wide
        {{0, 0, 2107, 200}, true},       // 2107 < 0.85 x 2479 = 2107.15
        {{0, 0, 2108, 200}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsSmallPiece(s, c.p.x0, c.p.y0, c.p.x1, c.p.y1), c.small)
            << c.p.x0 << "," << c.p.y0 << "," << c.p.x1 << "," << c.p.y1;
}

TEST(SegmentationCuts, SplitAroundBoxKeepsTheInkRunsWithTheBox) {
    TestPage page(2480, 3508);
    page.Fill(600, 985, 700, 999);    // ink just above the box: first blank row 984
    page.Fill(600, 2001, 700, 2004);  // and below it: first blank row 2005
    EngineContext ctx = page.Context();
    Segmenter s(ctx);
    s.region = Box{0, 0, 2479, 3507};
    const Box box{500, 1000, 1500, 2000};
    PageBlock b = kPage;
    std::vector<PageBlock> pieces;
    int32_t above = 0, below = 0;
    ASSERT_TRUE(SplitAroundBox(s, box, b, pieces, &above, &below));
    EXPECT_EQ(above, 16);
    EXPECT_EQ(below, 5);
    const std::vector<PageBlock> expected = {
        {0, 984, 489, 2005}, {0, 0, 2479, 983}, {1511, 984, 2479, 2005}, {0, 2006, 2479, 3507}};
    EXPECT_EQ(pieces, expected);

    // Ink through the 100 rows above gives the default run of 10; a blank
    // row right above gives 1.
    page.Fill(10, 880, 10, 999);
    EngineContext ctx2 = page.Context();
    EXPECT_EQ(InkRunAbove(ctx2, box, kPage), 10);
    EXPECT_EQ(InkRunAbove(ctx2, Box{500, 900, 1500, 950}, PageBlock{1000, 0, 2479, 3507, 0}), 1);
    EXPECT_EQ(InkRunBelow(ctx2, Box{500, 1900, 1500, 2000}, kPage), 5);
}

TEST(SegmentationCuts, SplitAroundBoxTrimsBlocksItOnlyTouches) {
    TestPage page(2480, 3508);
    EngineContext ctx = page.Context();
    Segmenter s(ctx);
    s.region = Box{0, 0, 2479, 3507};
    struct Case {
        Box box;
        PageBlock trimmed;
    } cases[] = {
        {{0, 1000, 5, 2000}, {16, 0, 2479, 3507, 0}},
        {{2475, 1000, 2479, 2000}, {0, 0, 2464, 3507, 0}},
        {{500, 0, 1500, 9}, {0, 20, 2479, 3507, 0}},
        {{500, 3500, 1500, 3507}, {0, 0, 2479, 3489, 0}},
    };
    for (const Case& c : cases) {
        PageBlock b = kPage;
        std::vector<PageBlock> pieces;
        int32_t above = 0, below = 0;
        EXPECT_FALSE(SplitAroundBox(s, c.box, b, pieces, &above, &below));
        EXPECT_EQ(b, c.trimmed);
        EXPECT_TRUE(pieces.empty());
    }
}

TEST(SegmentationCuts, Merges) {
    std::vector<PageBlock> side = {
        {0, 0, 999, 500, 0}, {0, 600, 999, 900, 0}, {1000, 2, 2479, 503, 0}};
    MergeSideBySide(side);
    EXPECT_EQ(side, (std::vector<PageBlock>{{0, 600, 999, 900, 0}, {0, 0, 2479, 503, 0}}));

    std::vector<PageBlock> apart = {{0, 0, 999, 500, 0}, {1000, 5, 2479, 503, 0}};  // tops 5 apart
    MergeSideBySide(apart);
    EXPECT_EQ(apart.size(), 2u);
    std::vector<PageBlock> table = {{0, 0, 999, 500, 1}, {1000, 0, 2479, 500, 0}};
    MergeSideBySide(table);
    EXPECT_EQ(table.size(), 2u);

    std::vector<PageBlock> stacked = {{0, 0, 1000, 500, 0}, {3, 501, 1004, 900, 0}};
    MergeStacked(stacked);
    EXPECT_EQ(stacked, (std::vector<PageBlock>{{0, 0, 1004, 900, 0}}));
    std::vector<PageBlock> gap = {{0, 0, 1000, 500, 0}, {3, 502, 1004, 900, 0}};
    MergeStacked(gap);
    EXPECT_EQ(gap.size(), 2u);
}

TEST(SegmentationCuts, SparseBlocksDisappear) {
    TestPage page(800, 800);
    page.Fill(100, 100, 109, 199);  // 1000 bits
    page.Fill(400, 100, 409, 199);  // 1000 bits ...
    page.Set(420, 300);             // ... and one more
    page.Fill(601, 100, 607, 499);  // 2800 bits in the first byte of its block only
    EngineContext ctx = page.Context();
    std::vector<PageBlock> blocks = {
        {0, 0, 299, 799, 0}, {300, 0, 599, 799, 0}, {601, 0, 799, 799, 0}, {0, 0, 299, 799, 1}};
    DropSparseBlocks(ctx, blocks);
    EXPECT_EQ(blocks, (std::vector<PageBlock>{{300, 0, 599, 799, 0}, {0, 0, 299, 799, 1}}));
}

TEST(SegmentationCuts, FindBlankRowLooksAtMost100Rows) {
    TestPage page(800, 1000);
    page.Fill(0, 0, 15, 999);       // in the two bytes left out at the side
    page.Fill(100, 100, 700, 250);  // rows 100..250 inked
    EngineContext ctx = page.Context();
    const Box box{0, 0, 799, 999};
    EXPECT_EQ(FindBlankRow(ctx, box, 100, true), 100);  // 100..199 all inked
    EXPECT_EQ(FindBlankRow(ctx, box, 200, true), 251);
    EXPECT_EQ(FindBlankRow(ctx, box, 250, false), 250);
    EXPECT_EQ(FindBlankRow(ctx, box, 150, false), 99);
    EXPECT_EQ(FindBlankRow(ctx, box, 20, true), 20);
}

TEST(SegmentationCuts, RejoinMovesTheSeamToABlankRow) {
    TestPage page(2480, 3508);
    page.Fill(100, 500, 2300, 520);  // a line of ink across both blocks
    EngineContext ctx = page.Context();
    Segmenter s(ctx);
    s.region = Box{0, 0, 2479, 3507};

    // C left of A, same bottom: A keeps the part above the first blank row
    // below C's top, C takes the full width below it.
    s.blocks = {{1000, 0, 2479, 2000, 0}, {0, 500, 999, 2000, 0}};
    RejoinNeighbours(s);
    EXPECT_EQ(s.blocks, (std::vector<PageBlock>{{1000, 0, 2479, 520, 0}, {0, 521, 2479, 2000, 0}}));

    // The same with a used line along the seam: nothing changes.
    s.blocks = {{1000, 0, 2479, 2000, 0}, {0, 500, 999, 2000, 0}};
    s.usedLines = {{1000, 500, 1003, 2000}};
    RejoinNeighbours(s);
    EXPECT_EQ(s.blocks, (std::vector<PageBlock>{{1000, 0, 2479, 2000, 0}, {0, 500, 999, 2000, 0}}));

    // A used line that covers 70 % of the seam or less does not guard it.
    s.blocks = {{1000, 0, 2479, 2000, 0}, {0, 500, 999, 2000, 0}};
    s.usedLines = {{1000, 500, 1003, 1550}};
    RejoinNeighbours(s);
    EXPECT_EQ(s.blocks[0], (PageBlock{1000, 0, 2479, 520, 0}));

    // A left of C, C ends lower: A takes the full width down to the blank row
    // searched upward from A's bottom, C keeps what lies below.
    s.usedLines.clear();
    s.blocks = {{0, 0, 999, 1500, 0}, {1000, 0, 2479, 2000, 0}};
    RejoinNeighbours(s);
    EXPECT_EQ(s.blocks,
              (std::vector<PageBlock>{{0, 0, 2479, 1500, 0}, {1000, 1501, 2479, 2000, 0}}));

    // A left of C and ending lower: the seam row is searched upward from C's bottom.
    s.blocks = {{0, 0, 999, 2000, 0}, {1000, 0, 2479, 1500, 0}};
    RejoinNeighbours(s);
    EXPECT_EQ(s.blocks, (std::vector<PageBlock>{{0, 0, 2479, 1500, 0}, {0, 1501, 999, 2000, 0}}));

    // Tables take no part.
    s.blocks = {{1000, 0, 2479, 2000, 1}, {0, 500, 999, 2000, 0}};
    RejoinNeighbours(s);
    EXPECT_EQ(s.blocks, (std::vector<PageBlock>{{1000, 0, 2479, 2000, 1}, {0, 500, 999, 2000, 0}}));
}

}  // namespace
}  // namespace sheetmend
