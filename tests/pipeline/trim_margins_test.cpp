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
