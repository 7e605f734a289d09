// Images drawn in code for tests, and exact comparisons.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "image/raster_image.h"

namespace sheetmend::testing {

// A width x height image of the given depth with random pixels and, for
// palette depths, a random palette whose entries are all different.
inline RasterImage RandomImage(uint32_t width, uint32_t height, uint32_t bpp, uint32_t seed) {
    std::mt19937 rng(seed);
    RasterImage img(width, height, bpp);
    EXPECT_TRUE(img.IsValid()) << img.GetLastError();
    for (uint32_t i = 0; i < img.GetNumColors(); ++i) {
        img.SetPaletteColor(static_cast<uint8_t>(i), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                            static_cast<uint8_t>(i));  // red = i keeps entries distinct
    }
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            if (bpp == 24) {
                img.SetPixelColor(static_cast<int32_t>(x), static_cast<int32_t>(y),
                                  RgbQuad{static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                                          static_cast<uint8_t>(rng()), 0});
            } else {
                img.SetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(y),
                                  static_cast<uint8_t>(rng() % img.GetNumColors()));
            }
        }
    }
    return img;
}

// Same size, depth and pixels (indices for palette images, colours otherwise).
inline ::testing::AssertionResult SamePixels(const RasterImage& a, const RasterImage& b) {
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetBpp() != b.GetBpp())
        return ::testing::AssertionFailure()
               << "size " << a.GetWidth() << "x" << a.GetHeight() << "x" << a.GetBpp() << " vs "
               << b.GetWidth() << "x" << b.GetHeight() << "x" << b.GetBpp();
    for (int32_t y = 0; y < static_cast<int32_t>(a.GetHeight()); ++y) {
        for (int32_t x = 0; x < static_cast<int32_t>(a.GetWidth()); ++x) {
            if (a.GetBpp() < 24) {
                if (a.GetPixelIndex(x, y) != b.GetPixelIndex(x, y))
                    return ::testing::AssertionFailure()
                           << "index at (" << x << "," << y << "): " << int(a.GetPixelIndex(x, y)) << " vs "
                           << int(b.GetPixelIndex(x, y));
            } else {
                RgbQuad ca = a.GetPixelColor(x, y, false), cb = b.GetPixelColor(x, y, false);
                if (ca.red != cb.red || ca.green != cb.green || ca.blue != cb.blue)
                    return ::testing::AssertionFailure() << "colour at (" << x << "," << y << ")";
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// The stored padding (bytes after the last pixel, low bits of a partly used
// last byte) is zero in every row.
inline ::testing::AssertionResult PaddingIsZero(const RasterImage& img) {
    const uint64_t bitsUsed = static_cast<uint64_t>(img.GetWidth()) * img.GetBpp();
    for (uint32_t y = 0; y < img.GetHeight(); ++y) {
        const uint8_t* row = img.GetBits(y);
        for (uint64_t bit = bitsUsed; bit < 8ull * img.GetEffWidth(); ++bit) {
            if ((row[bit / 8] >> (7 - bit % 8)) & 1)
                return ::testing::AssertionFailure() << "padding bit " << bit << " set in row " << y;
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace sheetmend::testing
