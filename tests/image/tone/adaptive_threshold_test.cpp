// The local threshold and the background flattening on drawn pages whose
// ink is known: F-measures against the drawn ink, the paper's spread and the
// ink's tone after flattening, and the fast paths against their plain
// definitions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "image/raster_image.h"
#include "image/tone/tone_internal.h"
#include "tests/support/stained_pages.h"

namespace sheetmend {
namespace {

using testing::StainedPage;

// Drawn once for all the tests here.
const std::vector<StainedPage>& Pages() {
    static const std::vector<StainedPage> pages = testing::DrawStainedPages();
    return pages;
}

// What the conversion does for -threshold 0 without -adaptive.
RasterImage GlobalThreshold(RasterImage image) {
    image.GrayScale();
    image.Threshold(static_cast<uint8_t>(image.OptimalThreshold(0)));
    return image;
}

TEST(AdaptiveThreshold, DrawnPagesAgainstTheirInk) {
    std::printf("%-14s %9s %9s %14s\n", "page", "F global", "F local", "F flat+global");
    for (const StainedPage& p : Pages()) {
        RasterImage local(p.image);
        ASSERT_TRUE(local.AdaptiveThreshold());
        ASSERT_EQ(local.GetBpp(), 1u);
        EXPECT_EQ(local.GetXDpi(), 300);
        const RasterImage global = GlobalThreshold(p.image);
        RasterImage flat(p.image);
        ASSERT_TRUE(flat.FlattenBackground());
        const double fLocal = testing::InkFMeasure(local, p.ink);
        const double fGlobal = testing::InkFMeasure(global, p.ink);
        const double fFlat = testing::InkFMeasure(GlobalThreshold(flat), p.ink);
        std::printf("%-14s %9.3f %9.3f %14.3f\n", p.name.c_str(), fGlobal, fLocal, fFlat);
        EXPECT_GE(fLocal, 0.9) << p.name;
        EXPECT_GE(fFlat, 0.9) << p.name;
        if (p.uneven) {
            EXPECT_GE(fLocal, fGlobal + 0.1) << p.name;
        }
        if (p.name == "clean") {
            // On an evenly lit page the local result stays with the global one.
            size_t differ = 0;
            for (uint32_t y = 0; y < local.GetHeight(); ++y)
                for (uint32_t x = 0; x < local.GetWidth(); ++x)
                    differ += local.GetPixelIndex(x, y) != global.GetPixelIndex(x, y);
            EXPECT_LE(differ, local.GetWidth() * local.GetHeight() / 200) << differ;
        }
    }
}

TEST(FlattenBackground, PaperTurnsEvenAndInkKeepsItsTone) {
    for (const StainedPage& p : Pages()) {
        if (p.name != "gradient" && p.name != "coffee rings") continue;
        RasterImage flat(p.image);
        ASSERT_TRUE(flat.FlattenBackground());
        ASSERT_EQ(flat.GetBpp(), 24u);
        const auto [paperBefore, spreadBefore] = testing::GreyMeanAndSpread(p.image, p.paper);
        const auto [paperAfter, spreadAfter] = testing::GreyMeanAndSpread(flat, p.paper);
        const double inkAfter = testing::GreyMeanAndSpread(flat, p.core).first;
        std::printf("%-14s paper %.1f+-%.2f -> %.1f+-%.2f, ink %.1f (drawn %.1f)\n", p.name.c_str(),
                    paperBefore, spreadBefore, paperAfter, spreadAfter, inkAfter,
                    255 * testing::kBlackInk);
        EXPECT_LE(spreadAfter * 5, spreadBefore) << p.name;
        EXPECT_NEAR(inkAfter, 255 * testing::kBlackInk, 10) << p.name;
    }
}

// Summed windows against the sums counted cell by cell.
TEST(AdaptiveThreshold, WindowSumsMatchCounting) {
    const uint32_t nx = 23, ny = 17;
    std::mt19937 rng(5);
    std::vector<uint64_t> cells(nx * ny);
    for (uint64_t& c : cells) c = rng() % 100000;
    const tone::WindowSums sums(cells, nx, ny);
    for (uint32_t r : {0u, 1u, 7u, 40u})
        for (uint32_t j = 0; j < ny; ++j)
            for (uint32_t i = 0; i < nx; ++i) {
                uint64_t expected = 0;
                for (uint32_t l = 0; l < ny; ++l)
                    for (uint32_t k = 0; k < nx; ++k)
                        if (k + r >= i && k <= i + r && l + r >= j && l <= j + r)
                            expected += cells[l * nx + k];
                ASSERT_EQ(sums.Sum(i, j, r), expected) << r << " " << i << " " << j;
            }
}

// The packed rows against the accessor definition: white exactly where the
// pixel's grey is above the level interpolated between the cell centres.
TEST(AdaptiveThreshold, FastPathMatchesThePixelDefinition) {
    for (uint32_t bpp : {8u, 24u}) {
        RasterImage page(203, 141, bpp);
        if (bpp == 8) page.SetGrayPalette();
        std::mt19937 rng(bpp);
        for (int32_t y = 0; y < 141; ++y)
            for (int32_t x = 0; x < 203; ++x) {
                const auto v = static_cast<uint8_t>(std::clamp(
                    40 + x + static_cast<int32_t>(rng() % 60) - (x % 9 == 0) * 120, 0, 255));
                page.SetPixelColor(x, y, RgbQuad{v, static_cast<uint8_t>(255 - v), v, 0});
            }
        const uint32_t window = 45;
        const tone::CellGrid levels = tone::AdaptiveLevels(page, window);
        RasterImage bw(page);
        ASSERT_TRUE(bw.AdaptiveThreshold(window));
        const auto c = static_cast<double>(levels.cell);
        auto along = [](double p, uint32_t n, uint32_t& i0) {
            const double g = std::clamp(p, 0.0, n - 1.0);
            i0 = std::min(static_cast<uint32_t>(g), n - 1);
            return g - i0;
        };
        for (int32_t y = 0; y < 141; ++y)
            for (int32_t x = 0; x < 203; ++x) {
                uint32_t i0, j0;
                const double tx = along((x + 0.5) / c - 0.5, levels.nx, i0);
                const double ty = along((y + 0.5) / c - 0.5, levels.ny, j0);
                const uint32_t i1 = std::min(i0 + 1, levels.nx - 1),
                               j1 = std::min(j0 + 1, levels.ny - 1);
                const double level =
                    (levels.At(i0, j0) * (1 - tx) + levels.At(i1, j0) * tx) * (1 - ty) +
                    (levels.At(i0, j1) * (1 - tx) + levels.At(i1, j1) * tx) * ty;
                const RgbQuad col = page.GetPixelColor(x, y, false);
                const int32_t grey = (col.red * 306 + col.green * 601 + col.blue * 117) >> 10;
                // Float rounding may move a level that sits on a whole number.
                if (std::fabs(level - std::round(level)) < 1e-3) continue;
                ASSERT_EQ(bw.GetPixelIndex(x, y), grey > std::floor(level) ? 1 : 0)
                    << bpp << " " << x << "," << y;
            }
    }
}

}  // namespace
}  // namespace sheetmend
