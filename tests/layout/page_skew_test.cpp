// Whole-page skew measurement on pages drawn turned by a known angle: text
// pages of several kinds must come back within the accuracy bars, and pages
// without text lines must not be trusted.
#include "layout/page_skew.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "image/raster_image.h"
#include "tests/support/text_page.h"

namespace sheetmend::testing {
namespace {

constexpr int32_t W = 1240, H = 1754;  // A4 at 150 dpi

std::vector<Rect> Paragraph() {
    return TextLineBoxes(W, H, 60, 14, 30, 11);
}

// Two columns whose lines do not meet: the right column sits half a line lower.
std::vector<Rect> TwoColumns() {
    std::vector<Rect> boxes;
    for (Rect r : TextLineBoxes(W, H, 60, 14, 30, 12)) {
        if (r.x1 > 0.47 * W && r.x0 < 0.53 * W) continue;
        if (r.x0 >= 0.53 * W) r.y0 += 15, r.y1 += 15;
        boxes.push_back(r);
    }
    return boxes;
}

// A third of text, a halftone-like photo of dense dots, and a ruled table.
std::vector<Rect> PhotoAndTable() {
    std::vector<Rect> boxes = TextLineBoxes(W, H / 2, 20, 14, 30, 13);
    std::mt19937 rng(5);
    for (int32_t y = 620; y < 1100; y += 6)
        for (int32_t x = 150; x < 800; x += 6) {
            const double d = 1 + rng() % 5;
            boxes.push_back(Rect{double(x), double(y), x + d, y + d});
        }
    for (int32_t row = 0; row <= 6; ++row)
        boxes.push_back(Rect{150, 1200.0 + row * 60, 1090, 1203.0 + row * 60});
    for (int32_t col = 0; col <= 4; ++col)
        boxes.push_back(Rect{150.0 + col * 235, 1200, 153.0 + col * 235, 1563});
    return boxes;
}

// A paragraph inside a thick black frame at the page edges.
std::vector<Rect> Framed() {
    std::vector<Rect> boxes = Paragraph();
    boxes.insert(boxes.end(),
                 {{0, 0, W, 60}, {0, H - 60.0, W, H}, {0, 0, 60, H}, {W - 60.0, 0, W, H}});
    return boxes;
}

TEST(PageSkew, TextPagesTurnedByKnownAnglesMeetTheAccuracyBars) {
    const struct {
        const char* name;
        std::vector<Rect> boxes;
    } kinds[] = {{"paragraph", Paragraph()},
                 {"two columns", TwoColumns()},
                 {"photo and table", PhotoAndTable()},
                 {"sparse lines", TextLineBoxes(W, H, 6, 14, 200, 14)},
                 {"framed", Framed()}};
    const double angles[] = {-15, -10, -6, -4, -2.3, -0.9, -0.4, 0, 0.3, 1.2, 2.6, 4.3, 6, 10, 15};
    std::vector<double> within;  // residuals of the turns within +-6 degrees
    for (const auto& kind : kinds) {
        double sum = 0, worst = 0;
        for (double angle : angles) {
            const RasterImage page = BitPageImage(DrawTurned(W, H, kind.boxes, angle * kDegree));
            const PageSkew skew = MeasurePageSkew(page, kDefaultSkewRangeDegrees);
            const double residual = std::fabs(skew.degrees - angle);
            EXPECT_TRUE(skew.trusted) << kind.name << " " << angle << ": " << skew.reason;
            EXPECT_LE(residual, 0.3)
                << kind.name << " turned " << angle << " measured " << skew.degrees;
            if (std::fabs(angle) <= 6) within.push_back(residual);
            sum += residual;
            worst = std::max(worst, residual);
        }
        std::printf("%-16s mean %.3f worst %.3f degrees over -15..15\n", kind.name,
                    sum / std::size(angles), worst);
    }
    std::sort(within.begin(), within.end());
    double mean = 0;
    for (double r : within) mean += r / static_cast<double>(within.size());
    const double ninety = within[within.size() * 9 / 10];
    std::printf("within +-6: mean %.3f, 90%% %.3f, worst %.3f degrees\n", mean, ninety,
                within.back());
    EXPECT_LE(mean, 0.1);
    EXPECT_LE(ninety, 0.15);
    EXPECT_LE(within.back(), 0.3);
}

// A small 75-dpi fragment: two columns of short lines that line up, letters
// four to seven pixels wide, some with ascenders. Its half lines alone are
// too short to settle the slope; the bars hold for it as for a full page.
TEST(PageSkew, SmallLowResolutionPagesMeetTheAccuracyBars) {
    constexpr int32_t w = 486, h = 631;
    std::mt19937 rng(11);
    std::vector<Rect> boxes;
    for (int32_t column = 0; column < 2; ++column)
        for (int32_t base = 60; base < h - 60; base += 13) {
            const int32_t left = column ? 260 : 40, right = left + 120 + int32_t(rng() % 70);
            for (int32_t x = left; x < right;) {
                const int32_t letter = 4 + int32_t(rng() % 4), tall = rng() % 4 ? 0 : 3;
                boxes.push_back(
                    Rect{double(x), double(base - tall), double(x + letter), base + 5.0});
                x += letter + 1 + (rng() % 5 ? 0 : 4);
            }
        }
    double sum = 0;
    const double angles[] = {-6, -4.5, -2.5, -1.3, -0.6, -0.2, 0.4, 0.9, 1.7, 3.1, 4.8, 6};
    for (double angle : angles) {
        const PageSkew skew = MeasurePageSkew(
            BitPageImage(DrawTurned(w, h, boxes, angle * kDegree)), kDefaultSkewRangeDegrees);
        EXPECT_TRUE(skew.trusted) << angle << ": " << skew.reason;
        EXPECT_NEAR(skew.degrees, angle, 0.15);
        sum += std::fabs(skew.degrees - angle);
    }
    EXPECT_LE(sum / std::size(angles), 0.1);
}

// Grey and colour pages find their ink against the local paper level,
// here paper that darkens from right to left (colour: the same, made 24-bit).
TEST(PageSkew, GreyAndColourPagesAreMeasuredAgainstTheirPaper) {
    const BitPage ink = DrawTurned(W, H, Paragraph(), 2.2 * kDegree);
    RasterImage page(W, H, 8);
    page.SetGrayPalette();
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            page.RowPtr(static_cast<uint32_t>(H - 1 - y))[x] =
                static_cast<uint8_t>((120 + 120 * x / W) / (ink.Ink(x, y) ? 3 : 1));
    for (int depth = 8; depth <= 24; depth += 16) {
        if (depth == 24) page.IncreaseBpp(24);
        const PageSkew skew = MeasurePageSkew(page, kDefaultSkewRangeDegrees);
        EXPECT_TRUE(skew.trusted) << depth << ": " << skew.reason;
        EXPECT_NEAR(skew.degrees, 2.2, 0.15) << depth;
        EXPECT_GE(skew.lines, 30) << depth;
    }
}

// Pages without text lines give no trusted angle, each for its reason; a
// narrower range given by the user excludes a larger skew.
TEST(PageSkew, PrintedAnglesNeverShowMinusZero) {
    const std::pair<double, const char*> cases[] = {
        {-0.0, "0.00"}, {-0.0049, "0.00"}, {0.0049, "0.00"}, {-0.0051, "-0.01"}, {-1.234, "-1.23"}};
    for (const auto& [degrees, shown] : cases) {
        char text[16];
        std::snprintf(text, sizeof text, "%.2f", PrintedDegrees(degrees));
        EXPECT_STREQ(text, shown) << degrees;
    }
}

TEST(PageSkew, PagesWithoutTextLinesAreNotTrusted) {
    std::mt19937 rng(3);
    RasterImage blank(W, H, 8);
    blank.SetGrayPalette();
    blank.Clear(250);
    // A photo: smooth shading with grain; and the same as a 1-bit halftone.
    RasterImage photo(W, H, 8), halftone(W, H, 1);
    photo.SetGrayPalette();
    halftone.SetPaletteColor(0, 0, 0, 0);
    halftone.SetPaletteColor(1, 255, 255, 255);
    static const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    // Shading from waves of random directions, with grain.
    double wave[6][3];
    for (auto& w : wave) {
        const double direction = (rng() % 360) * kDegree, length = 60 + rng() % 200;
        w[0] = std::cos(direction) / length, w[1] = std::sin(direction) / length,
        w[2] = (rng() % 100) / 10.0;
    }
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            double v = 128 + static_cast<int>(rng() % 21) - 10;
            for (const auto& w : wave) v += 30 * std::sin(x * w[0] + y * w[1] + w[2]);
            const auto g = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
            photo.SetPixelIndex(x, y, g);
            halftone.SetPixelIndex(x, y, g > bayer[y % 4][x % 4] * 16 + 8 ? 1 : 0);
        }
    std::vector<Rect> twoWords = TextLineBoxes(W, H, 1, 14, 30, 9);
    twoWords.resize(10);
    BitPage rules(W, H);
    for (int32_t x = 200; x < W - 200; x += 160) rules.Fill(x, 100, 4, H - 200);
    struct Case {
        const char* name;
        RasterImage page;
    } cases[] = {{"blank", blank},
                 {"photo", photo},
                 {"halftone", halftone},
                 {"two words", BitPageImage(DrawTurned(W, H, twoWords, 1.5 * kDegree))},
                 {"vertical rules", BitPageImage(rules)}};
    for (const Case& c : cases) {
        const PageSkew skew = MeasurePageSkew(c.page, kDefaultSkewRangeDegrees);
        EXPECT_FALSE(skew.trusted) << c.name << " measured " << skew.degrees;
        EXPECT_STRNE(skew.reason, "") << c.name;
    }
    const RasterImage turned = BitPageImage(DrawTurned(W, H, Paragraph(), 8 * kDegree));
    EXPECT_FALSE(MeasurePageSkew(turned, 5).trusted);
    EXPECT_NEAR(MeasurePageSkew(turned, 10).degrees, 8, 0.2);
}

}  // namespace
}  // namespace sheetmend::testing
