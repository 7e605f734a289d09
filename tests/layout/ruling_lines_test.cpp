// Ruling-line detection on pages drawn in code. Expected line boxes follow
// from the drawing: a horizontal stroke runs from 4 pixels into its first
// full byte to 4 pixels into its last; a vertical stroke covers the two-pixel
// columns it touches and the 8-row steps (counted from the band's top) it
// fills completely.
#include <gtest/gtest.h>

#include "layout/segmentation_internal.h"
#include "tests/layout/layout_test_page.h"

namespace sheetmend {
namespace {

using layout_internal::Box;
using layout_internal::FindRuleLines;
using layout_internal::RuleLine;
using layout_internal::Segmenter;
using testing::TestPage;

struct Found {
    bool ok = false;
    std::vector<RuleLine> horizontal, vertical;
};

Found Detect(const TestPage& page, Box band = {}) {
    EngineContext ctx = page.Context();
    Segmenter s(ctx);
    s.region = Box{0, 0, page.Width() - 1, page.Height() - 1};
    if (band == Box{}) band = s.region;
    Found f;
    f.ok = FindRuleLines(s, band);
    f.horizontal = s.horizontalLines;
    f.vertical = s.verticalLines;
    return f;
}

// A table of 3-pixel strokes: rows at y = 300, 500, 700, 900 from x = 200 to
// 1399, columns at the given x from y = 300 to 902.
void DrawTable(TestPage& page, std::vector<int32_t> columns = {200, 600, 1000, 1397}) {
    for (int32_t y : {300, 500, 700, 900}) page.Fill(200, y, 1399, y + 2);
    for (int32_t x : columns) page.Fill(x, 300, x + 2, 902);
}

TEST(RuleLines, TableGivesEveryStrokeWithItsBox) {
    TestPage page(1600, 1400);
    DrawTable(page);
    page.Text(250, 350, 550, 2);  // text in a cell must not add lines
    const Found f = Detect(page);
    ASSERT_TRUE(f.ok);
    // Full bytes 25 (x 200) to 174 (x 1399): 204..1396.
    const std::vector<RuleLine> rows = {
        {204, 300, 1396, 302}, {204, 500, 1396, 502}, {204, 700, 1396, 702}, {204, 900, 1396, 902}};
    EXPECT_EQ(f.horizontal, rows);
    // Steps 304..895 are filled; x 1397..1399 touches the columns 1396..1399.
    const std::vector<RuleLine> columns = {
        {200, 304, 203, 895}, {600, 304, 603, 895}, {1000, 304, 1003, 895}, {1396, 304, 1399, 895}};
    EXPECT_EQ(f.vertical, columns);
}

TEST(RuleLines, NothingWithoutTwoGridRowsAndColumns) {
    struct Case {
        const char* what;
        void (*draw)(TestPage&);
    };
    const Case cases[] = {
        {"blank page", [](TestPage&) {}},
        {"one long horizontal rule between two text columns",
         [](TestPage& p) {
             p.Text(100, 100, 700, 8);
             p.Text(900, 100, 1500, 8);
             p.Fill(100, 600, 1500, 602);
             p.Text(100, 650, 700, 5);
         }},
        {"one vertical rule", [](TestPage& p) { p.Fill(800, 100, 802, 900); }},
        {"two vertical rules closer than 30 pixels",
         [](TestPage& p) {
             p.Fill(800, 100, 802, 900);
             p.Fill(820, 100, 822, 900);
         }},
        {"a page of text", [](TestPage& p) { p.Text(100, 100, 1500, 14); }},
        {"short rules only",
         [](TestPage& p) {
             for (int32_t y = 100; y < 900; y += 100) p.Fill(300, y, 450, y + 2);
             for (int32_t x = 600; x < 1400; x += 100) p.Fill(x, 100, x + 2, 250);
         }},
    };
    for (const Case& c : cases) {
        TestPage page(1600, 1000);
        c.draw(page);
        const Found f = Detect(page);
        EXPECT_TRUE(f.ok) << c.what;
        EXPECT_TRUE(f.horizontal.empty()) << c.what;
        EXPECT_TRUE(f.vertical.empty()) << c.what;
    }
}

TEST(RuleLines, ColumnRulesAloneMakeAGridFromTheirEnds) {
    TestPage page(2000, 2000);
    page.Fill(700, 200, 702, 1803);
    page.Fill(1300, 200, 1302, 1803);
    page.Text(100, 200, 650, 20);
    page.Text(750, 200, 1250, 20);
    const Found f = Detect(page);
    ASSERT_TRUE(f.ok);
    EXPECT_TRUE(f.horizontal.empty());
    const std::vector<RuleLine> expected = {{700, 200, 703, 1799}, {1300, 200, 1303, 1799}};
    EXPECT_EQ(f.vertical, expected);
}

TEST(RuleLines, BrokenRulesJoinOnlyAcrossShortGaps) {
    struct Case {
        int32_t secondStart;
        std::vector<RuleLine> atRow500;
    };
    // The first piece is x 200..599 (bytes 25..74: 204..596).
    const Case cases[] = {
        {620, {{204, 500, 1396, 502}}},                        // 628 - 596 = 32 pixels apart
        {640, {{204, 500, 596, 502}, {644, 500, 1396, 502}}},  // 48 apart: two lines
    };
    for (const Case& c : cases) {
        TestPage page(1600, 1400);
        DrawTable(page, {200, 1397});
        page.Fill(200, 500, 1399, 502);
        for (int32_t y = 500; y <= 502; ++y)
            for (int32_t x = 600; x < c.secondStart; ++x)
                page.Bytes()[y * 200 + x / 8] &= ~(0x80 >> (x & 7));
        const Found f = Detect(page);
        std::vector<RuleLine> atRow;
        for (const RuleLine& l : f.horizontal)
            if (l.y0 == 500) atRow.push_back(l);
        std::sort(atRow.begin(), atRow.end(), [](auto& a, auto& b) { return a.x0 < b.x0; });
        EXPECT_EQ(atRow, c.atRow500) << c.secondStart;
    }
}

TEST(RuleLines, ShortLinesStayWhenTheyCoverTheirCell) {
    // Grid columns at the centres 202 and 442: a cell 240 wide. A short line
    // must cover more than 9/16 of it alone (152 > 150) but only more than
    // 4/16 when it continues a longer line.
    struct Case {
        int32_t x0, x1, y;
        bool kept;
        RuleLine line;
    };
    const Case cases[] = {
        {248, 407, 600, true, {252, 600, 404, 602}},   // bytes 31..50: 152 long
        {248, 399, 600, false, {}},                    // bytes 31..49: 144 long
        {280, 423, 300, true, {284, 300, 1396, 302}},  // continues the row at y 300
    };
    for (const Case& c : cases) {
        TestPage page(1600, 1400);
        for (int32_t y : {500, 700, 900}) page.Fill(200, y, 1399, y + 2);
        page.Fill(440, 300, 1399, 302);
        for (int32_t x : {200, 440, 1000, 1397}) page.Fill(x, 300, x + 2, 902);
        page.Fill(c.x0, c.y, c.x1, c.y + 2);
        const Found f = Detect(page);
        bool found = false;
        for (const RuleLine& l : f.horizontal) found |= l.y0 == c.y && l.x0 < 440;
        EXPECT_EQ(found, c.kept) << c.x0 << ".." << c.x1;
        if (c.kept) {
            EXPECT_NE(std::find(f.horizontal.begin(), f.horizontal.end(), c.line),
                      f.horizontal.end())
                << c.x0 << ".." << c.x1;
        }
    }
}

TEST(RuleLines, ThickAndSlightlyBrokenStrokesGiveOneLine) {
    // An 8-pixel rule whose rows 3 and 4 are missing in every other byte: the
    // rows around the holes still join into one line of the full thickness.
    TestPage page(1600, 1400);
    DrawTable(page);
    page.Fill(200, 1100, 1399, 1107);
    for (int32_t x = 200; x < 1400; x += 16)
        for (int32_t y = 1103; y <= 1104; ++y)
            for (int32_t i = 0; i < 8; ++i)
                page.Bytes()[y * 200 + (x + i) / 8] &= ~(0x80 >> ((x + i) & 7));
    page.Fill(200, 900, 202, 1107);  // the first column reaches it
    const Found f = Detect(page);
    int n = 0;
    for (const RuleLine& l : f.horizontal)
        if (l.y0 >= 1090) {
            ++n;
            EXPECT_EQ(l, (RuleLine{204, 1100, 1396, 1107}));
        }
    EXPECT_EQ(n, 1);
}

TEST(RuleLines, ManyNarrowStripesAcrossTheWholeRow) {
    // 500 two-pixel stripes 8 pixels apart in every row: far more column
    // stretches than a fixed table would hold. Lines must be found up to the
    // right edge.
    TestPage page(4000, 600);
    for (int32_t y = 40; y < 560; ++y)
        for (int32_t b = 0; b < 500; ++b) page.Bytes()[y * 500 + b] = 0xC0;
    const Found f = Detect(page);
    ASSERT_TRUE(f.ok);
    EXPECT_TRUE(f.horizontal.empty());
    ASSERT_GE(f.vertical.size(), 50u);
    int32_t right = 0;
    for (const RuleLine& l : f.vertical) {
        right = std::max(right, l.x1);
        EXPECT_GE(l.y0, 40);
        EXPECT_LE(l.y1, 559);
    }
    EXPECT_GE(right, 3993);
}

TEST(RuleLines, DarkAreasAreNoRules) {
    // Solid patches and dense halftones pass the stroke tests in every
    // column; only strokes with paper on at least one side are rules. Next
    // to a table the solid patch adds its two outer edges at most.
    TestPage page(1600, 1400);
    DrawTable(page);
    page.Fill(200, 1000, 900, 1300);
    const Found f = Detect(page);
    for (const RuleLine& l : f.vertical) {
        if (l.y0 < 1000) continue;
        EXPECT_TRUE(l.x0 <= 203 || l.x1 >= 896) << ::testing::PrintToString(l);
    }
    for (const RuleLine& l : f.horizontal) {
        if (l.y0 < 1000) continue;
        EXPECT_TRUE(l.y0 <= 1003 || l.y1 >= 1296) << ::testing::PrintToString(l);
    }
}

TEST(RuleLines, OutOfMemoryLeavesNoLines) {
    TestPage page(1600, 1400);
    DrawTable(page);
    EngineContext ctx = page.Context();
    Segmenter s(ctx);
    s.region = Box{0, 0, 1599, 1399};
    s.horizontalLines.push_back(RuleLine{1, 1, 300, 1});
    s.failLineMemory = true;
    EXPECT_FALSE(FindRuleLines(s, s.region));
    EXPECT_TRUE(s.horizontalLines.empty());
    EXPECT_TRUE(s.verticalLines.empty());
}

}  // namespace
}  // namespace sheetmend
