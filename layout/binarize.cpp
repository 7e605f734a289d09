// The page is binarised in three steps: a threshold (or a nearest-colour
// reduction) to 1 bit, a palette in which a set bit is black, and inversion
// of negative pages so that ink is the minority colour.
#include "layout/binarize.h"

#include <cstdio>
#include <cstring>

#include "image/page_facts.h"
#include "image/pixel_access.h"
#include "image/raster_image.h"
#include "platform/console.h"

namespace sheetmend {

namespace {

// Set bits of a word by adding neighbouring fields: the build targets plain
// x86-64, where the builtin becomes a library call per word.
inline uint64_t CountBits(uint64_t v) {
    v = v - ((v >> 1) & 0x5555555555555555ull);
    v = (v & 0x3333333333333333ull) + ((v >> 2) & 0x3333333333333333ull);
    v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return (v * 0x0101010101010101ull) >> 56;
}

}  // namespace

void ConvertToMonochrome(RasterImage& image, bool adaptive) {
    if (image.GetBpp() <= 1) return;
    if (adaptive) image.AdaptiveThreshold();
    if (image.GetBpp() <= 1) return;
    // An 8-bit page whose palette is not the identity grey ramp (colour, or
    // grey stored inverted) is made grey first, so the automatic level is
    // found on grey values and not on palette indices.
    if (image.GetBpp() == 8 && !image.IsGrayScale()) image.GrayScale();
    const int32_t t = image.OptimalThreshold(0, nullptr, nullptr);
    if (t > 0) {
        const uint32_t tiffOption = image.GetCodecOption(kFormatTiff);
        const int32_t xDpi = image.GetXDpi(), yDpi = image.GetYDpi();
        ConsolePrintf("[Message] OptimalThreshold=%d\n", t);
        RecordPageFact([&](PageFacts& f) { f.threshold = t; });
        image.Threshold(static_cast<uint8_t>(t));
        image.SetXDpi(xDpi);
        image.SetYDpi(yDpi);
        image.SetCodecOption(tiffOption, kFormatTiff);
    }
    if (image.GetBpp() > 1) image.DecreaseBpp(1, false, nullptr, 0);
}

void InvertBitonalPixels(RasterImage& image) {
    if (!image.IsValid() || image.GetBpp() != 1) return;
    const uint32_t used = px::UsedRowBytes(image.GetWidth(), 1);
    const uint8_t lastMask = px::LastByteMask(image.GetWidth(), 1);
    for (uint32_t y = 0; y < image.GetHeight(); ++y) {
        uint8_t* row = image.RowPtr(y);
        for (uint32_t i = 0; i < used; ++i) row[i] = static_cast<uint8_t>(~row[i]);
        row[used - 1] &= lastMask;
    }
}

void MakeWhitePaperPalette(RasterImage& image) {
    if (!image.IsValid() || image.GetBpp() != 1) return;
    const RgbQuad white{255, 255, 255, 0}, black{0, 0, 0, 0};
    const RgbQuad p0 = image.GetPaletteColor(0), p1 = image.GetPaletteColor(1);
    const auto same = [](RgbQuad a, RgbQuad b) {
        return a.red == b.red && a.green == b.green && a.blue == b.blue;
    };
    if (same(p0, white) && same(p1, black)) return;
    image.SetPaletteColor(0, white);
    image.SetPaletteColor(1, black);
    InvertBitonalPixels(image);
}

void MakeInkMinority(RasterImage& image) {
    if (!image.IsValid() || image.GetBpp() != 1) return;
    const uint32_t w = image.GetWidth();
    const uint32_t full = w / 8;
    const uint8_t lastMask = px::LastByteMask(w, 1);
    uint64_t set = 0;
    for (uint32_t y = 0; y < image.GetHeight(); ++y) {
        const uint8_t* row = image.RowPtr(y);
        // Eight bytes at a time: per-byte counting dominated page loading.
        uint32_t i = 0;
        for (uint64_t word; i + 8 <= full; i += 8) {
            std::memcpy(&word, row + i, 8);
            set += CountBits(word);
        }
        for (; i < full; ++i) set += CountBits(row[i]);
        if (w % 8) set += CountBits(row[full] & lastMask);
    }
    const uint64_t total = static_cast<uint64_t>(w) * image.GetHeight();
    if (set >= total - set) InvertBitonalPixels(image);
}

void BinarizePage(RasterImage& image, bool adaptive) {
    ConvertToMonochrome(image, adaptive);
    MakeWhitePaperPalette(image);
    MakeInkMinority(image);
}

}  // namespace sheetmend
