// Classifying groups of crossing lines: tables keep their lines, frames give
// up their borders and leave their inside as a block, anything else leaves
// its tallest line as a separator.
#include <gtest/gtest.h>

#include "layout/segmentation_internal.h"
#include "tests/layout/layout_test_page.h"

namespace sheetmend {
namespace {

using namespace layout_internal;
using testing::TestPage;

// A box x 400..1599, y 600..1200 outlined by four border lines.
const RuleLine kLeft{400, 600, 403, 1200}, kRight{1596, 600, 1599, 1200};
const RuleLine kTop{404, 600, 1596, 602}, kBottom{404, 1198, 1596, 1200};

struct Outcome {
    size_t tables, used, vLeft, hLeft, vSeparators;
    bool insideBlock;
};

Outcome Classify(std::vector<RuleLine> verticals, std::vector<RuleLine> horizontals) {
    static TestPage page(2000, 2000);
    EngineContext ctx = page.Context();
    Segmenter s(ctx);
    s.region = Box{0, 0, 1999, 1999};
    s.blocks = {{0, 0, 1999, 1999, 0}};
    for (const RuleLine& l : verticals) InsertVertical(s.verticalLines, l);
    for (const RuleLine& l : horizontals) InsertHorizontal(s.horizontalLines, l);
    FindRuleGroups(s);
    Outcome o{s.tables.size(),
              s.usedLines.size(),
              s.verticalLines.size(),
              s.horizontalSeparators.size(),
              s.verticalSeparators.size(),
              false};
    for (const PageBlock& b : s.blocks) o.insideBlock |= b == PageBlock{415, 615, 1584, 1185, 0};
    return o;
}

TEST(SegmentationGroups, TablesFramesAndLooseLines) {
    struct Case {
        const char* what;
        std::vector<RuleLine> v, h;
        Outcome expected;
    };
    const Case cases[] = {
        {"inner column 120 from the left",
         {kLeft, kRight, {520, 600, 523, 1200}},
         {kTop, kBottom},
         {1, 0, 0, 0, 0, false}},
        {"inner row 100 from the top",
         {kLeft, kRight},
         {kTop, kBottom, {404, 700, 1596, 702}},
         {1, 0, 0, 0, 0, false}},
        {"four borders only", {kLeft, kRight}, {kTop, kBottom}, {0, 4, 0, 0, 0, true}},
        // 40 from the left edge is neither a border nor an inner line; the
        // frame keeps it as a separator of its own.
        {"borders and a line 40 from the left",
         {kLeft, kRight, {440, 600, 443, 1200}},
         {kTop, kBottom},
         {0, 4, 0, 0, 1, true}},
        // A line 350 from both sides is too far in to be an inner line.
        {"borders and a middle line of a wide box",
         {kLeft, kRight, {1000, 600, 1003, 1200}},
         {{404, 600, 2296, 602}, {404, 1198, 2296, 1200}},
         {0, 0, 0, 2, 3, false}},
        {"one full-width line", {kLeft, kRight}, {kTop}, {0, 0, 0, 1, 2, false}},
        {"right border missing",
         {kLeft, {1000, 600, 1003, 1200}},
         {kTop, kBottom},
         {0, 0, 0, 2, 2, false}},
        {"a vertical line far from any other",
         {{100, 1500, 103, 1900}},
         {kTop, kBottom},
         {0, 0, 0, 2, 1, false}},
    };
    for (const Case& c : cases) {
        const Outcome o = Classify(c.v, c.h);
        EXPECT_EQ(o.tables, c.expected.tables) << c.what;
        EXPECT_EQ(o.used, c.expected.used) << c.what;
        EXPECT_EQ(o.vLeft, c.expected.vLeft) << c.what;
        EXPECT_EQ(o.hLeft, c.expected.hLeft) << c.what;
        EXPECT_EQ(o.vSeparators, c.expected.vSeparators) << c.what;
        EXPECT_EQ(o.insideBlock, c.expected.insideBlock) << c.what;
    }
}

TEST(SegmentationGroups, PlaceTablesTakesTheInkRunsAroundTheTable) {
    TestPage page(2000, 2000);
    page.Fill(500, 585, 900, 599);    // ink right above the table: blank row 584
    page.Fill(500, 1201, 900, 1206);  // and below: blank row 1207
    EngineContext ctx = page.Context();
    Segmenter s(ctx);
    s.region = Box{0, 0, 1999, 1999};
    s.blocks = {{0, 0, 1999, 1999, 0}};
    RuleGroup t;
    t.x0 = 5;
    t.y0 = 600;
    t.x1 = 1599;
    t.y1 = 1200;
    s.tables.push_back(t);
    PlaceTables(s);
    EXPECT_TRUE(s.tables.empty());
    const std::vector<PageBlock> expected = {
        {0, 0, 1999, 583, 0},     // above, up to the row before the ink run
        {0, 584, 1609, 1207, 1},  // the table: 10 more at the right, not past the page at the left
        {1610, 584, 1999, 1207, 0},  // right of it
        {0, 1208, 1999, 1999, 0},    // below
    };
    EXPECT_EQ(s.blocks, expected);
}

}  // namespace
}  // namespace sheetmend
