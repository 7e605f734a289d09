#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "pipeline/clean_page.h"
#include "tests/support/text_page.h"

namespace sheetmend {
namespace {

using testing::BitPage;

PageBitmap ToBitmap(const BitPage& page) {
    PageBitmap b;
    b.width = static_cast<uint16_t>(page.width);
    b.height = static_cast<uint16_t>(page.height);
    b.depth = 1;
    b.bits = page.bits;
    b.size = static_cast<int32_t>(b.bits.size());
    return b;
}

bool Ink(const PageBitmap& b, int32_t x, int32_t y) {
    return (b.Row(static_cast<uint32_t>(y))[x >> 3] >> (7 - (x & 7))) & 1;
}

// The rotation pixel by pixel: every ink pixel sent to its place.
BitPage ReferenceRotate(const BitPage& page, double angle) {
    const RotationMap map(angle, page.RowBits(), page.height);
    BitPage out(page.width, page.height);
    for (int32_t y = 0; y < page.height; ++y)
        for (int32_t x = 0; x < page.width; ++x) {
            if (!page.Ink(x, y)) continue;
            const int32_t tx = map.X(x, y), ty = map.Y(x, y);
            if (tx >= 0 && tx < page.width && ty >= 0 && ty < page.height) out.Set(tx, ty);
        }
    return out;
}

TEST(RotationMap, SixteenSixteenFactorsAreTruncated) {
    // cos 0.05 = 0.998750260, sin 0.05 = 0.049979169: times 65536 that is
    // 65454.08 and 3275.44. On a 1008 x 600 page the offsets are
    // (1008 - 1006.74 + 29.99) / 2 = 15.62 and (600 - 599.25 - 50.38) / 2 = -24.81.
    const RotationMap plus(0.05, 1008, 600), minus(-0.05, 1008, 600);
    EXPECT_EQ(plus.cos16, 65454);
    EXPECT_EQ(plus.sin16, 3275);
    EXPECT_EQ(minus.sin16, -3275);
    EXPECT_NEAR(plus.offsetX / 65536.0, 15.62, 0.01);
    EXPECT_NEAR(plus.offsetY / 65536.0, -24.81, 0.01);
    // The middle of the padded page stays in place, but for the fraction
    // that the truncated factors lose (299.99 drops to 299).
    for (const RotationMap* map : {&plus, &minus}) {
        EXPECT_NEAR(map->X(504, 300), 504, 1);
        EXPECT_NEAR(map->Y(504, 300), 300, 1);
    }
}

// A level line turned by a positive angle descends to the right, its ends
// where the turn about the page middle puts them.
TEST(RotatePage, LineEndsGoWhereTheTurnPutsThem) {
    for (double angle : {0.02, -0.02, 0.0499}) {
        SCOPED_TRACE(angle);
        BitPage page(1000, 600);
        page.Fill(100, 300, 801, 1);
        PageBitmap bitmap = ToBitmap(page);
        RotatePage(bitmap, angle);
        const double cx = 1008 / 2.0, cy = 300, c = std::cos(angle), s = std::sin(angle);
        for (int32_t x : {100, 500, 900}) {
            const double tx = cx + (x - cx) * c - (300 - cy) * s,
                         ty = cy + (x - cx) * s + (300 - cy) * c;
            bool found = false;
            for (int32_t dy = -1; dy <= 1; ++dy)
                for (int32_t dx = -1; dx <= 1; ++dx)
                    found |=
                        Ink(bitmap, static_cast<int32_t>(tx) + dx, static_cast<int32_t>(ty) + dy);
            EXPECT_TRUE(found) << x << " -> " << tx << "," << ty;
        }
        // The line's ink is wholly in the rows the turn reaches.
        const int32_t rise = static_cast<int32_t>(std::ceil(std::fabs(s) * 410)) + 1;
        for (int32_t y = 0; y < 600; ++y)
            for (int32_t x = 0; x < 1000; ++x)
                if (Ink(bitmap, x, y)) {
                    ASSERT_LE(std::abs(y - 300), rise) << x << "," << y;
                }
    }
}

TEST(RotatePage, AnglesOutsideTheRangeChangeNothing) {
    BitPage page(333, 200);
    page.Fill(10, 10, 300, 5);
    page.Fill(0, 0, 1, 1);
    page.Fill(332, 199, 1, 1);
    for (double angle : {0.0, 0.0000999, -0.0000999, 0.0500001, -0.06, 1.0, std::nan("")}) {
        PageBitmap bitmap = ToBitmap(page);
        RotatePage(bitmap, angle);
        EXPECT_EQ(bitmap.bits, page.bits) << angle;
    }
    for (double angle : {0.05, -0.05}) {
        PageBitmap bitmap = ToBitmap(page);
        RotatePage(bitmap, angle);
        EXPECT_NE(bitmap.bits, page.bits) << angle;
        EXPECT_EQ(bitmap.bits.size(), page.bits.size());
        EXPECT_EQ(bitmap.width, 333);
        // The top-left pixel leaves the page (above it at +0.05, left of it
        // at -0.05) and is lost.
        BitPage corner(333, 200);
        corner.Set(0, 0);
        PageBitmap turned = ToBitmap(corner);
        RotatePage(turned, angle);
        EXPECT_EQ(turned.bits, BitPage(333, 200).bits);
    }
}

// The run-moving rotation against the pixel definition, on random pages
// with long rules and scattered pixels, in both directions, at widths whose
// last byte and padding are partly used: the padding stays paper.
TEST(RotatePage, RunPathMatchesThePixelDefinition) {
    std::mt19937 rng(5);
    for (const auto& [w, h] :
         std::vector<std::pair<int32_t, int32_t>>{{77, 64}, {300, 211}, {1001, 150}}) {
        BitPage page(w, h);
        for (int32_t y = 0; y < h; y += 7) page.Fill(0, y, w, 1);
        for (int32_t x = 3; x < w; x += 29) page.Fill(x, 0, 2, h);
        for (int32_t i = 0; i < w * h / 10; ++i)
            page.Set(static_cast<int32_t>(rng() % w), static_cast<int32_t>(rng() % h));
        for (double angle :
             {0.0001, -0.0001, 0.001, -0.0033, 0.0175, -0.0175, 0.0311, 0.05, -0.05}) {
            SCOPED_TRACE(::testing::Message() << w << " x " << h << " at " << angle);
            PageBitmap bitmap = ToBitmap(page);
            RotatePage(bitmap, angle);
            const BitPage expected = ReferenceRotate(page, angle);
            ASSERT_EQ(bitmap.bits, expected.bits);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = w; x < page.RowBits(); ++x) ASSERT_FALSE(Ink(bitmap, x, y));
        }
    }
}

// The widest pages: the rotation turns about the middle of the 65536-bit
// rows of a 65530-pixel page (not about column 0, where a 16-bit padding
// mask would put it).
TEST(RotatePage, WidestPageTurnsAboutItsMiddle) {
    BitPage page(65530, 160);
    ASSERT_EQ(page.RowBits(), 65536);
    page.Fill(100, 80, 65330, 1);
    PageBitmap bitmap = ToBitmap(page);
    EXPECT_EQ(PaddedRowBits(bitmap), 65536);
    RotatePage(bitmap, 0.001);
    EXPECT_EQ(bitmap.bits, ReferenceRotate(page, 0.001).bits);
    // The middle stays (to the fraction the truncation loses); the left end
    // rises by 32768 * 0.001 = 33 rows.
    EXPECT_TRUE(Ink(bitmap, 32768, 80) || Ink(bitmap, 32768, 79));
    EXPECT_FALSE(Ink(bitmap, 100, 80));
    bool end = false;
    for (int32_t y = 46; y <= 48; ++y) end |= Ink(bitmap, 100, y) || Ink(bitmap, 101, y);
    EXPECT_TRUE(end);
}

}  // namespace
}  // namespace sheetmend
