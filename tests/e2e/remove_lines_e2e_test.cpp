// Line removal and object boxing, end to end on drawn pages.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"

namespace sheetmend::testing {
namespace {

// The generator the box colours come from, written out independently:
// state = state * 214013 + 2531011, value = (state >> 16) & 0x7FFF, from 1.
struct MsvcRand {
    uint32_t state = 1;
    int Next() {
        state = state * 214013u + 2531011u;
        return static_cast<int>((state >> 16) & 0x7FFF);
    }
};

// A white 1-bit page (palette black, white) on which boxes of ink are drawn
// with top-down coordinates.
class Page {
public:
    Page(uint32_t w, uint32_t h) : img(w, h, 1) {
        img.SetPaletteColor(0, 0, 0, 0);
        img.SetPaletteColor(1, 255, 255, 255);
        img.Clear(1);
    }
    void Ink(int x0, int y0, int w, int h) {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) img.SetPixelIndex(x, static_cast<int>(img.GetHeight()) - 1 - y, 0);
    }
    RasterImage img;
};

// Colour of a top-down pixel of an image.
RgbQuad At(const RasterImage& img, int x, int yFromTop) {
    return img.GetPixelColor(x, static_cast<int>(img.GetHeight()) - 1 - yFromTop, false);
}
bool IsBlack(RgbQuad c) { return c.red == 0 && c.green == 0 && c.blue == 0; }
bool IsWhite(RgbQuad c) { return c.red == 255 && c.green == 255 && c.blue == 255; }
bool IsRed(RgbQuad c) { return c.red == 255 && c.green == 0 && c.blue == 0; }

class RemoveLines : public ::testing::Test {
protected:
    ProgramResult Run(std::vector<std::string> args) { return RunSheetmend(args, dir.path()); }
    ScratchDir dir;
};

TEST_F(RemoveLines, LongLineLengthIsTheRectangleExtent) {
    Page page(400, 300);
    page.Ink(10, 10, 101, 3);   // spans 101 columns: w = 100
    page.Ink(10, 50, 100, 3);   // spans 100: w = 99
    page.Ink(300, 100, 3, 101);
    page.Ink(350, 100, 3, 100);
    SaveOrFail(page.img, dir.File("lines.png"));
    ProgramResult r = Run({"-removelongline", "100", "lines.png", "out.png"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    RasterImage out = LoadOrFail(dir.File("out.png"));
    EXPECT_EQ(out.GetBpp(), 1u);  // depth kept without boxing
    EXPECT_TRUE(IsWhite(At(out, 50, 11)));
    EXPECT_TRUE(IsBlack(At(out, 50, 51)));
    EXPECT_TRUE(IsWhite(At(out, 301, 150)));
    EXPECT_TRUE(IsBlack(At(out, 351, 150)));
}

TEST_F(RemoveLines, AutomaticLengthIsAQuarterOfTheSmallerSide) {
    Page page(2000, 3000);
    page.Ink(100, 100, 501, 2);  // w = 500 = L: erased
    page.Ink(100, 200, 500, 2);  // w = 499: kept
    SaveOrFail(page.img, dir.File("big.png"));
    ASSERT_EQ(Run({"-removelongline", "0", "big.png", "out.png"}).status, 1);
    RasterImage out = LoadOrFail(dir.File("out.png"));
    EXPECT_TRUE(IsWhite(At(out, 300, 100)));
    EXPECT_TRUE(IsBlack(At(out, 300, 200)));
}

TEST_F(RemoveLines, ShortLinesThinStrokesAndTheCornerPixel) {
    Page page(200, 160);  // automatic long-line length 40
    page.Ink(10, 10, 60, 10);   // long: erased
    page.Ink(10, 40, 30, 4);    // 4 rows thick (h = 3): erased
    page.Ink(10, 60, 30, 5);    // 5 thick (h = 4): kept
    page.Ink(10, 80, 30, 6);    // 6 thick (h = 5): kept
    page.Ink(100, 100, 6, 6);   // a 6 x 6 blot: kept
    page.Ink(150, 100, 1, 1);   // a single speck: erased
    page.Ink(0, 159, 1, 1);     // pixel (0, 0) of the image: kept
    SaveOrFail(page.img, dir.File("p.png"));
    ASSERT_EQ(Run({"-removeshortline", "3", "p.png", "out.png"}).status, 1);
    RasterImage out = LoadOrFail(dir.File("out.png"));
    EXPECT_TRUE(IsWhite(At(out, 30, 15)));
    EXPECT_TRUE(IsWhite(At(out, 20, 41)));
    EXPECT_TRUE(IsBlack(At(out, 20, 62)));
    EXPECT_TRUE(IsBlack(At(out, 20, 83)));
    EXPECT_TRUE(IsBlack(At(out, 102, 102)));
    EXPECT_TRUE(IsWhite(At(out, 150, 100)));
    EXPECT_TRUE(IsBlack(At(out, 0, 159)));
}

TEST_F(RemoveLines, BoxingPaintsObjectsAndDrawsRedRectangles) {
    Page page(120, 100);
    page.Ink(10, 10, 8, 8);    // first object in the scan is the lowest: see below
    page.Ink(50, 80, 8, 8);    // lowest on the page: found first (rows count from the bottom)
    page.Ink(5, 50, 110, 2);   // long line (L = 25): erased, still boxed
    page.Ink(90, 30, 1, 1);    // diagonal neighbours: two objects
    page.Ink(91, 31, 1, 1);
    SaveOrFail(page.img, dir.File("p.png"));
    ProgramResult r = Run({"-boxobjects", "p.png", "out.png"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    RasterImage out = LoadOrFail(dir.File("out.png"));
    ASSERT_EQ(out.GetBpp(), 24u);

    MsvcRand rand;
    const int c1 = rand.Next() % 255, c2 = rand.Next() % 255, c3 = rand.Next() % 255;
    const RgbQuad first = At(out, 53, 83);  // inside the first object, off its border
    EXPECT_EQ(first.blue, c1);
    EXPECT_EQ(first.green, c2);
    EXPECT_EQ(first.red, c3);
    EXPECT_TRUE(IsRed(At(out, 50, 80)));   // its rectangle runs along its outer pixels
    EXPECT_TRUE(IsRed(At(out, 57, 87)));
    EXPECT_FALSE(IsRed(At(out, 13, 13)));
    EXPECT_FALSE(IsWhite(At(out, 13, 13)));
    EXPECT_TRUE(IsWhite(At(out, 60, 50)) || IsRed(At(out, 60, 50)));  // the erased line
    EXPECT_TRUE(IsRed(At(out, 5, 50)));
    EXPECT_TRUE(IsWhite(At(out, 0, 0)));
    // The two diagonal pixels are single-pixel objects: each is its own red box.
    EXPECT_TRUE(IsRed(At(out, 90, 30)));
    EXPECT_TRUE(IsRed(At(out, 91, 31)));
    EXPECT_TRUE(IsWhite(At(out, 91, 30)));
}

TEST_F(RemoveLines, ColoursContinueThroughABatchAndRepeatAcrossRuns) {
    Page page(60, 60);
    page.Ink(20, 20, 10, 10);
    ASSERT_EQ(mkdir(dir.File("in").c_str(), 0755), 0);
    SaveOrFail(page.img, dir.File("in/a.png"));
    SaveOrFail(page.img, dir.File("in/b.png"));
    ASSERT_EQ(Run({"-boxobjects", "in/*.png", "out.png"}).status, 1);
    const RgbQuad a = At(LoadOrFail(dir.File("a.png")), 25, 25);
    const RgbQuad b = At(LoadOrFail(dir.File("b.png")), 25, 25);
    EXPECT_FALSE(a == b);
    MsvcRand rand;
    const int c1 = rand.Next() % 255, c2 = rand.Next() % 255, c3 = rand.Next() % 255;
    EXPECT_EQ(a.blue, c1);
    EXPECT_EQ(a.green, c2);
    EXPECT_EQ(a.red, c3);
    ASSERT_EQ(Run({"-boxobjects", "in/a.png", "again.png"}).status, 1);
    EXPECT_EQ(At(LoadOrFail(dir.File("again.png")), 25, 25), a);
}

TEST_F(RemoveLines, GreyAndNegativePagesKeepTheirDepthAndLook) {
    RasterImage grey(80, 80, 8);
    grey.SetGrayPalette();
    grey.Clear(230);
    for (int x = 5; x < 75; ++x) grey.SetPixelIndex(x, 40, 10);  // a dark line, 70 long
    for (int y = 10; y < 20; ++y)
        for (int x = 10; x < 20; ++x) grey.SetPixelIndex(x, y, 10);
    SaveOrFail(grey, dir.File("grey.png"));
    ASSERT_EQ(Run({"-removelongline", "0", "grey.png", "g.png"}).status, 1);
    RasterImage g = LoadOrFail(dir.File("g.png"));
    EXPECT_EQ(g.GetBpp(), 8u);
    EXPECT_TRUE(g.IsGrayScale());
    EXPECT_EQ(g.GetPixelIndex(40, 40), 255);  // erased: nearest entry to white
    EXPECT_EQ(g.GetPixelIndex(15, 15), 10);   // kept as it was
    EXPECT_EQ(g.GetPixelIndex(2, 2), 230);

    // White marks on black: the marks are the objects; erasing paints them
    // white, which leaves them as they were.
    Page negative(80, 80);
    negative.img.Clear(0);
    for (int x = 5; x < 75; ++x) negative.img.SetPixelIndex(x, 40, 1);
    SaveOrFail(negative.img, dir.File("neg.png"));
    ASSERT_EQ(Run({"-removelongline", "0", "neg.png", "n.png"}).status, 1);
    RasterImage n = LoadOrFail(dir.File("n.png"));
    EXPECT_TRUE(IsWhite(n.GetPixelColor(40, 40, false)));
    EXPECT_TRUE(IsBlack(n.GetPixelColor(40, 20, false)));
}

TEST_F(RemoveLines, Messages) {
    Page page(10, 10);
    SaveOrFail(page.img, dir.File("p.png"));
    ProgramResult r = Run({"-removelongline", "0", "p.png", "o.xyz"});
    EXPECT_NE(r.out.find("'" + dir.File("o.xyz") + "' is an unknown image format.\n"), std::string::npos);
    ASSERT_TRUE(WriteFileBytes(dir.File("bad.png"), {1, 2, 3}));
    r = Run({"-removelongline", "0", "bad.png", "o.png"});
    EXPECT_NE(r.out.find("[ERROR] Failed to load \"" + dir.File("bad.png") + "\" file.\n"), std::string::npos);
    EXPECT_EQ(r.status, 0);
}

}  // namespace
}  // namespace sheetmend::testing
