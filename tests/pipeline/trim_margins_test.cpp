#include "pipeline/trim_margins.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace sheetmend {
namespace {

constexpr ColorRef kBlack = 0x000000;
constexpr ColorRef kWhite = 0xFFFFFF;

// Sets pixel (x, y) counted from the top.
void Put(RasterImage& img, int32_t x, int32_t y, RgbQuad c) {
    img.SetPixelColor(x, static_cast<int32_t>(img.GetHeight()) - 1 - y, c);
}

TEST(MarginLimits, FollowTheFuzzPercentage) {
    MarginLimits l = MarginLimitsFor(-1.0, 1000, 500);  // the default
    EXPECT_EQ(l.row, 200);
    EXPECT_EQ(l.column, 100);
    for (double odd : {150.0, -3.0, std::nan(""), 100.0001}) {
        l = MarginLimitsFor(odd, 1000, 500);
        EXPECT_EQ(l.row, 200) << odd;
        EXPECT_EQ(l.column, 100) << odd;
    }
    l = MarginLimitsFor(0.0, 1000, 500);
    EXPECT_EQ(l.row, 1000);
    EXPECT_EQ(l.column, 500);
    l = MarginLimitsFor(35.5, 1001, 3);  // 64.5 % truncated: 645.645 and 1.935
    EXPECT_EQ(l.row, 645);
    EXPECT_EQ(l.column, 1);
    // Everything differs from nothing: at least one pixel must differ.
    l = MarginLimitsFor(100.0, 1000, 500);
    EXPECT_EQ(l.row, 1);
    EXPECT_EQ(l.column, 1);
}

// A 1-bit page with random rectangles of ink, palette in either order.
RasterImage RandomBitonalPage(std::mt19937& rng, uint32_t w, uint32_t h, bool blackFirst) {
    RasterImage img(w, h, 1);
    img.SetPaletteColor(0, blackFirst ? RgbQuad{0, 0, 0, 0} : RgbQuad{255, 255, 255, 0});
    img.SetPaletteColor(1, blackFirst ? RgbQuad{255, 255, 255, 0} : RgbQuad{0, 0, 0, 0});
    img.Clear(blackFirst ? 1 : 0);
    const uint8_t ink = blackFirst ? 0 : 1;
    std::uniform_int_distribution<uint32_t> xs(0, w - 1), ys(0, h - 1), sizes(0, 12);
    for (int n = 0; n < 6; ++n) {
        const uint32_t x0 = xs(rng), y0 = ys(rng), dx = sizes(rng), dy = sizes(rng);
        for (uint32_t y = y0; y < std::min(h, y0 + dy); ++y)
            for (uint32_t x = x0; x < std::min(w, x0 + dx); ++x)
                img.SetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y), ink);
    }
    return img;
}

TEST(FindMarginEdges, BitonalFastPathAgreesWithThePixelDefinition) {
    std::mt19937 rng(7);
    for (uint32_t w : {1u, 7u, 8u, 37u, 64u, 129u})
        for (uint32_t h : {1u, 5u, 40u})
            for (bool blackFirst : {false, true}) {
                const RasterImage page = RandomBitonalPage(rng, w, h, blackFirst);
                for (ColorRef colour : {kBlack, kWhite, ColorRef{0x0000FF}})
                    for (double fuzz : {-1.0, 0.0, 50.0, 97.0, 100.0}) {
                        const MarginLimits limits = MarginLimitsFor(fuzz, w, h);
                        const MarginEdges fast = FindMarginEdges(page, colour, limits);
                        const MarginEdges slow = FindMarginEdgesByPixel(page, colour, limits);
                        EXPECT_EQ(fast.left, slow.left) << w << "x" << h << " fuzz " << fuzz;
                        EXPECT_EQ(fast.top, slow.top) << w << "x" << h << " fuzz " << fuzz;
                        EXPECT_EQ(fast.right, slow.right) << w << "x" << h << " fuzz " << fuzz;
                        EXPECT_EQ(fast.bottom, slow.bottom) << w << "x" << h << " fuzz " << fuzz;
                    }
            }
}

// A page of any depth: paper of light colours (some of which turn white,
// some black), a block of random colours inside margins of random widths,
// and a few random specks in the margins.
RasterImage RandomDeepPage(std::mt19937& rng, uint32_t w, uint32_t h, uint32_t bpp) {
    RasterImage img(w, h, bpp);
    std::uniform_int_distribution<int> byte(0, 255), light(150, 255);
    for (uint32_t i = 0; i < img.GetNumColors(); ++i)
        img.SetPaletteColor(static_cast<uint8_t>(i), static_cast<uint8_t>(byte(rng)),
                            static_cast<uint8_t>(byte(rng)), static_cast<uint8_t>(byte(rng)));
    auto paint = [&](uint32_t x, uint32_t y, bool paper) {
        if (bpp == 24) {
            const int v = paper ? light(rng) : byte(rng);
            Put(img, static_cast<int32_t>(x), static_cast<int32_t>(y),
                RgbQuad{static_cast<uint8_t>(v), static_cast<uint8_t>(paper ? v : byte(rng)),
                        static_cast<uint8_t>(v), 0});
        } else {
            const auto index = static_cast<uint8_t>(paper ? 0 : byte(rng) % img.GetNumColors());
            img.SetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(h - 1 - y), index);
        }
    };
    std::uniform_int_distribution<uint32_t> left(0, w / 2), top(0, h / 2);
    const uint32_t x0 = left(rng), y0 = top(rng), x1 = x0 + left(rng), y1 = y0 + top(rng);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            paint(x, y, x < x0 || x >= x1 || y < y0 || y >= y1 || byte(rng) < 20);
    for (uint32_t n = 0; n < (w + h) / 4; ++n) paint(rng() % w, rng() % h, false);
    return img;
}

TEST(FindMarginEdges, StripsAgreeWithTheWholePageMadeBlackAndWhite) {
    std::mt19937 rng(11);
    for (uint32_t bpp : {4u, 8u, 24u})
        for (auto [w, h] :
             {std::pair{157u, 203u}, std::pair{301u, 37u}, std::pair{33u, 17u}, std::pair{1u, 9u}})
            for (int32_t level : {-1, 0, 97, 200}) {
                RasterImage page = RandomDeepPage(rng, w, h, bpp);
                const RasterImage before(page);
                // The old way: the whole page made black and white, then searched.
                RasterImage whole(page);
                if (level > 0) whole.Threshold(static_cast<uint8_t>(level));
                if (whole.GetBpp() > 1) whole.DecreaseBpp(1, false, nullptr, 0);
                for (ColorRef colour : {kBlack, kWhite, ColorRef{0x0000FF}})
                    for (double fuzz : {0.0, 80.0, 99.0}) {
                        const MarginLimits limits = MarginLimitsFor(fuzz, w, h);
                        const MarginEdges strips =
                            FindMarginEdgesInStrips(page, colour, limits, level);
                        const MarginEdges expected = FindMarginEdges(whole, colour, limits);
                        const std::string at = std::to_string(bpp) + " " + std::to_string(w) + "x" +
                                               std::to_string(h) + " level " +
                                               std::to_string(level);
                        EXPECT_EQ(strips.left, expected.left) << at;
                        EXPECT_EQ(strips.top, expected.top) << at;
                        EXPECT_EQ(strips.right, expected.right) << at;
                        EXPECT_EQ(strips.bottom, expected.bottom) << at;
                    }
                EXPECT_EQ(page.PixelFingerprint(), before.PixelFingerprint())
                    << "the page keeps its pixels";
            }
}

TEST(FindMarginEdges, StripsCountColumnsBetweenTheRowEdgesOnly) {
    // White paper, a black block in rows 30 .. 49 and columns 40 .. 59, and
    // three specks: on the top edge row (counts for the left edge), on the
    // bottom edge row (left out of the column counts) and just above it.
    RasterImage page(100, 90, 24);
    page.Clear(255);
    for (int32_t y = 30; y < 50; ++y)
        for (int32_t x = 40; x < 60; ++x) Put(page, x, y, RgbQuad{});
    for (auto [x, y] : {std::pair{5, 30}, std::pair{95, 49}, std::pair{93, 48}})
        Put(page, x, y, RgbQuad{});
    for (uint32_t bpp : {24u, 8u}) {
        if (bpp == 8) page.DecreaseBpp(8, false);
        const MarginEdges e =
            FindMarginEdgesInStrips(page, kWhite, MarginLimitsFor(99.0, 100, 90), -1);
        EXPECT_EQ(e.left, 5) << bpp;
        EXPECT_EQ(e.top, 30) << bpp;
        EXPECT_EQ(e.right, 93) << bpp;
        EXPECT_EQ(e.bottom, 49) << bpp;
    }
}

TEST(LocateBorderAndCrop, CutsTheColourPageInsideItsMargins) {
    ToolOptions options;
    SetDefaultOptions(options);
    // Near-white paper 120 x 80 at 200 dpi with a block of colours in
    // columns 30 .. 89 and rows 20 .. 59 from the top.
    RasterImage page(120, 80, 24);
    page.Clear(250);
    page.SetXDpi(200);
    page.SetYDpi(200);
    for (int32_t y = 20; y < 60; ++y)
        for (int32_t x = 30; x < 90; ++x)
            Put(page, x, y, RgbQuad{static_cast<uint8_t>(x), static_cast<uint8_t>(y), 40, 0});
    const uint64_t before = page.PixelFingerprint();
    RasterImage result;
    ::testing::internal::CaptureStdout();
    ASSERT_TRUE(LocateBorderAndCrop(options, page, result, kWhite));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "[OK] Locate border (30, 20, 89, 59) from image.\n");
    // The right and bottom edges are the last page column and row, which the
    // crop leaves out; the colours and the resolution stay.
    ASSERT_EQ(result.GetWidth(), 59u);
    ASSERT_EQ(result.GetHeight(), 39u);
    EXPECT_EQ(result.GetBpp(), 24u);
    EXPECT_EQ(result.GetXDpi(), 200);
    EXPECT_EQ(result.GetPixelColor(0, 38, false), (RgbQuad{30, 20, 40, 0}));
    EXPECT_EQ(result.GetPixelColor(58, 0, false), (RgbQuad{88, 58, 40, 0}));
    EXPECT_EQ(page.PixelFingerprint(), before);
}

TEST(LocateBorderAndCrop, ReportsACropThatLeavesNothing) {
    ToolOptions options;
    SetDefaultOptions(options);

    // A single page row leaves nothing between the edges: the crop fails and
    // the location line says so.
    RasterImage line(40, 30, 24);
    line.Clear(255);
    for (int32_t x = 0; x < 30; ++x) Put(line, x, 12, RgbQuad{});
    options.fuzz = 50;
    RasterImage none;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(LocateBorderAndCrop(options, line, none, kWhite));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "[Error] Locate border (0, 12, 40, 12) from image.\n");
}

}  // namespace
}  // namespace sheetmend
