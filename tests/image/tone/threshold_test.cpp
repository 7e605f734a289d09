// Threshold and OptimalThreshold on images whose right answers are known by
// construction: a full ramp of grey values, two-level and constant pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "image/raster_image.h"
#include "image/tone/tone_internal.h"

namespace sheetmend {
namespace {

RasterImage GreyRamp() {
    RasterImage img(256, 1, 8);
    img.SetGrayPalette();
    for (int32_t x = 0; x < 256; ++x) img.SetPixelIndex(x, 0, static_cast<uint8_t>(x));
    return img;
}

RasterImage Constant(uint8_t value) {
    RasterImage img(9, 7, 8);
    img.SetGrayPalette();
    img.Clear(value);
    return img;
}

TEST(Threshold, WhiteIsStrictlyAboveTheLevel) {
    RasterImage img = GreyRamp();
    ASSERT_TRUE(img.Threshold(128));
    ASSERT_EQ(img.GetBpp(), 1u);
    for (int32_t x = 0; x < 256; ++x) EXPECT_EQ(img.GetPixelIndex(x, 0), x > 128 ? 1 : 0) << x;
    EXPECT_EQ(img.GetPaletteColor(0), (RgbQuad{0, 0, 0, 0}));
    EXPECT_EQ(img.GetPaletteColor(1), (RgbQuad{255, 255, 255, 0}));

    // A 1-bit image is left as it is, resolution included.
    img.SetXDpi(300);
    const uint8_t* block = img.GetDib();
    ASSERT_TRUE(img.Threshold(0));
    EXPECT_EQ(img.GetDib(), block);
    EXPECT_EQ(img.GetPixelIndex(128, 0), 0);
    EXPECT_EQ(img.GetXDpi(), 300);
}

TEST(Threshold, TheResultStartsFreshBookkeeping) {
    RasterImage img = GreyRamp();
    img.SetXDpi(300);
    img.SetYDpi(600);
    img.SetType(kFormatTiff);
    img.SetCodecOption(4, kFormatTiff);
    img.SetBackgroundIndex(3);
    img.AlphaCreate();
    ASSERT_TRUE(img.Threshold(100));
    EXPECT_EQ(img.GetXDpi(), 96);
    EXPECT_EQ(img.GetYDpi(), 96);
    EXPECT_EQ(img.GetType(), kFormatUnknown);
    EXPECT_EQ(img.GetCodecOption(kFormatTiff), 0u);
    EXPECT_EQ(img.GetBackgroundIndex(), -1);
    EXPECT_FALSE(img.HasAlpha());
}

TEST(Threshold, EscapeStopsTheRowsButTheResultIsDelivered) {
    RasterImage img = Constant(255);
    img.SetEscape(1);
    ASSERT_TRUE(img.Threshold(10));
    ASSERT_EQ(img.GetBpp(), 1u);
    EXPECT_EQ(img.GetPixelIndex(0, 0), 0);  // no row was thresholded

    RasterImage empty;
    EXPECT_FALSE(empty.Threshold(1));
}

TEST(OptimalThreshold, TwoLevelsGiveTheMeanOfTheCriteriaThatQualify) {
    // 100 pixels of 10 and 100 of 240. Otsu and entropy see no difference
    // between splits and keep the first, 10; the lower class never spreads,
    // so Kittler-Illingworth never qualifies; the distance balance is even at
    // 125. The mean is (10 + 10 + 125) / 3.
    RasterImage img(20, 10, 8);
    img.SetGrayPalette();
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 20; ++x) img.SetPixelIndex(x, y, x < 10 ? 10 : 240);
    std::array<double, 256> h{};
    h[10] = 100;
    h[240] = 100;
    EXPECT_EQ(tone::BestSplits(h, 10, 240), (std::array<int32_t, 4>{10, -1, 10, 125}));
    EXPECT_EQ(img.OptimalThreshold(0), 48);
    EXPECT_EQ(img.OptimalThreshold(7), 48);
    // A single criterion's split on an end of the range, or no split at all,
    // gives way to the middle of the range.
    for (int32_t method = 1; method <= 4; ++method)
        EXPECT_EQ(img.OptimalThreshold(method), 125) << method;
}

TEST(OptimalThreshold, CriteriaOnSmallHistograms) {
    // 10, 20 and 200 once each. Otsu: {10, 20} | {200} leaves a spread of 50,
    // the least. Kittler-Illingworth: one class is always a single level.
    // Entropy: ln 2 for every split, so the first. Balance: (t-10)^2 +
    // (t-20)^2 against (200-t)^2 is closest at 92. Mean: 122 / 3.
    std::array<double, 256> h{};
    h[10] = h[20] = h[200] = 1;
    EXPECT_EQ(tone::BestSplits(h, 10, 200), (std::array<int32_t, 4>{20, -1, 10, 92}));
    EXPECT_EQ(tone::ChooseThreshold(h, 0), 40);
    EXPECT_EQ(tone::ChooseThreshold(h, 1), 20);
    // Two mirrored triangles 60..68 and 188..196: every split in the gap
    // separates them equally well for the first three criteria, so the first
    // one wins; the squared distances balance in the middle, at 128.
    std::array<double, 256> peaks{};
    for (int32_t i = 0; i < 9; ++i) peaks[60 + i] = peaks[196 - i] = 1 + std::min(i, 8 - i);
    EXPECT_EQ(tone::BestSplits(peaks, 60, 196), (std::array<int32_t, 4>{68, 68, 68, 128}));
    EXPECT_EQ(tone::ChooseThreshold(peaks, 0), 83);
    // Nothing counted at all.
    EXPECT_EQ(tone::ChooseThreshold(std::array<double, 256>{}, 0), -1);
}

TEST(OptimalThreshold, ConstantPagesGiveNoneOrJustBelow) {
    EXPECT_EQ(Constant(0).OptimalThreshold(), 0);
    RasterImage page = Constant(200);
    const int32_t level = page.OptimalThreshold();
    EXPECT_EQ(level, 199);
    ASSERT_TRUE(page.Threshold(static_cast<uint8_t>(level)));
    for (int32_t y = 0; y < 7; ++y)
        for (int32_t x = 0; x < 9; ++x) EXPECT_EQ(page.GetPixelIndex(x, y), 1);
}

TEST(OptimalThreshold, RegionAndMaskChooseThePixelsCounted) {
    // Left half 10 and 240, right half 50 and 90: a box or a mask over the
    // right half sees only 50 and 90, where the criteria give 50, none, 50
    // and 70.
    RasterImage img(8, 4, 8);
    img.SetGrayPalette();
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 8; ++x)
            img.SetPixelIndex(x, y, x < 4 ? (y % 2 ? 10 : 240) : (y % 2 ? 50 : 90));
    RasterImage mask(8, 4, 8);
    mask.SetGrayPalette();
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 4; x < 8; ++x) mask.SetPixelIndex(x, y, 1);
    const ImageRect right{4, 4, 8, 0};
    EXPECT_EQ(img.OptimalThreshold(0, &right), 56);
    EXPECT_EQ(img.OptimalThreshold(0, nullptr, &mask), 56);
    const ImageRect outside{20, 4, 30, 0};
    EXPECT_EQ(img.OptimalThreshold(0, &outside), -1);
    RasterImage nothing(8, 4, 8);
    nothing.SetGrayPalette();
    EXPECT_EQ(img.OptimalThreshold(0, nullptr, &nothing), -1);
}

TEST(OptimalThreshold, RefusesOtherDepthsAndUnfitMasks) {
    RasterImage empty;
    EXPECT_EQ(empty.OptimalThreshold(), 0);

    RasterImage colour(4, 4, 24);
    EXPECT_EQ(colour.OptimalThreshold(), -1);
    EXPECT_STREQ(colour.GetLastError(), "OptimalThreshold works only on 8 bit images");

    RasterImage img = Constant(100);
    RasterImage invalid;
    RasterImage coloured(9, 7, 8);
    coloured.SetStdPalette();
    RasterImage smaller(9, 6, 8);
    smaller.SetGrayPalette();
    // A 1-bit mask whose palette looks like an identity ramp is still read a
    // byte per pixel, past its short rows: it is refused as well.
    RasterImage packed(9, 7, 1);
    packed.SetPaletteColor(1, 1, 1, 1);
    ASSERT_TRUE(packed.IsGrayScale());
    for (const RasterImage* mask : {&invalid, &coloured, &smaller, &packed}) {
        img.SetLastError("");
        EXPECT_EQ(img.OptimalThreshold(0, nullptr, mask), -1);
        EXPECT_STREQ(img.GetLastError(), "OptimalThreshold invalid ContrastMask");
    }
}

}  // namespace
}  // namespace sheetmend
