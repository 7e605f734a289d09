// Text drawing: where the text lands (its bottom-left corner at (x, y) in
// top-down page coordinates, rising above that row), which face a name
// resolves to, the colour and alpha written, and the styles.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "image/raster_image.h"
#include "tests/support/external_tools.h"

namespace sheetmend {
namespace {

constexpr RgbQuad kWhite{255, 255, 255, 0};
constexpr RgbQuad kRed{0, 0, 255, 0};

// Lit pixels of a drawing on white, in top-down page coordinates.
struct Ink {
    int32_t count = 0;
    int32_t left = INT32_MAX, right = -1, top = INT32_MAX, bottom = -1;
};

Ink FindInk(const RasterImage& img) {
    Ink ink;
    const auto h = static_cast<int32_t>(img.GetHeight());
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < static_cast<int32_t>(img.GetWidth()); ++x) {
            if (img.GetPixelColor(x, y, false) == kWhite) continue;
            const int32_t row = h - 1 - y;
            ++ink.count;
            ink.left = std::min(ink.left, x);
            ink.right = std::max(ink.right, x);
            ink.top = std::min(ink.top, row);
            ink.bottom = std::max(ink.bottom, row);
        }
    return ink;
}

RasterImage Page(uint32_t width = 200, uint32_t height = 100) {
    RasterImage img(width, height, 24);
    img.Clear(255);
    return img;
}

// The rendering of a text in a face, as a picture to compare.
RasterImage Drawn(const char* face, const char* text = "Hag", int32_t weight = 400,
                  bool italic = false) {
    RasterImage img = Page();
    EXPECT_EQ(img.DrawString(10, 70, text, kRed, face, 40, weight, italic), 1);
    return img;
}

bool Same(const RasterImage& a, const RasterImage& b) {
    return a.GetDibSize() == b.GetDibSize() &&
           std::equal(a.GetDib(), a.GetDib() + a.GetDibSize(), b.GetDib());
}

std::string FamilyOf(const std::string& name) {
    std::string out;
    testing::RunShell("fc-match -f '%{family[0]}' '" + name + "'", &out);
    return out;
}

TEST(DrawString, FaceNamesResolveThroughFontconfig) {
    ASSERT_EQ(FamilyOf("Arial"), "Liberation Sans");
    EXPECT_TRUE(Same(Drawn("Arial"), Drawn("Liberation Sans")));
    EXPECT_FALSE(Same(Drawn("Arial"), Drawn("Liberation Serif")));
    // An unknown name falls back to the default sans-serif face.
    const std::string fallback = FamilyOf("sans-serif");
    EXPECT_TRUE(Same(Drawn("No Such Face 42"), Drawn(fallback.c_str())));
    EXPECT_TRUE(Same(Drawn(nullptr), Drawn(fallback.c_str())));
}

TEST(DrawString, TextRisesFromItsBottomLeftCorner) {
    // Cell height 40: Liberation Sans has ascent 1854 and descent 434 in
    // 2048 units, so the baseline sits round(40 * 434 / 2288) = 8 rows above
    // the bottom row of the cell, and the capital H is about 0.69 em tall.
    RasterImage img = Page();
    ASSERT_EQ(img.DrawString(30, 80, "Hi", kRed, "Arial", 40), 1);
    const Ink ink = FindInk(img);
    ASSERT_GT(ink.count, 100);
    // The em is 40 * 2048 / 2288 = 35.8 pixels; H advances 1479 units and
    // starts 158 units in, i advances 455: the ink spans about 30 + 2.8 to
    // 30 + 33.8.
    EXPECT_GE(ink.left, 30);
    EXPECT_NEAR(ink.left, 33, 1);
    EXPECT_LE(ink.right, 30 + 34);
    EXPECT_LE(ink.bottom, 80);
    EXPECT_GE(ink.top, 80 - 40 + 1);
    EXPECT_NEAR(ink.bottom, 80 - 8, 1) << "H and i stand on the baseline";
    // The left stem of the H runs the height of a capital.
    int32_t stem = 0;
    for (int32_t row = 0; row < 100; ++row)
        if (img.GetPixelColor(ink.left + 1, 99 - row, false) == kRed) ++stem;
    EXPECT_NEAR(stem, 0.688 * 40 * 2048 / 2288, 2);
    // Everything drawn is in the caller's colour.
    for (int32_t y = 0; y < 100; ++y)
        for (int32_t x = 0; x < 200; ++x) {
            const RgbQuad c = img.GetPixelColor(x, y, false);
            EXPECT_TRUE(c == kWhite || c == kRed);
        }
}

TEST(DrawString, HeightZeroDrawsReadableText) {
    RasterImage img = Page();
    ASSERT_EQ(img.DrawString(5, 50, "Hello", kRed, "Arial", 0), 1);
    const Ink ink = FindInk(img);
    EXPECT_GE(ink.top, 50 - 16 + 1) << "the default cell is 16 pixels tall";
    EXPECT_LE(ink.bottom, 50);
    EXPECT_GE(ink.bottom - ink.top + 1, 9) << "capitals of a readable size";
    EXPECT_GE(ink.right - ink.left, 25);
    // A negative height asks for the em height, as Windows fonts do; it is
    // smaller than a cell of the same number.
    RasterImage em = Page();
    ASSERT_EQ(em.DrawString(5, 50, "Hello", kRed, "Arial", -16), 1);
    const Ink emInk = FindInk(em);
    EXPECT_GT(emInk.bottom - emInk.top, ink.bottom - ink.top);
}

TEST(DrawString, ColourAndAlphaAsAsked) {
    // A palette image gets the nearest palette entry.
    RasterImage grey(120, 40, 8);
    grey.SetGrayPalette();
    grey.Clear(255);
    ASSERT_EQ(grey.DrawString(2, 35, "Ab", RgbQuad{90, 90, 100, 0}, "Arial", 30), 1);
    int32_t written = 0;
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 120; ++x) {
            const uint8_t i = grey.GetPixelIndex(x, y);
            EXPECT_TRUE(i == 255 || i == 93) << int(i);
            written += i == 93;
        }
    EXPECT_GT(written, 50);

    // setAlpha writes the colour's reserved byte into the alpha plane, only
    // where text is drawn; without it the plane is left alone.
    RasterImage img = Page(120, 40);
    ASSERT_TRUE(img.AlphaCreate());
    ASSERT_EQ(
        img.DrawString(2, 35, "Ab", RgbQuad{0, 0, 255, 77}, "Arial", 30, 400, false, false, true),
        1);
    ASSERT_EQ(img.DrawString(60, 35, "Ab", RgbQuad{0, 0, 255, 11}, "Arial", 30), 1);
    int32_t translucent = 0;
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 120; ++x) {
            const bool inked = img.GetPixelColor(x, y, false) == kRed;
            const uint8_t a = img.AlphaGet(x, y);
            if (x < 60) {
                EXPECT_EQ(a, inked ? 77 : 255);
                translucent += inked;
            } else {
                EXPECT_EQ(a, 255);
            }
        }
    EXPECT_GT(translucent, 50);
}

TEST(DrawString, StylesChangeTheGlyphs) {
    const Ink regular = FindInk(Drawn("Arial", "Heavy"));
    const Ink bold = FindInk(Drawn("Arial", "Heavy", 700));
    EXPECT_GT(bold.count, regular.count * 5 / 4);
    EXPECT_FALSE(Same(Drawn("Arial", "lll", 599), Drawn("Arial", "lll", 600)));
    EXPECT_TRUE(Same(Drawn("Arial", "lll", 0), Drawn("Arial", "lll", 400)));

    // An italic l leans right: its top row starts right of its bottom row.
    RasterImage slanted = Drawn("Arial", "l", 400, true);
    const Ink ink = FindInk(slanted);
    auto firstLit = [&](int32_t row) {
        for (int32_t x = 0; x < 200; ++x)
            if (slanted.GetPixelColor(x, 99 - row, false) == kRed) return x;
        return -1;
    };
    EXPECT_GT(firstLit(ink.top), firstLit(ink.bottom) + 3);

    // Underline: a line below the baseline under the whole text.
    RasterImage plain = Page();
    RasterImage under = Page();
    ASSERT_EQ(plain.DrawString(10, 70, "Hill", kRed, "Arial", 40), 1);
    ASSERT_EQ(under.DrawString(10, 70, "Hill", kRed, "Arial", 40, 400, false, true), 1);
    const Ink p = FindInk(plain);
    const Ink u = FindInk(under);
    EXPECT_GT(u.bottom, p.bottom);
    EXPECT_LE(u.bottom, 70);
    int32_t lineLength = 0;
    for (int32_t x = 0; x < 200; ++x)
        lineLength += under.GetPixelColor(x, 99 - u.bottom, false) == kRed;
    EXPECT_GE(lineLength, p.right - p.left);
}

TEST(DrawString, ClipsAtTheEdgesAndIgnoresEmptyImages) {
    RasterImage empty;
    EXPECT_EQ(empty.DrawString(0, 0, "Hi", kRed, "Arial", 20), 1);
    EXPECT_FALSE(empty.IsValid());

    // Text hanging over every edge draws only what falls inside.
    RasterImage small = Page(30, 20);
    EXPECT_EQ(small.DrawString(-12, 8, "WWWWWW", kRed, "Arial", 30), 1);
    EXPECT_EQ(small.DrawString(20, 40, "WWWW", kRed, "Arial", 30), 1);
    EXPECT_EQ(small.DrawString(INT32_MAX, INT32_MIN, "W", kRed, "Arial", 30), 1);
    EXPECT_EQ(small.DrawString(INT32_MIN, INT32_MAX, "W", kRed, "Arial", 30), 1);
    EXPECT_GT(FindInk(small).count, 0);
    EXPECT_EQ(small.DrawString(0, 10, "", kRed, "Arial", 30), 1);
    EXPECT_EQ(small.DrawString(0, 10, nullptr, kRed, "Arial", 30), 1);

    // An enormous height on a small image stays quick and bounded.
    const auto start = std::chrono::steady_clock::now();
    RasterImage huge = Page(40, 40);
    EXPECT_EQ(huge.DrawString(-100, 30000, "Huge text", kRed, "Arial", INT32_MAX), 1);
    EXPECT_EQ(huge.DrawString(0, 39, "Huge", kRed, "Arial", INT32_MIN), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(DrawStringDeathTest, NoFontAtAllReturnsZero) {
    // Run in a fresh process so that no font is cached yet, with a
    // fontconfig configuration that knows no fonts.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testing::ScratchDir dir;
    const std::string conf = dir.File("fonts.conf");
    const std::string text = "<?xml version=\"1.0\"?><fontconfig></fontconfig>";
    testing::WriteFileBytes(conf, std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_EXIT(
        {
            setenv("FONTCONFIG_FILE", conf.c_str(), 1);
            RasterImage img = Page(50, 50);
            const int32_t result = img.DrawString(0, 40, "Hi", kRed, "Arial", 20);
            const bool cleanPage = FindInk(img).count == 0;
            std::exit(result == 0 && cleanPage && img.GetLastError()[0] ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace sheetmend
