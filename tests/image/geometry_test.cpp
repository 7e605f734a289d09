// Geometry: each fast path is compared with a plain accessor version of the
// same mapping, on images whose widths are not multiples of 8, and the
// mappings themselves are checked on small hand-made images.
#include <gtest/gtest.h>

#include <cmath>

#include "image/raster_image.h"
#include "tests/support/test_images.h"

namespace sheetmend {
namespace {

using testing::RandomImage;
using testing::SamePixels;

const uint32_t kDepths[] = {1, 4, 8, 24};
const uint32_t kWidths[] = {1, 7, 13, 67};

// --- accessor versions of the mappings -------------------------------------

RasterImage NewLike(const RasterImage& src, uint32_t w, uint32_t h) {
    RasterImage out;
    out.TakeBookkeeping(src);
    out.Create(w, h, src.GetBpp(), src.GetType());
    out.SetPalette(src.GetPalette(), src.GetNumColors());
    return out;
}

RasterImage RefResample(const RasterImage& src, int32_t nw, int32_t nh) {
    RasterImage out = NewLike(src, nw, nh);
    const float xs = static_cast<float>(src.GetWidth()) / static_cast<float>(nw);
    const float ys = static_cast<float>(src.GetHeight()) / static_cast<float>(nh);
    for (int32_t y = 0; y < nh; ++y)
        for (int32_t x = 0; x < nw; ++x)
            out.SetPixelColor(
                x, y,
                src.GetPixelColor(static_cast<int32_t>(x * xs), static_cast<int32_t>(y * ys)));
    return out;
}

RasterImage RefRotate(const RasterImage& src, float angle) {
    const double a = -angle * std::acos(0.0) / 90.0;
    const double c = std::cos(a), s = std::sin(a);
    const double W = src.GetWidth(), H = src.GetHeight();
    float xs[4], ys[4];
    const double px[4] = {0, W, 0, W}, py[4] = {0, 0, H, H};
    for (int i = 0; i < 4; ++i) {
        xs[i] = static_cast<float>(px[i] * c - py[i] * s);
        ys[i] = static_cast<float>(px[i] * s + py[i] * c);
    }
    const float left = std::min(std::min(xs[0], xs[1]), std::min(xs[2], xs[3]));
    const float right = std::max(std::max(xs[0], xs[1]), std::max(xs[2], xs[3]));
    const float top = std::min(std::min(ys[0], ys[1]), std::min(ys[2], ys[3]));
    const float bottom = std::max(std::max(ys[0], ys[1]), std::max(ys[2], ys[3]));
    RasterImage out = NewLike(src, static_cast<uint32_t>(std::floor(0.5f + right - left)),
                              static_cast<uint32_t>(std::floor(0.5f + bottom - top)));
    int32_t ny = 0;
    for (int32_t y = static_cast<int32_t>(top); y <= static_cast<int32_t>(bottom); ++y, ++ny) {
        int32_t nx = 0;
        for (int32_t x = static_cast<int32_t>(left); x <= static_cast<int32_t>(right); ++x, ++nx) {
            const auto ox = static_cast<int32_t>(x * c + y * s + 0.5);
            const auto oy = static_cast<int32_t>(y * c - x * s + 0.5);
            if (src.GetBpp() < 24)
                out.SetPixelIndex(nx, ny, src.GetPixelIndex(ox, oy));
            else
                out.SetPixelColor(nx, ny, src.GetPixelColor(ox, oy));
        }
    }
    return out;
}

RasterImage RefTurn(const RasterImage& src, bool left) {
    const int32_t W = src.GetWidth(), H = src.GetHeight();
    RasterImage out = NewLike(src, H, W);
    for (int32_t y = 0; y < W; ++y)
        for (int32_t x = 0; x < H; ++x) {
            const int32_t sx = left ? y : W - 1 - y;
            const int32_t sy = left ? H - 1 - x : x;
            if (src.GetBpp() < 24)
                out.SetPixelIndex(x, y, src.GetPixelIndex(sx, sy));
            else
                out.SetPixelColor(x, y, src.GetPixelColor(sx, sy));
        }
    return out;
}

RasterImage RefMirror(const RasterImage& src) {
    const int32_t W = src.GetWidth(), H = src.GetHeight();
    RasterImage out = NewLike(src, W, H);
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            if (src.GetBpp() < 24)
                out.SetPixelIndex(x, y, src.GetPixelIndex(W - 1 - x, y));
            else
                out.SetPixelColor(x, y, src.GetPixelColor(W - 1 - x, y));
        }
    return out;
}

RasterImage RefCrop(const RasterImage& src, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    RasterImage out = NewLike(src, x1 - x0, y1 - y0);
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x) {
            if (src.GetBpp() < 24)
                out.SetPixelIndex(x - x0, y - y0, src.GetPixelIndex(x, y));
            else
                out.SetPixelColor(x - x0, y - y0, src.GetPixelColor(x, y));
        }
    return out;
}

// --- fast paths against the accessor versions -------------------------------

TEST(GeometryFastPaths, ResampleMatchesAccessors) {
    uint32_t seed = 10;
    for (uint32_t bpp : kDepths)
        for (uint32_t w : kWidths) {
            RasterImage src = RandomImage(w, 9, bpp, ++seed);
            for (auto [nw, nh] :
                 {std::pair{w * 2 + 1, 17u}, std::pair{w / 2 + 1, 4u}, std::pair{3u, 1u}}) {
                RasterImage fast(src);
                ASSERT_TRUE(fast.Resample(static_cast<int32_t>(nw), static_cast<int32_t>(nh)));
                EXPECT_TRUE(SamePixels(fast, RefResample(src, nw, nh)))
                    << bpp << " " << w << "->" << nw;
                EXPECT_TRUE(testing::PaddingIsZero(fast));
            }
        }
}

TEST(GeometryFastPaths, RotateMatchesAccessors) {
    uint32_t seed = 100;
    for (uint32_t bpp : kDepths)
        for (uint32_t w : kWidths)
            for (float angle : {90.0f, -90.0f, 33.0f, -7.0f, 180.0f, 1.0f}) {
                RasterImage src = RandomImage(w, 11, bpp, ++seed);
                RasterImage fast(src);
                ASSERT_TRUE(fast.Rotate(angle));
                EXPECT_TRUE(SamePixels(fast, RefRotate(src, angle)))
                    << bpp << " " << w << " " << angle;
                src.SetBackgroundIndex(1);
                src.SetBackgroundColor(RgbQuad{1, 2, 3, 0});
                RasterImage withBackground(src);
                ASSERT_TRUE(withBackground.Rotate(angle));
                EXPECT_TRUE(SamePixels(withBackground, RefRotate(src, angle)));
            }
    // Larger than one 64 x 64 tile in both directions, with partial tiles.
    for (uint32_t bpp : kDepths)
        for (float angle : {90.0f, -33.0f}) {
            RasterImage src = RandomImage(157, 131, bpp, ++seed);
            RasterImage fast(src);
            ASSERT_TRUE(fast.Rotate(angle));
            EXPECT_TRUE(SamePixels(fast, RefRotate(src, angle))) << bpp << " " << angle;
        }
}

TEST(GeometryFastPaths, QuarterTurnsMirrorAndCropMatchAccessors) {
    uint32_t seed = 200;
    for (uint32_t bpp : kDepths)
        for (uint32_t w : kWidths) {
            RasterImage src = RandomImage(w, 10, bpp, ++seed);
            RasterImage left(src), right(src), mirrored(src);
            ASSERT_TRUE(left.RotateLeft());
            ASSERT_TRUE(right.RotateRight());
            ASSERT_TRUE(mirrored.Mirror());
            EXPECT_TRUE(SamePixels(left, RefTurn(src, true))) << bpp << " " << w;
            EXPECT_TRUE(SamePixels(right, RefTurn(src, false))) << bpp << " " << w;
            EXPECT_TRUE(SamePixels(mirrored, RefMirror(src))) << bpp << " " << w;
            EXPECT_TRUE(testing::PaddingIsZero(left));
            EXPECT_TRUE(testing::PaddingIsZero(mirrored));
            for (int32_t x0 = 0; x0 < static_cast<int32_t>(w); x0 += 3) {
                const int32_t x1 = std::min<int32_t>(w, x0 + 1 + x0 % 11);
                RasterImage cropped(src);
                // top 2 and bottom 9 from the top edge: rows 1 .. 7 (bottom-up).
                ASSERT_TRUE(cropped.Crop(x0, 2, x1, 9));
                EXPECT_TRUE(SamePixels(cropped, RefCrop(src, x0, 1, x1, 8)))
                    << bpp << " " << w << " " << x0;
                EXPECT_TRUE(testing::PaddingIsZero(cropped));
            }
        }
}

TEST(GeometryFastPaths, BitonalQuarterTurnsOnLargerPages) {
    for (auto [w, h] :
         {std::pair{203u, 77u}, std::pair{64u, 64u}, std::pair{9u, 130u}, std::pair{1u, 1u}}) {
        RasterImage src = RandomImage(w, h, 1, w * 1000 + h);
        RasterImage left(src), right(src);
        ASSERT_TRUE(left.RotateLeft());
        ASSERT_TRUE(right.RotateRight());
        EXPECT_TRUE(SamePixels(left, RefTurn(src, true))) << w << "x" << h;
        EXPECT_TRUE(SamePixels(right, RefTurn(src, false))) << w << "x" << h;
        EXPECT_TRUE(testing::PaddingIsZero(left));
        EXPECT_TRUE(testing::PaddingIsZero(right));
    }
}

TEST(GeometryFastPaths, TurnsByMultiplesOf90MatchAccessors) {
    // Multiples of 90 degrees read their pixels by tables (1-bit pages a word
    // at a time); pages of odd sizes, larger than one 8 x 8 block and one
    // 64 x 64 tile, with and without a background index (which decides what
    // is read from outside the source).
    uint32_t seed = 300;
    for (uint32_t bpp : kDepths)
        for (auto [w, h] :
             {std::pair{203u, 77u}, std::pair{9u, 130u}, std::pair{1u, 1u}, std::pair{130u, 66u}})
            for (float angle :
                 {90.0f, -90.0f, 180.0f, -180.0f, 270.0f, -270.0f, 360.0f, 450.0f, 0.0f})
                for (int32_t background : {-1, 0, 1}) {
                    RasterImage src = RandomImage(w, h, bpp, ++seed);
                    src.SetBackgroundIndex(background);
                    RasterImage fast(src);
                    ASSERT_TRUE(fast.Rotate(angle));
                    EXPECT_TRUE(SamePixels(fast, RefRotate(src, angle)))
                        << bpp << " " << w << "x" << h << " " << angle << " " << background;
                    EXPECT_TRUE(testing::PaddingIsZero(fast));
                }
}

// --- the mappings themselves --------------------------------------------------

// A 3 x 2 8-bit image numbered so each pixel names its position:
// value = 10 * y + x (y from the bottom).
RasterImage Numbered(uint32_t w, uint32_t h) {
    RasterImage img(w, h, 8);
    img.SetGrayPalette();
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) img.SetPixelIndex(x, y, static_cast<uint8_t>(10 * y + x));
    return img;
}

TEST(Geometry, ResampleKeepsOwnSizeAndSamplesNearestPixel) {
    RasterImage img = Numbered(4, 4);
    const uint8_t* before = img.GetDib();
    EXPECT_TRUE(img.Resample(4, 4));
    EXPECT_EQ(img.GetDib(), before);
    EXPECT_FALSE(img.Resample(0, 4));

    RasterImage twice(img);
    ASSERT_TRUE(twice.Resample(8, 8));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(twice.GetPixelIndex(x, y), 10 * (y / 2) + x / 2);
    RasterImage half(img);
    half.SetXDpi(300);
    ASSERT_TRUE(half.Resample(2, 2));
    EXPECT_EQ(half.GetPixelIndex(1, 1), 22);
    EXPECT_EQ(half.GetPixelIndex(1, 0), 2);
    EXPECT_EQ(half.GetXDpi(), 300);

    // A palette repeating a colour stores the lowest equal entry.
    RasterImage dup(2, 1, 8);
    dup.SetPaletteColor(3, 50, 60, 70);
    dup.SetPaletteColor(9, 50, 60, 70);
    dup.SetPixelIndex(0, 0, 9);
    dup.SetPixelIndex(1, 0, 9);
    ASSERT_TRUE(dup.Resample(4, 1));
    EXPECT_EQ(dup.GetPixelIndex(0, 0), 3);

    // A destination gets the result and the source stays.
    RasterImage dst;
    ASSERT_TRUE(img.Resample(2, 1, 1, &dst));
    EXPECT_EQ(dst.GetWidth(), 2u);
    EXPECT_EQ(img.GetWidth(), 4u);
}

TEST(Geometry, RotateNinetyReadsOneRowFromOutside) {
    const uint32_t W = 5, H = 3;
    RasterImage img = Numbered(W, H);
    RasterImage turned(img);
    ASSERT_TRUE(turned.Rotate(90));
    ASSERT_EQ(turned.GetWidth(), H);
    ASSERT_EQ(turned.GetHeight(), W);
    for (uint32_t y = 1; y < W; ++y)
        for (uint32_t x = 0; x < H; ++x)
            EXPECT_EQ(turned.GetPixelIndex(x, y), img.GetPixelIndex(W - y, x)) << x << "," << y;
    // Row 0 comes from outside the source: the value of pixel (0, 0).
    for (uint32_t x = 0; x < H; ++x) EXPECT_EQ(turned.GetPixelIndex(x, 0), 0);

    RasterImage back(img);
    ASSERT_TRUE(back.Rotate(-90));
    ASSERT_EQ(back.GetWidth(), H);
    ASSERT_EQ(back.GetHeight(), W);
    // new(x', y') = old(y', H - x'): column 0 is outside, the bottom row is lost.
    for (uint32_t y = 0; y < W; ++y) {
        EXPECT_EQ(back.GetPixelIndex(0, y), 0);
        for (uint32_t x = 1; x < H; ++x)
            EXPECT_EQ(back.GetPixelIndex(x, y), img.GetPixelIndex(y, H - x)) << x << "," << y;
    }

    // With a background index, the outside row takes it.
    RasterImage bg(img);
    bg.SetBackgroundIndex(200);
    ASSERT_TRUE(bg.Rotate(90));
    EXPECT_EQ(bg.GetPixelIndex(1, 0), 200);
}

TEST(Geometry, QuarterTurnsAndFlipsRestoreOneBitPages) {
    for (uint32_t w : {1u, 9u, 31u, 33u, 100u}) {
        RasterImage img = RandomImage(w, 23, 1, w);
        img.AlphaCreate();
        img.AlphaSet(0, 0, 5);
        RasterImage a(img);
        ASSERT_TRUE(a.RotateLeft());
        EXPECT_EQ(a.GetWidth(), 23u);
        EXPECT_EQ(a.AlphaGet(22, 0), 5);  // (0,0) moves to (H-1, 0)
        ASSERT_TRUE(a.RotateRight());
        EXPECT_TRUE(SamePixels(a, img)) << w;
        EXPECT_EQ(a.AlphaGet(0, 0), 5);

        RasterImage f(img);
        ASSERT_TRUE(f.Flip());
        EXPECT_EQ(f.GetPixelIndex(3 % w, 22), img.GetPixelIndex(3 % w, 0));
        ASSERT_TRUE(f.Flip());
        EXPECT_TRUE(SamePixels(f, img));

        RasterImage m(img);
        ASSERT_TRUE(m.Mirror(false, true));
        EXPECT_EQ(m.AlphaGet(w - 1, 0), 5);
        ASSERT_TRUE(m.Mirror(false, true));
        EXPECT_TRUE(SamePixels(m, img)) << w;
    }
}

TEST(Geometry, RightTurnMapping) {
    RasterImage img = Numbered(3, 2);
    ASSERT_TRUE(img.RotateRight());
    // Seen top-down, the old left column becomes the top row.
    // new(x', y') = old(W - 1 - y', x') with W = 3.
    EXPECT_EQ(img.GetPixelIndex(0, 2), 0);   // old (0, 0)
    EXPECT_EQ(img.GetPixelIndex(1, 2), 10);  // old (0, 1)
    EXPECT_EQ(img.GetPixelIndex(0, 0), 2);   // old (2, 0)
}

TEST(Geometry, CropClampsSwapsAndResetsBookkeeping) {
    RasterImage img = Numbered(6, 5);
    img.SetXDpi(300);
    img.SetCodecOption(4, kFormatTiff);
    img.SetBackgroundIndex(3);

    RasterImage whole(img);
    ASSERT_TRUE(whole.Crop(0, 0, 6, 5));
    EXPECT_TRUE(SamePixels(whole, img));
    EXPECT_EQ(whole.GetXDpi(), 96);
    EXPECT_EQ(whole.GetCodecOption(kFormatTiff), 0u);
    EXPECT_EQ(whole.GetBackgroundIndex(), 3);

    RasterImage none(img);
    EXPECT_FALSE(none.Crop(10, 10, 10, 50));
    EXPECT_EQ(none.GetWidth(), 6u);

    RasterImage a(img), b(img);
    ASSERT_TRUE(a.Crop(1, 1, 4, 3));
    ASSERT_TRUE(b.Crop(4, 3, 1, 1));  // both pairs swapped
    EXPECT_TRUE(SamePixels(a, b));
    ASSERT_EQ(a.GetWidth(), 3u);
    ASSERT_EQ(a.GetHeight(), 2u);
    // Rows 1 and 2 from the top are image rows 3 and 2.
    EXPECT_EQ(a.GetPixelIndex(0, 1), 31);
    EXPECT_EQ(a.GetPixelIndex(2, 0), 23);

    RasterImage clamped(img);
    ASSERT_TRUE(clamped.Crop(-5, -5, 100, 100));
    EXPECT_TRUE(SamePixels(clamped, img));

    RasterImage empty;
    EXPECT_FALSE(empty.Crop(0, 0, 1, 1));
    EXPECT_FALSE(empty.Flip());
    EXPECT_FALSE(empty.Mirror());
    EXPECT_FALSE(empty.RotateLeft());
    EXPECT_FALSE(empty.Rotate(10));
    EXPECT_FALSE(empty.Resample(2, 2));
}

}  // namespace
}  // namespace sheetmend
