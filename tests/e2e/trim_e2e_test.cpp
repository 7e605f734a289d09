// Margin trimming, end to end, on pages drawn here.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"

namespace sheetmend::testing {
namespace {

constexpr RgbQuad kInk{0, 0, 0, 0};

// Pixels addressed from the top, as the location line counts them.
void Put(RasterImage& img, int32_t x, int32_t y, RgbQuad c) {
    img.SetPixelColor(x, static_cast<int32_t>(img.GetHeight()) - 1 - y, c);
}
RgbQuad At(const RasterImage& img, int32_t x, int32_t y) {
    return img.GetPixelColor(x, static_cast<int32_t>(img.GetHeight()) - 1 - y, false);
}

RasterImage WhitePage(uint32_t w, uint32_t h) {
    RasterImage page(w, h, 24);
    page.Clear(255);
    page.SetXDpi(300);
    page.SetYDpi(300);
    return page;
}

void FillRect(RasterImage& img, int32_t x0, int32_t y0, int32_t x1, int32_t y1, RgbQuad c) {
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x) Put(img, x, y, c);
}

class Trim : public ::testing::Test {
  protected:
    ProgramResult Run(const std::vector<std::string>& args) {
        return RunSheetmend(args, dir.path());
    }
    bool Has(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }
    ScratchDir dir;
};

TEST_F(Trim, BlackFrameIsCutFromTheColourPageAtItsResolution) {
    const uint32_t w = 420, h = 330;
    RasterImage page = WhitePage(w, h);
    for (int32_t y = 0; y < static_cast<int32_t>(h); ++y)
        for (int32_t x = 0; x < static_cast<int32_t>(w); ++x) {
            const bool frame = x < 100 || y < 100 || x >= static_cast<int32_t>(w) - 100 ||
                               y >= static_cast<int32_t>(h) - 100;
            Put(page, x, y,
                frame ? kInk
                      : RgbQuad{static_cast<uint8_t>(180 + x % 70), 240,
                                static_cast<uint8_t>(190 + y % 60), 0});
        }
    for (const char* ext : {".png", ".tif"}) {
        SCOPED_TRACE(ext);
        SaveOrFail(page, dir.File(std::string("framed") + ext));
        const std::string out = std::string("cut") + ext;
        ProgramResult r = Run({"-trimmargin", std::string("framed") + ext, out});
        ASSERT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_TRUE(Has(r.out, "[OK] Locate border (100, 100, 319, 229) from image.\n")) << r.out;
        RasterImage cut = LoadOrFail(dir.File(out));
        ASSERT_EQ(cut.GetWidth(), w - 201);
        ASSERT_EQ(cut.GetHeight(), h - 201);
        EXPECT_EQ(cut.GetXDpi(), 300);
        EXPECT_EQ(cut.GetYDpi(), 300);
        for (int32_t y = 0; y < static_cast<int32_t>(cut.GetHeight()); ++y)
            for (int32_t x = 0; x < static_cast<int32_t>(cut.GetWidth()); ++x)
                ASSERT_EQ(At(cut, x, y), At(page, x + 100, y + 100)) << x << "," << y;
    }
}

TEST_F(Trim, MarginColourFromTrimColor) {
    RasterImage page = WhitePage(400, 360);
    FillRect(page, 50, 80, 250, 300, RgbQuad{20, 30, 40, 0});
    SaveOrFail(page, dir.File("white.png"));

    ProgramResult r = Run({"-trimmargin", "-trimcolor", "FFFFFF", "white.png", "block.png"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "[OK] Locate border (50, 80, 249, 299) from image.\n")) << r.out;
    RasterImage block = LoadOrFail(dir.File("block.png"));
    EXPECT_EQ(block.GetWidth(), 199u);
    EXPECT_EQ(block.GetHeight(), 219u);
    EXPECT_EQ(At(block, 0, 0), (RgbQuad{20, 30, 40, 0}));
    EXPECT_EQ(At(block, 198, 218), (RgbQuad{20, 30, 40, 0}));

    // Nothing is red after the page is made black and white.
    r = Run({"-trimmargin", "-trimcolor", "FF0000", "white.png", "red.png"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Has(r.out, "[Error] Failed to locate border [RGB(FF,00,00)] in image.\n")) << r.out;
    EXPECT_FALSE(Has(r.out, "Locate border ("));
    EXPECT_FALSE(Exists(dir.File("red.png")));
}

TEST_F(Trim, PageAllOfTheMarginColourIsKeptWhole) {
    RasterImage black(120, 90, 24);
    black.SetXDpi(200);
    black.SetYDpi(200);
    SaveOrFail(black, dir.File("black.png"));
    ProgramResult r = Run({"-trimmargin", "black.png", "same.png"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "[OK] Locate border (0, 0, 120, 90) from image.\n")) << r.out;
    RasterImage same = LoadOrFail(dir.File("same.png"));
    EXPECT_EQ(same.GetWidth(), 120u);
    EXPECT_EQ(same.GetHeight(), 90u);
    EXPECT_EQ(same.GetXDpi(), 200);
}

TEST_F(Trim, FuzzSetsHowMuchOfARowMustDiffer) {
    // A white 200 x 150 page: black columns 90 and 95 from top to bottom,
    // black segments across columns 20 .. 119 on rows 70 and 80, and one
    // black pixel at column 10.
    RasterImage page = WhitePage(200, 150);
    FillRect(page, 90, 0, 91, 150, kInk);
    FillRect(page, 95, 0, 96, 150, kInk);
    FillRect(page, 20, 70, 120, 71, kInk);
    FillRect(page, 20, 80, 120, 81, kInk);
    Put(page, 10, 45, kInk);
    SaveOrFail(page, dir.File("sparse.png"));
    struct Case {
        const char* fuzz;
        const char* line;
        uint32_t w, h;
    };
    const Case cases[] = {
        // One differing pixel is enough: every row, and column 10 on the left.
        {"100", "[OK] Locate border (10, 0, 119, 149) from image.\n", 109, 149},
        // Every pixel must differ: no row does, only the two long columns.
        {"0", "[OK] Locate border (90, 0, 95, 150) from image.\n", 5, 150},
        // Out of range: the default 80, a fifth of the row or column.
        {"150", "[OK] Locate border (0, 70, 200, 80) from image.\n", 200, 10},
        {"-3", "[OK] Locate border (0, 70, 200, 80) from image.\n", 200, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fuzz);
        const std::string out = std::string("fuzz") + c.fuzz + ".png";
        ProgramResult r =
            Run({"-trimmargin", "-trimcolor", "FFFFFF", "-fuzz", c.fuzz, "sparse.png", out});
        ASSERT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_TRUE(Has(r.out, c.line)) << r.out;
        RasterImage cut = LoadOrFail(dir.File(out));
        EXPECT_EQ(cut.GetWidth(), c.w);
        EXPECT_EQ(cut.GetHeight(), c.h);
    }
}

TEST_F(Trim, OutputFormatAndFailures) {
    RasterImage page = WhitePage(160, 120);
    FillRect(page, 20, 20, 140, 100, RgbQuad{30, 140, 200, 0});
    SaveOrFail(page, dir.File("page.png"));

    // GIF holds at most 8 bits.
    ProgramResult r = Run({"-trimmargin", "-trimcolor", "FFFFFF", "page.png", "page.gif"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    RasterImage gif = LoadOrFail(dir.File("page.gif"));
    EXPECT_EQ(gif.GetBpp(), 8u);
    EXPECT_EQ(gif.GetWidth(), 119u);

    // An extension that names no format: the save is refused on standard error.
    r = Run({"-trimmargin", "-trimcolor", "FFFFFF", "page.png", "page.xyz"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Has(r.err, "unknown extension for ")) << r.err;
    EXPECT_TRUE(Has(r.err, "page.xyz\n")) << r.err;
    EXPECT_FALSE(Exists(dir.File("page.xyz")));

    // A page that cannot be read: no location line, no output, its name told.
    ASSERT_TRUE(WriteFileBytes(dir.File("broken.png"), {0x89, 'P', 'N', 'G', 1, 2, 3}));
    r = Run({"-trimmargin", "broken.png", "never.png"});
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(Has(r.out, "Locate border"));
    EXPECT_TRUE(Has(r.err, "broken.png")) << r.err;
    EXPECT_FALSE(Exists(dir.File("never.png")));
}

}  // namespace
}  // namespace sheetmend::testing
