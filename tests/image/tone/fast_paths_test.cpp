// The tone and bit-depth operations work on rows, tables and caches. Here each
// is compared with a plain version written through the single-pixel
// accessors, step by step as the operation is defined, on random images of
// odd widths (so packed rows end inside a byte and vector loops have tails)
// at every source depth, with random palettes, planes and bookkeeping.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "image/raster_image.h"
#include "image/tone/tone_internal.h"
#include "tests/support/test_images.h"

namespace sheetmend {
namespace {

using testing::PaddingIsZero;
using testing::RandomImage;

const uint32_t kDepths[] = {1, 4, 8, 24};
const uint32_t kWidths[] = {1, 7, 13, 67};
constexpr uint32_t kHeight = 6;

uint8_t Grey(RgbQuad c) {
    return static_cast<uint8_t>((c.red * 306 + c.green * 601 + c.blue * 117) >> 10);
}
int32_t Clamp(int32_t v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

template <typename F>
void ForEachPixel(const RasterImage& img, F f) {
    for (int32_t y = 0; y < static_cast<int32_t>(img.GetHeight()); ++y)
        for (int32_t x = 0; x < static_cast<int32_t>(img.GetWidth()); ++x) f(x, y);
}

// --- accessor versions --------------------------------------------------------

void CopyPlanes(const RasterImage& from, RasterImage& to) {
    if (from.HasAlpha()) {
        to.AlphaCreate();
        ForEachPixel(from, [&](int32_t x, int32_t y) { to.AlphaSet(x, y, from.AlphaGet(x, y)); });
    }
    if (from.HasSelection()) {
        to.SelectionCreate();
        std::memcpy(to.GetSelectionPlane(), from.GetSelectionPlane(),
                    size_t{from.GetWidth()} * from.GetHeight());
    }
}

// A new image of another depth that takes the bookkeeping and planes of `src`.
RasterImage Successor(const RasterImage& src, uint32_t bpp) {
    RasterImage out;
    out.TakeBookkeeping(src);
    out.Create(src.GetWidth(), src.GetHeight(), bpp, src.GetType());
    CopyPlanes(src, out);
    return out;
}

void BlackAndWhite(RasterImage& img) {
    img.SetPaletteColor(0, RgbQuad{0, 0, 0, 0});
    img.SetPaletteColor(1, RgbQuad{255, 255, 255, 0});
}

void RefGrayScale(RasterImage& img) {
    if (img.GetBpp() == 24) {
        RasterImage out = Successor(img, 8);
        out.SetGrayPalette();
        ForEachPixel(img, [&](int32_t x, int32_t y) {
            out.SetPixelIndex(x, y, Grey(img.GetPixelColor(x, y)));
        });
        img.Transfer(out);
        return;
    }
    for (uint32_t i = 0; i < img.GetNumColors(); ++i) {
        RgbQuad c = img.GetPaletteColor(static_cast<uint8_t>(i));
        c.blue = Grey(c);
        img.SetPaletteColor(static_cast<uint8_t>(i), c);
    }
    if (img.GetBackgroundIndex() >= 0)
        img.SetBackgroundIndex(
            img.GetPaletteColor(static_cast<uint8_t>(img.GetBackgroundIndex())).blue);
    auto blueOf = [&](int32_t x, int32_t y) {
        return img.GetPaletteColor(img.GetPixelIndex(x, y)).blue;
    };
    if (img.GetBpp() == 8) {
        ForEachPixel(img, [&](int32_t x, int32_t y) { img.SetPixelIndex(x, y, blueOf(x, y)); });
        img.SetGrayPalette();
        return;
    }
    RasterImage out = Successor(img, 8);
    out.SetGrayPalette();
    ForEachPixel(img, [&](int32_t x, int32_t y) { out.SetPixelIndex(x, y, blueOf(x, y)); });
    img.Transfer(out);
}

void RefThreshold(RasterImage& img, uint8_t level) {
    if (img.GetBpp() == 1) return;
    RefGrayScale(img);
    RasterImage out(img.GetWidth(), img.GetHeight(), 1);
    ForEachPixel(img, [&](int32_t x, int32_t y) {
        out.SetPixelIndex(x, y, img.GetPixelIndex(x, y) > level);
    });
    BlackAndWhite(out);
    img.Transfer(out);
}

struct Tap {
    int32_t dx, dy, w;
};
struct Kernel {
    int32_t divisor;
    std::vector<Tap> taps;
};

Kernel KernelOf(int32_t method) {
    switch (method) {
        case 2:
            return {
                32,
                {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2}}};
        case 3:
            return {42,
                    {{1, 0, 8},
                     {2, 0, 4},
                     {-2, 1, 2},
                     {-1, 1, 4},
                     {0, 1, 8},
                     {1, 1, 4},
                     {2, 1, 2},
                     {-2, 2, 1},
                     {-1, 2, 2},
                     {0, 2, 4},
                     {1, 2, 2},
                     {2, 2, 1}}};
        case 4:
            return {48,
                    {{1, 0, 7},
                     {2, 0, 5},
                     {-2, 1, 3},
                     {-1, 1, 5},
                     {0, 1, 7},
                     {1, 1, 5},
                     {2, 1, 3},
                     {-2, 2, 1},
                     {-1, 2, 3},
                     {0, 2, 5},
                     {1, 2, 3},
                     {2, 2, 1}}};
        case 5:
            return {32,
                    {{1, 0, 5},
                     {2, 0, 3},
                     {-2, 1, 2},
                     {-1, 1, 4},
                     {0, 1, 5},
                     {1, 1, 4},
                     {2, 1, 2},
                     {-1, 2, 2},
                     {0, 2, 3},
                     {1, 2, 2}}};
        case 6:
            return {200,
                    {{2, 0, 32},
                     {-3, 1, 12},
                     {-1, 1, 26},
                     {1, 1, 30},
                     {3, 1, 16},
                     {-2, 2, 12},
                     {0, 2, 26},
                     {2, 2, 12},
                     {-3, 3, 5},
                     {-1, 3, 12},
                     {1, 3, 12},
                     {3, 3, 5}}};
        default:
            return {16, {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}}};
    }
}

void RefDither(RasterImage& img, int32_t method) {
    static const int32_t m1[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    static const int32_t m7[4][4] = {
        {0, 192, 48, 240}, {128, 64, 176, 112}, {32, 224, 16, 208}, {160, 96, 144, 80}};
    if (img.GetBpp() == 1) return;
    RefGrayScale(img);
    RasterImage out = Successor(img, 1);
    if (method == 1 || method == 7) {
        ForEachPixel(img, [&](int32_t x, int32_t y) {
            const int32_t g = img.GetPixelIndex(x, y);
            const bool white = method == 1 ? (g == 255 || m1[y % 4][x % 4] < (g * 16) / 255)
                                           : g > m7[y % 4][x % 4];
            out.SetPixelIndex(x, y, white);
        });
    } else {
        const Kernel k = KernelOf(method);
        ForEachPixel(img, [&](int32_t x, int32_t y) {
            const int32_t g = img.GetPixelIndex(x, y);
            const bool white = g > 128;
            const int32_t e = white ? g - 255 : g;
            out.SetPixelIndex(x, y, white);
            for (const Tap& t : k.taps) {
                if (!img.IsInside(x + t.dx, y + t.dy)) continue;
                const int32_t v = img.GetPixelIndex(x + t.dx, y + t.dy);
                img.SetPixelIndex(x + t.dx, y + t.dy,
                                  static_cast<uint8_t>(Clamp(v + (e * t.w) / k.divisor)));
            }
        });
    }
    BlackAndWhite(out);
    img.Transfer(out);
}

bool RefDecreaseBpp(RasterImage& img, uint32_t bpp, bool diffusion, const RgbQuad* palette,
                    uint32_t important) {
    if (img.GetBpp() < bpp) {
        img.SetLastError("DecreaseBpp: target BPP greater than source BPP");
        return false;
    }
    if (img.GetBpp() == bpp &&
        (important == 0 || (img.GetClrImportant() != 0 && img.GetClrImportant() < important)))
        return true;
    RasterImage out;
    out.TakeBookkeeping(img);
    out.Create(img.GetWidth(), img.GetHeight(), bpp, img.GetType());
    if (important) out.SetClrImportant(important);
    CopyPlanes(img, out);
    if (palette)
        out.SetPalette(palette,
                       important ? important : (out.GetBpp() < 24 ? 1u << out.GetBpp() : 0u));
    else
        out.SetStdPalette();
    ForEachPixel(img, [&](int32_t x, int32_t y) {
        const RgbQuad c = img.GetPixelColor(x, y);
        out.SetPixelColor(x, y, c);
        if (!diffusion) return;
        const RgbQuad ce = out.GetPixelColor(x, y);
        const int32_t er = c.red - ce.red, eg = c.green - ce.green, eb = c.blue - ce.blue;
        const Tap taps[] = {{1, 0, 7}, {-1, 1, 2}, {0, 1, 4}, {1, 1, 1}};
        for (const Tap& t : taps) {
            if (!img.IsInside(x + t.dx, y + t.dy)) continue;
            const RgbQuad v = img.GetPixelColor(x + t.dx, y + t.dy);
            const RgbQuad nv{static_cast<uint8_t>(Clamp(v.blue + eb * t.w / 16)),
                             static_cast<uint8_t>(Clamp(v.green + eg * t.w / 16)),
                             static_cast<uint8_t>(Clamp(v.red + er * t.w / 16)), 0};
            img.SetPixelColor(x + t.dx, y + t.dy, nv);
        }
    });
    img.Transfer(out);
    return true;
}

bool RefIncreaseBpp(RasterImage& img, uint32_t bpp) {
    if (bpp != 4 && bpp != 8 && bpp != 24) return false;
    if (img.GetBpp() == bpp) return true;
    if (img.GetBpp() > bpp) return false;
    RasterImage out;
    out.TakeBookkeeping(img);
    if (bpp == 24 && img.GetBackgroundIndex() >= 0)
        out.SetBackgroundColor(img.GetPaletteColor(static_cast<uint8_t>(img.GetBackgroundIndex())));
    out.Create(img.GetWidth(), img.GetHeight(), bpp, img.GetType());
    CopyPlanes(img, out);
    if (bpp < 24) {
        out.SetPalette(img.GetPalette(), img.GetNumColors());
        ForEachPixel(
            img, [&](int32_t x, int32_t y) { out.SetPixelIndex(x, y, img.GetPixelIndex(x, y)); });
    } else {
        bool paletteAlpha = false;
        for (uint32_t i = 0; i < img.GetNumColors(); ++i)
            paletteAlpha =
                paletteAlpha || img.GetPaletteColor(static_cast<uint8_t>(i)).reserved != 0;
        if (paletteAlpha && !img.HasAlpha()) out.AlphaCreate();
        ForEachPixel(img, [&](int32_t x, int32_t y) {
            const RgbQuad c = img.GetPaletteColor(img.GetPixelIndex(x, y));
            out.SetPixelColor(x, y, c);
            if (out.HasAlpha())
                out.AlphaSet(x, y, img.HasAlpha() ? img.AlphaGet(x, y) : c.reserved);
        });
    }
    img.Transfer(out);
    return true;
}

// --- comparison ------------------------------------------------------------------

// Same pixels, palette, planes and bookkeeping; padding zero.
::testing::AssertionResult SameImage(const RasterImage& a, const RasterImage& b) {
    if (a.IsValid() != b.IsValid()) return ::testing::AssertionFailure() << "validity differs";
    if (!a.IsValid()) return ::testing::AssertionSuccess();
    auto pixels = testing::SamePixels(a, b);
    if (!pixels) return pixels;
    for (uint32_t i = 0; i < a.GetNumColors(); ++i)
        if (!(a.GetPaletteColor(static_cast<uint8_t>(i)) ==
              b.GetPaletteColor(static_cast<uint8_t>(i))))
            return ::testing::AssertionFailure() << "palette entry " << i;
    const ImageInfo& ia = a.GetInfo();
    const ImageInfo& ib = b.GetInfo();
    if (ia.xDpi != ib.xDpi || ia.yDpi != ib.yDpi || ia.type != ib.type ||
        ia.backgroundIndex != ib.backgroundIndex || !(ia.backgroundColor == ib.backgroundColor) ||
        std::memcmp(ia.codecOptions, ib.codecOptions, sizeof ia.codecOptions) != 0 ||
        a.GetClrImportant() != b.GetClrImportant())
        return ::testing::AssertionFailure() << "bookkeeping differs";
    const size_t plane = size_t{a.GetWidth()} * a.GetHeight();
    if (a.HasAlpha() != b.HasAlpha() ||
        (a.HasAlpha() && std::memcmp(a.GetAlphaPlane(), b.GetAlphaPlane(), plane) != 0))
        return ::testing::AssertionFailure() << "alpha differs";
    if (a.HasSelection() != b.HasSelection() ||
        (a.HasSelection() && std::memcmp(a.GetSelectionPlane(), b.GetSelectionPlane(), plane) != 0))
        return ::testing::AssertionFailure() << "selection differs";
    return PaddingIsZero(a);
}

// A random image with the extras the operations carry along: resolution,
// type, a codec option, a background, and sometimes alpha and selection planes.
RasterImage Sample(uint32_t width, uint32_t bpp, uint32_t seed) {
    RasterImage img = RandomImage(width, kHeight, bpp, seed);
    std::mt19937 rng(seed);
    img.SetXDpi(300);
    img.SetYDpi(200);
    img.SetType(kFormatTiff);
    img.SetCodecOption(5, kFormatTiff);
    img.SetBackgroundIndex(seed % 3 == 0 ? -1
                                         : static_cast<int32_t>(rng() % (img.GetNumColors() + 2)));
    img.SetBackgroundColor(RgbQuad{1, 2, 3, 4});
    if (seed % 2) {
        img.AlphaCreate();
        ForEachPixel(
            img, [&](int32_t x, int32_t y) { img.AlphaSet(x, y, static_cast<uint8_t>(rng())); });
    }
    if (seed % 5 == 1) {
        img.SelectionCreate();
        img.GetSelectionPlane()[0] = 7;
    }
    return img;
}

// Runs the fast and the accessor version of an operation on copies of one
// image and compares results, return values and messages.
template <typename Fast, typename Ref>
void Compare(const RasterImage& src, Fast fast, Ref ref, const char* what) {
    RasterImage a(src), b(src);
    const auto ra = fast(a);
    const auto rb = ref(b);
    EXPECT_EQ(ra, rb) << what;
    EXPECT_TRUE(SameImage(a, b)) << what;
    EXPECT_STREQ(a.GetLastError(), b.GetLastError()) << what;
}

// --- the comparisons ---------------------------------------------------------------

TEST(ToneFastPaths, GrayScaleThresholdAndDitherMatchAccessors) {
    uint32_t seed = 1;
    for (uint32_t bpp : kDepths)
        for (uint32_t w : kWidths) {
            const RasterImage src = Sample(w, bpp, ++seed);
            const std::string where = std::to_string(bpp) + " bits, width " + std::to_string(w);
            Compare(
                src, [](RasterImage& i) { return i.GrayScale(); },
                [](RasterImage& i) { return RefGrayScale(i), true; }, ("grey " + where).c_str());
            for (int level : {0, 77, 128, 254, 255})
                Compare(
                    src, [=](RasterImage& i) { return i.Threshold(static_cast<uint8_t>(level)); },
                    [=](RasterImage& i) {
                        return RefThreshold(i, static_cast<uint8_t>(level)), true;
                    },
                    ("threshold " + std::to_string(level) + " " + where).c_str());
            for (int32_t method = -1; method <= 9; ++method)
                Compare(
                    src, [=](RasterImage& i) { return i.Dither(method); },
                    [=](RasterImage& i) { return RefDither(i, method), true; },
                    ("dither " + std::to_string(method) + " " + where).c_str());
        }
}

TEST(ToneFastPaths, DitherOfSmoothGreysMatchesAccessors) {
    // Random pixels saturate quickly; ramps keep the errors in play longer.
    for (uint32_t w : {5u, 31u, 70u}) {
        RasterImage ramp(w, 17, 8);
        ramp.SetGrayPalette();
        ForEachPixel(ramp, [&](int32_t x, int32_t y) {
            ramp.SetPixelIndex(x, y, static_cast<uint8_t>((x * 255 / w + y * 3) % 256));
        });
        for (int32_t method = 0; method <= 7; ++method)
            Compare(
                ramp, [=](RasterImage& i) { return i.Dither(method); },
                [=](RasterImage& i) { return RefDither(i, method), true; }, "ramp");
    }
}

TEST(ToneFastPaths, DecreaseBppMatchesAccessors) {
    std::mt19937 rng(7);
    uint32_t seed = 50;
    for (uint32_t bpp : kDepths)
        for (uint32_t w : kWidths) {
            RasterImage src = Sample(w, bpp, ++seed);
            // Repeated entries make the lowest-index rule matter.
            if (src.GetNumColors() > 4) src.SetPaletteColor(3, src.GetPaletteColor(1));
            if (seed % 3 == 0) src.SetClrImportant(src.GetNumColors() / 2);
            std::vector<RgbQuad> given(256);
            for (RgbQuad& e : given)
                e = RgbQuad{static_cast<uint8_t>(rng() & 0xF0), static_cast<uint8_t>(rng()), 200,
                            0};
            given[5] = given[2];
            for (uint32_t target : {1u, 2u, 4u, 8u, 16u, 24u, 32u})
                for (bool diffusion : {false, true})
                    for (const RgbQuad* palette : {static_cast<const RgbQuad*>(nullptr),
                                                   static_cast<const RgbQuad*>(given.data())})
                        for (uint32_t important : {0u, 3u, 300u}) {
                            const std::string what =
                                std::to_string(bpp) + "->" + std::to_string(target) + " w" +
                                std::to_string(w) + (diffusion ? " diffused" : "") +
                                (palette ? " given" : " std") + " important " +
                                std::to_string(important);
                            Compare(
                                src,
                                [&](RasterImage& i) {
                                    return i.DecreaseBpp(target, diffusion, palette, important);
                                },
                                [&](RasterImage& i) {
                                    return RefDecreaseBpp(i, target, diffusion, palette, important);
                                },
                                what.c_str());
                        }
        }
}

TEST(ToneFastPaths, IncreaseBppMatchesAccessors) {
    uint32_t seed = 90;
    for (uint32_t bpp : kDepths)
        for (uint32_t w : kWidths)
            for (bool paletteAlpha : {false, true}) {
                RasterImage src = Sample(w, bpp, ++seed);
                if (paletteAlpha && src.GetNumColors() > 1) {
                    RgbQuad e = src.GetPaletteColor(1);
                    e.reserved = 128;
                    src.SetPaletteColor(1, e);
                }
                for (uint32_t target : {1u, 4u, 8u, 16u, 24u, 32u})
                    Compare(
                        src, [&](RasterImage& i) { return i.IncreaseBpp(target); },
                        [&](RasterImage& i) { return RefIncreaseBpp(i, target); },
                        (std::to_string(bpp) + "->" + std::to_string(target)).c_str());
            }
}

// --- OptimalThreshold ------------------------------------------------------------------

// The histogram through the accessors; the choice among the criteria works
// on the 256 counters alone and is checked on hand-made histograms elsewhere.
int32_t RefOptimalThreshold(const RasterImage& img, int32_t method, const ImageRect* box,
                            const RasterImage* mask) {
    const int32_t w = img.GetWidth(), h = img.GetHeight();
    int32_t xmin = 0, xmax = w, ymin = 0, ymax = h;
    if (box) {
        xmin = std::max(box->left, 0);
        xmax = std::min(box->right, w);
        ymin = std::max(box->bottom, 0);
        ymax = std::min(box->top, h);
    }
    if (xmin >= xmax || ymin >= ymax) return -1;
    std::array<double, 256> hist{};
    for (int32_t y = ymin; y < ymax; ++y)
        for (int32_t x = xmin; x < xmax; ++x)
            if (!mask || mask->GetPixelIndex(x, y) != 0) hist[img.GetPixelIndex(x, y)] += 1;
    return tone::ChooseThreshold(hist, method);
}

TEST(ToneFastPaths, OptimalThresholdMatchesAccessors) {
    std::mt19937 rng(11);
    // The widest images are large enough to be counted two pixels at a time.
    for (uint32_t w : {1u, 7u, 13u, 67u, 200u, 401u}) {
        const uint32_t h = w > 300 ? 181 : 23;
        ASSERT_EQ(w > 300, uint64_t{w} * h >= tone::kPairCountingFrom);
        // Uniform noise, two noisy peaks, and a handful of levels.
        for (int shape = 0; shape < 3; ++shape) {
            RasterImage img(w, h, 8);
            img.SetGrayPalette();
            ForEachPixel(img, [&](int32_t x, int32_t y) {
                int32_t v = static_cast<int32_t>(rng() % 256);
                if (shape == 1) v = (rng() % 3 ? 200 : 40) + static_cast<int32_t>(rng() % 21) - 10;
                if (shape == 2) v = 50 * static_cast<int32_t>(rng() % 4) + 30;
                img.SetPixelIndex(x, y, static_cast<uint8_t>(v));
            });
            RasterImage mask(w, h, 8);
            mask.SetGrayPalette();
            ForEachPixel(
                mask, [&](int32_t x, int32_t y) { mask.SetPixelIndex(x, y, rng() % 3 ? 0 : 9); });
            const auto iw = static_cast<int32_t>(w), ih = static_cast<int32_t>(h);
            const ImageRect boxes[] = {
                {0, ih, iw, 0}, {-5, ih + 17, 3, 10}, {1, ih - 3, iw + 9, -3}, {2, 5, 2, 1}};
            for (int32_t method : {0, 1, 2, 3, 4, 9}) {
                EXPECT_EQ(img.OptimalThreshold(method),
                          RefOptimalThreshold(img, method, nullptr, nullptr))
                    << w << " " << shape << " " << method;
                EXPECT_EQ(img.OptimalThreshold(method, nullptr, &mask),
                          RefOptimalThreshold(img, method, nullptr, &mask));
                for (const ImageRect& box : boxes)
                    EXPECT_EQ(img.OptimalThreshold(method, &box, &mask),
                              RefOptimalThreshold(img, method, &box, &mask))
                        << w << " box " << box.left << "," << box.top << "," << box.right << ","
                        << box.bottom;
            }
        }
    }
}

// --- the nearest-entry search -------------------------------------------------------------

TEST(ToneFastPaths, NearestIndexGivesGetNearestIndexAnswers) {
    std::mt19937 rng(3);
    for (uint32_t round = 0; round < 16; ++round) {
        RasterImage img(1, 1, 8);
        // Entries crowded into a small cube make ties and cell edges common;
        // every other palette is spread over all colours.
        const uint32_t spread = round % 2 ? 256 : 24;
        for (uint32_t i = 0; i < 256; ++i)
            img.SetPaletteColor(static_cast<uint8_t>(i), static_cast<uint8_t>(rng() % spread),
                                static_cast<uint8_t>(rng() % spread),
                                static_cast<uint8_t>(rng() % spread));
        if (round % 3 == 0) img.SetPaletteColor(9, img.GetPaletteColor(4));
        // All entries, some, or few enough to be scanned when asked to.
        img.SetClrImportant(round % 4 == 0 ? 0 : 1 + rng() % (round % 4 == 1 ? 16 : 256));
        tone::NearestIndex nearest = tone::NearestIn(img);
        tone::NearestIndex scanned = tone::NearestIn(img, true);
        for (uint32_t k = 0; k < 1500; ++k) {
            const uint32_t near = k % 5 ? 32 : 256;
            const RgbQuad c{static_cast<uint8_t>(rng() % near), static_cast<uint8_t>(rng() % near),
                            static_cast<uint8_t>(rng() % near), 0};
            const uint8_t expected = img.GetNearestIndex(c);
            ASSERT_EQ(nearest.Find(c), expected) << "round " << round << " colour " << int(c.red)
                                                 << "," << int(c.green) << "," << int(c.blue);
            ASSERT_EQ(scanned.Find(c), expected) << "round " << round;
        }
    }
    EXPECT_EQ(tone::NearestIndex(nullptr, 0).Find(RgbQuad{1, 2, 3, 0}), 0);
    EXPECT_EQ(tone::NearestIndex(nullptr, 0, true).Find(RgbQuad{1, 2, 3, 0}), 0);
}

TEST(ToneFastPaths, NearestIndexKeepsEntriesThatTieOnlyAtACellCorner) {
    // Entry 1 at black reaches every colour of the cell 0..7 within 3 * 49.
    // Entry 0 at (14, 14, 14) is exactly that far from the cell and ties with
    // entry 1 at (7, 7, 7), where the lower index must win.
    const RgbQuad palette[2] = {{14, 14, 14, 0}, {0, 0, 0, 0}};
    tone::NearestIndex nearest(palette, 2);
    EXPECT_EQ(nearest.Find(RgbQuad{7, 7, 7, 0}), 0);
    EXPECT_EQ(nearest.Find(RgbQuad{6, 7, 7, 0}), 1);
}

}  // namespace
}  // namespace sheetmend
