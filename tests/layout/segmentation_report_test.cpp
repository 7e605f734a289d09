// The layout report: the printed block list and the annotated picture.
#include <gtest/gtest.h>

#include "image/formats.h"
#include "layout/layout_report.h"
#include "tests/layout/layout_test_page.h"
#include "tests/support/external_tools.h"

namespace sheetmend {
namespace {

using layout_internal::Box;
using testing::ScratchDir;
using testing::TestPage;

// Three columns of text between two vertical rules: the rules cut the page
// into three blocks, each holding one paragraph.
TestPage DrawThreeColumns() {
    TestPage page(1600, 2400);
    page.Fill(530, 100, 532, 2300);
    page.Fill(1060, 100, 1062, 2300);
    page.Text(60, 150, 480, 30);
    page.Text(590, 150, 1010, 25);
    page.Text(1120, 150, 1540, 33);
    return page;
}

RgbQuad PageColour(const RasterImage& img, int32_t x, int32_t y) {
    return img.GetPixelColor(x, static_cast<int32_t>(img.GetHeight()) - 1 - y, false);
}

constexpr RgbQuad kRed{0, 0, 255, 0}, kBlue{255, 0, 0, 0}, kYellow{0, 255, 255, 0};
constexpr RgbQuad kWhite{255, 255, 255, 0}, kBlack{0, 0, 0, 0};

TEST(LayoutReport, PrintsEveryBlockBetweenTheDashLines) {
    ScratchDir dir;
    const TestPage page = DrawThreeColumns();
    RasterImage img = page.ToImage();
    ASSERT_TRUE(img.Save(dir.File("in.png").c_str(), kFormatPng)) << img.GetLastError();

    std::string expected = "------------------ LayoutAnalysis ------------------\n";
    const Box columns[] = {{0, 0, 519, 2399}, {544, 0, 1049, 2399}, {1074, 0, 1599, 2399}};
    int n = 1;
    for (const Box& c : columns) {
        const Box ink = page.InkBounds(c);
        char line[128];
        std::snprintf(line, sizeof line, "%d, HorizontalText, [%d, %d, %d, %d]\n", n++, ink.x0,
                      ink.y0, ink.x1, ink.y1);
        expected += line;
    }
    expected += "------------------------------------------------\n";

    ::testing::internal::CaptureStdout();
    auto bitmap = LoadPageBitmap(dir.File("in.png"));
    ASSERT_NE(bitmap, nullptr);
    const std::vector<LayoutBlock> blocks = ReportLayout(*bitmap);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), expected);

    RasterImage out = page.ToImage();
    DrawBlocks(out, blocks);
    EXPECT_EQ(out.GetBpp(), 24u);
    EXPECT_EQ(out.GetWidth(), 1600u);
    EXPECT_EQ(out.GetHeight(), 2400u);
}

TEST(LayoutReport, DrawsEachBlockOnTheRowsAboveItsEdges) {
    ScratchDir dir;
    TestPage page(400, 300);
    RasterImage img = page.ToImage();
    ASSERT_TRUE(img.Save(dir.File("in.png").c_str(), kFormatPng));
    const std::vector<LayoutBlock> blocks = {
        {50, 40, 200, 150, kHorizontalText},
        {10, 0, 100, 50, kPicture},
        {250, 100, 390, 290, kTable},
        {300, 10, 380, 60, 7},
    };
    RasterImage out;
    ASSERT_TRUE(out.Load(dir.File("in.png").c_str(), kFormatUnknown));
    DrawBlocks(out, blocks);
    ASSERT_EQ(out.GetBpp(), 24u);

    struct Probe {
        int32_t x, y;
        RgbQuad colour;
    } probes[] = {
        // Edges on page rows y0 - 1 and y1 - 1, columns x0 and x1.
        {120, 149, kRed},
        {120, 150, kWhite},
        {120, 39, kRed},
        {120, 40, kWhite},
        {50, 100, kRed},
        {200, 100, kRed},
        {49, 100, kWhite},
        {51, 100, kWhite},
        // A block on the top row: its top edge would be row -1 and is not drawn.
        {50, 49, kBlue},
        {10, 0, kBlue},
        {10, 25, kBlue},
        {50, 0, kWhite},
        {300, 289, kYellow},
        {300, 99, kYellow},
        {390, 200, kYellow},
        // An unknown type is outlined in black and has no label.
        {340, 59, kBlack},
        {340, 9, kBlack},
        {380, 30, kBlack},
    };
    for (const Probe& p : probes)
        EXPECT_EQ(PageColour(out, p.x, p.y), p.colour) << p.x << "," << p.y;

    // The label "HorizontalText" sits right of x1 with its bottom on row y0.
    int red = 0, other = 0;
    for (int32_t y = 20; y <= 38; ++y)
        for (int32_t x = 201; x < 300; ++x) {
            const RgbQuad c = PageColour(out, x, y);
            if (c == kRed)
                ++red;
            else if (!(c == kWhite))
                ++other;
        }
    EXPECT_GT(red, 40);
    EXPECT_EQ(other, 0);
    // Nothing is drawn right of the black block's top corner.
    for (int32_t y = 0; y <= 9; ++y)
        for (int32_t x = 381; x < 400; ++x)
            EXPECT_EQ(PageColour(out, x, y), kWhite) << x << "," << y;
}

TEST(LayoutReport, AHairLineLeavesNoBlock) {
    // A page whose only ink is a hair line of 400 pixels has no block left:
    // the report is the two dash lines alone.
    TestPage hair(400, 600);
    hair.Fill(200, 100, 200, 499);
    RasterImage hairImage = hair.ToImage();
    auto bitmap = PageBitmapFromImage(hairImage);
    ASSERT_NE(bitmap, nullptr);
    ::testing::internal::CaptureStdout();
    EXPECT_TRUE(ReportLayout(*bitmap).empty());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "------------------ LayoutAnalysis ------------------\n"
              "------------------------------------------------\n");
}

TEST(LayoutReport, Labels) {
    EXPECT_STREQ(BlockTypeLabel(0), "HorizontalText");
    EXPECT_STREQ(BlockTypeLabel(1), "VerticalText");
    EXPECT_STREQ(BlockTypeLabel(2), "Picture");
    EXPECT_STREQ(BlockTypeLabel(3), "Table");
    EXPECT_STREQ(BlockTypeLabel(4), "");
}

}  // namespace
}  // namespace sheetmend
