// Turning a page level: every depth keeps its size, depth, palette and
// resolution and gets paper-coloured corners; the 1-bit shears and the grey
// and colour two-pass turn match their plain per-pixel definitions.
#include "image/skew_turn.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/test_images.h"
#include "tests/support/text_page.h"

namespace sheetmend::testing {
namespace {

constexpr int32_t W = 301, H = 203;

// Every depth on tinted paper with a level dark bar, turned 6 degrees:
// size, depth, palette and resolution stay, the uncovered corners show the
// paper, and the bar now rises to the right by tan(6) * 110 = 11.6 rows on
// each side of the centre (rows count from the bottom).
TEST(SkewTurn, EveryDepthKeepsItsPropertiesAndGetsPaperCorners) {
    const RgbQuad paper{200, 230, 250, 0}, ink{20, 10, 0, 0};
    for (uint32_t bpp : {1u, 4u, 8u, 8u + 100u, 24u}) {  // 108: 8-bit with a colour palette
        RasterImage page(W, H, bpp % 100);
        page.SetXDpi(300);
        page.SetYDpi(200);
        if (bpp == 8) page.SetGrayPalette();
        if (bpp == 1) page.SetPaletteColor(1, 255, 255, 255);
        if (bpp == 4 || bpp == 108) page.SetPaletteColor(1, paper), page.SetPaletteColor(2, ink);
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x)
                page.SetPixelColor(x, y, y > 90 && y < 110 && x > 20 && x < 280 ? ink : paper);
        const RasterImage before(page);
        const RgbQuad expected = before.GetPixelColor(0, 0, false);
        const PaperTone tone = EstimatePaper(page);
        EXPECT_EQ(tone.colour, expected) << bpp;
        ASSERT_TRUE(TurnToLevel(page, 6.0, tone)) << bpp;
        EXPECT_EQ(page.GetWidth() * 1000 + page.GetHeight(), W * 1000u + H) << bpp;
        EXPECT_EQ(page.GetBpp(), bpp % 100);
        EXPECT_EQ(page.GetXDpi() * 1000 + page.GetYDpi(), 300200) << bpp;
        for (uint32_t i = 0; i < page.GetNumColors(); ++i)
            EXPECT_EQ(page.GetPaletteColor(static_cast<uint8_t>(i)),
                      before.GetPaletteColor(static_cast<uint8_t>(i)));
        for (auto [x, y] : {std::pair{0, 0}, {W - 1, 0}, {0, H - 1}, {W - 1, H - 1}})
            EXPECT_EQ(page.GetPixelColor(x, y, false), expected) << bpp << " " << x << "," << y;
        EXPECT_LT(page.GetPixelColor(40, 100 - 14, false).red, 100) << bpp;
        EXPECT_LT(page.GetPixelColor(260, 100 + 14, false).red, 100) << bpp;
    }
}

// The plain definition of the 1-bit turn: three shears (rows, columns,
// rows) by whole pixels, each pixel read through the checked accessors,
// outside the page paper.
RasterImage ShearByAccessors(const RasterImage& page, double skewDegrees, uint8_t paper) {
    const double b = -skewDegrees * kDegree, k1 = -std::tan(b / 2), k2 = std::sin(b);
    const double cx = (W - 1) / 2.0, cr = (H - 1) / 2.0;
    auto read = [&](const RasterImage& img, int64_t x, int64_t y) -> int32_t {
        return x < 0 || y < 0 || x >= W || y >= H
                   ? paper
                   : img.GetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y));
    };
    // The pixel `shift` pixels along the row (dx = 1) or the column (dy = 1).
    auto sample = [&](const RasterImage& img, int32_t x, int32_t y, double shift, int dx, int dy) {
        const auto d = static_cast<int64_t>(std::floor(shift + 0.5));
        return read(img, x + d * dx, y + d * dy);
    };
    auto rows = [&](const RasterImage& in) {
        RasterImage out(in);
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x)
                out.SetPixelIndex(x, y,
                                  static_cast<uint8_t>(sample(in, x, y, k1 * (y - cr), 1, 0)));
        return out;
    };
    const RasterImage first = rows(page);
    RasterImage second(first);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            second.SetPixelIndex(x, y,
                                 static_cast<uint8_t>(sample(first, x, y, k2 * (x - cx), 0, 1)));
    return rows(second);
}

// The grey turn by its plain definition: a linear sample along each row at
// cx + (x - cx) / cos b - (y - cy) tan b, then along each column of that at
// cy + (x - cx) sin b + (y - cy) cos b, with weights in 1/256 steps and
// paper outside. Together they read the source at the turned point,
// blending once across and once along, as a bilinear turn does.
std::vector<int32_t> TurnGreyByDefinition(const RasterImage& grey, double skewDegrees,
                                          int32_t paper) {
    const double b = -skewDegrees * kDegree, c = std::cos(b), s = std::sin(b);
    const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
    auto sample = [](auto read, double at) {
        const double steps = std::floor(at * 256 + 0.5);
        const auto whole = static_cast<int64_t>(std::floor(steps / 256));
        const auto w = static_cast<int32_t>(steps - static_cast<double>(whole) * 256);
        return ((256 - w) * read(whole) + w * read(whole + 1) + 128) >> 8;
    };
    std::vector<int32_t> across(static_cast<size_t>(W) * H), turned(across.size());
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            across[static_cast<size_t>(y) * W + x] = sample(
                [&](int64_t u) {
                    return u < 0 || u >= W ? paper : grey.GetPixelIndex(static_cast<int32_t>(u), y);
                },
                cx + (x - cx) / c - (y - cy) * s / c);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            turned[static_cast<size_t>(y) * W + x] = sample(
                [&](int64_t v) {
                    return v < 0 || v >= H ? paper : across[static_cast<size_t>(v) * W + x];
                },
                cy + (x - cx) * s + (y - cy) * c);
    return turned;
}

// 1-bit pages turn exactly as their definition says. A grey page turns as
// its definition says within two levels (each pass rounds a row's start and
// its step apart, so a position may lie a 256th of a pixel off, a level at
// most per pass), and a colour page exactly as each of its channels would
// alone, as grey.
TEST(SkewTurn, TurnsMatchTheirPerPixelDefinition) {
    for (double angle : {-7.3, -0.6, 2.5, 14.0}) {
        for (uint8_t paper : {0, 1}) {
            RasterImage page = RandomImage(W, H, 1, 17);
            page.SetPaletteColor(paper, 255, 255, 255);
            page.SetPaletteColor(1 - paper, 0, 0, 0);
            const RasterImage expected = ShearByAccessors(page, angle, paper);
            ASSERT_TRUE(TurnToLevel(page, angle, EstimatePaper(page)));
            EXPECT_TRUE(SamePixels(page, expected)) << angle << " paper " << int(paper);
        }
        RasterImage grey = RandomImage(W, H, 8, 23);
        grey.SetGrayPalette();
        PaperTone paper;
        paper.index = 77;
        const std::vector<int32_t> expected = TurnGreyByDefinition(grey, angle, paper.index);
        ASSERT_TRUE(TurnToLevel(grey, angle, paper));
        int32_t worst = 0;
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x)
                worst = std::max(worst, std::abs(grey.GetPixelIndex(x, y) -
                                                 expected[static_cast<size_t>(y) * W + x]));
        EXPECT_LE(worst, 2) << "grey " << angle;

        RasterImage colour = RandomImage(W, H, 24, 29);
        const uint8_t paperBgr[3] = {200, 90, 40};
        RasterImage channels[3] = {RasterImage(W, H, 8), RasterImage(W, H, 8),
                                   RasterImage(W, H, 8)};
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x)
                for (int32_t c = 0; c < 3; ++c)
                    channels[c].SetPixelIndex(x, y,
                                              colour.RowPtr(static_cast<uint32_t>(y))[3 * x + c]);
        PaperTone colourPaper;
        colourPaper.colour = RgbQuad{paperBgr[0], paperBgr[1], paperBgr[2], 0};
        ASSERT_TRUE(TurnToLevel(colour, angle, colourPaper));
        int32_t wrong = 0;
        for (int32_t c = 0; c < 3; ++c) {
            channels[c].SetGrayPalette();
            PaperTone channelPaper;
            channelPaper.index = paperBgr[c];
            ASSERT_TRUE(TurnToLevel(channels[c], angle, channelPaper));
            for (int32_t y = 0; y < H; ++y)
                for (int32_t x = 0; x < W; ++x)
                    wrong += colour.RowPtr(static_cast<uint32_t>(y))[3 * x + c] !=
                             channels[c].GetPixelIndex(x, y);
        }
        EXPECT_EQ(wrong, 0) << "colour " << angle;
    }
}

}  // namespace
}  // namespace sheetmend::testing
