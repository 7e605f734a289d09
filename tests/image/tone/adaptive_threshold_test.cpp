// The local threshold and the background flattening on drawn pages whose
// ink is known (tests/support/stained_pages.h), and the fast paths against
// their plain definitions.
#include <gtest/gtest.h>

#include <cstdio>

#include "image/raster_image.h"
#include "image/tone/tone_internal.h"
#include "tests/support/stained_pages.h"

namespace sheetmend {
namespace {

// What the conversion does for -threshold 0 without -adaptive.
RasterImage GlobalThreshold(RasterImage image) {
    image.GrayScale();
    image.Threshold(static_cast<uint8_t>(image.OptimalThreshold(0)));
    return image;
}

TEST(AdaptiveThreshold, DrawnPagesAgainstTheirInk) {
    std::printf("%-13s %8s %8s %13s %21s %7s\n", "page", "F global", "F local", "F flat+global",
                "flat: paper sd", "ink");
    for (const testing::StainedPage& p : testing::DrawStainedPages()) {
        RasterImage local(p.image), flat(p.image);
        ASSERT_TRUE(local.AdaptiveThreshold());
        ASSERT_TRUE(flat.FlattenBackground());
        EXPECT_EQ(local.GetBpp(), 1u);
        EXPECT_EQ(local.GetXDpi(), 300);
        const RasterImage global = GlobalThreshold(p.image);
        const double fLocal = testing::InkFMeasure(local, p.ink);
        const double fGlobal = testing::InkFMeasure(global, p.ink);
        const double fFlat = testing::InkFMeasure(GlobalThreshold(flat), p.ink);
        const double sdBefore = testing::GreyMeanAndSpread(p.image, p.paper).second;
        const double sdAfter = testing::GreyMeanAndSpread(flat, p.paper).second;
        const double ink = testing::GreyMeanAndSpread(flat, p.core).first;
        std::printf("%-13s %8.3f %8.3f %13.3f %9.2f -> %8.2f %7.1f\n", p.name.c_str(), fGlobal,
                    fLocal, fFlat, sdBefore, sdAfter, ink);
        EXPECT_GE(fLocal, 0.9) << p.name;
        EXPECT_GE(fFlat, 0.9) << p.name;
        EXPECT_GE(fLocal, fGlobal + (p.uneven ? 0.1 : -1)) << p.name;
        if (p.name == "gradient" || p.name == "coffee rings") {
            EXPECT_LE(sdAfter * 5, sdBefore) << p.name;
            EXPECT_NEAR(ink, 255 * testing::kBlackInk, 10) << p.name;
        }
        // On an evenly lit page the local result stays with the global one.
        size_t differ = 0;
        for (int32_t y = 0; p.name == "clean" && y < testing::kPageH; ++y)
            for (int32_t x = 0; x < testing::kPageW; ++x)
                differ += local.GetPixelIndex(x, y) != global.GetPixelIndex(x, y);
        EXPECT_LE(differ, testing::kPageW * testing::kPageH / 200);
    }
}

// The packed rows against the accessor definition: white exactly where the
// grey is above the level interpolated between the cell centres.
TEST(AdaptiveThreshold, FastPathMatchesThePixelDefinition) {
    RasterImage colour, grey;
    ASSERT_TRUE(testing::DrawStainedPages()[3].image.Crop(100, 100, 303, 241, &colour));
    grey.Copy(colour, true, true, true);
    grey.GrayScale();
    for (const RasterImage& page : {colour, grey}) {
        const tone::CellGrid levels = tone::AdaptiveLevels(page, 45);
        RasterImage bw(page);
        ASSERT_TRUE(bw.AdaptiveThreshold(45));
        auto along = [&](int32_t p, uint32_t n, uint32_t& i0) {
            const double g = std::clamp((p + 0.5) / levels.cell - 0.5, 0.0, n - 1.0);
            i0 = static_cast<uint32_t>(g);
            return g - i0;
        };
        for (int32_t y = 0; y < int32_t(page.GetHeight()); ++y)
            for (int32_t x = 0; x < int32_t(page.GetWidth()); ++x) {
                uint32_t i0, j0;
                const double tx = along(x, levels.nx, i0), ty = along(y, levels.ny, j0);
                const uint32_t i1 = std::min(i0 + 1, levels.nx - 1),
                               j1 = std::min(j0 + 1, levels.ny - 1);
                const double level =
                    (levels.At(i0, j0) * (1 - tx) + levels.At(i1, j0) * tx) * (1 - ty) +
                    (levels.At(i0, j1) * (1 - tx) + levels.At(i1, j1) * tx) * ty;
                const RgbQuad c = page.GetPixelColor(x, y, false);
                const int32_t g = (c.red * 306 + c.green * 601 + c.blue * 117) >> 10;
                // Float rounding may move a level that sits on a whole number.
                if (std::fabs(level - std::round(level)) > 1e-3) {
                    ASSERT_EQ(bw.GetPixelIndex(x, y), g > level)
                        << page.GetBpp() << " " << x << "," << y;
                }
            }
    }
}

}  // namespace
}  // namespace sheetmend
