// Conversion to 8-bit grey.
//
// Grey is the luminance (306 R + 601 G + 117 B) >> 10, whose weights add up to
// 1024 so white stays 255. A 24-bit image is replaced by a new 8-bit image with
// an identity grey palette. A palette image maps every index to the luminance
// of its entry: an 8-bit image in place (only the pixel bytes, so the row
// padding stays zero), a 1- or 4-bit image into a new 8-bit image. A
// background index follows its entry to the entry's grey value.
//
// Threshold and Dither read grey values through the same table and row
// helper, so they never build the intermediate 8-bit image.
#include <cstring>

#include "image/pixel_access.h"
#include "image/raster_image.h"
#include "image/tone/tone_internal.h"

namespace sheetmend {

namespace tone {

namespace {

// Luminance of a row of 24-bit pixels.
void LuminanceRow(const uint8_t* row, uint32_t width, uint8_t* out) {
    uint32_t x = 0;
#if defined(__SSE2__)
    // Sixteen pixels at a time. The luminance is exact in 16-bit lanes:
    // 306 R + 601 G + 117 B = 4 (76 R + 150 G + 29 B) + (2 R + G + B), and
    // as 1024 is a multiple of 4, the low two bits of the small part never
    // reach the result: grey = (76 R + 150 G + 29 B + ((2 R + G + B) >> 2)) >> 8,
    // whose sum stays below 65536.
    const __m128i highBytes = _mm_set1_epi16(static_cast<short>(0xFF00));
    const __m128i w76 = Opaque(_mm_set1_epi16(76));
    const __m128i w150 = Opaque(_mm_set1_epi16(150));
    const __m128i w29 = Opaque(_mm_set1_epi16(29));
    auto weigh = [&](__m128i b, __m128i g, __m128i r) {
        const __m128i big =
            _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(r, w76), _mm_mullo_epi16(g, w150)),
                          _mm_mullo_epi16(b, w29));
        const __m128i small = _mm_add_epi16(_mm_add_epi16(r, r), _mm_add_epi16(g, b));
        return _mm_add_epi16(big, _mm_srli_epi16(small, 2));
    };
    for (; x + 16 <= width; x += 16, row += 48) {
        const Channels16 c = SplitChannels(row);
        const __m128i even = weigh(c.even[0], c.even[1], c.even[2]);
        const __m128i odd = weigh(c.odd[0], c.odd[1], c.odd[2]);
        const __m128i grey = _mm_or_si128(_mm_srli_epi16(even, 8), _mm_and_si128(odd, highBytes));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), grey);
    }
#endif
    for (; x < width; ++x, row += 3) out[x] = px::Luminance(row[2], row[1], row[0]);
}

}  // namespace

GreyTable PaletteGreys(const RasterImage& image) {
    GreyTable greys{};
    const RgbQuad* pal = image.GetPalette();
    const uint32_t n = image.GetNumColors() < 256 ? image.GetNumColors() : 256;
    for (uint32_t i = 0; pal && i < n; ++i)
        greys[i] = px::Luminance(pal[i].red, pal[i].green, pal[i].blue);
    return greys;
}

bool IsIdentity(const GreyTable& greys) {
    for (uint32_t i = 0; i < 256; ++i)
        if (greys[i] != i) return false;
    return true;
}

void GreyRow(const uint8_t* row, uint32_t width, uint32_t bpp, const GreyTable& greys,
             uint8_t* out) {
    switch (bpp) {
        case 24:
            LuminanceRow(row, width, out);
            break;
        case 8:
            for (uint32_t x = 0; x < width; ++x) out[x] = greys[row[x]];
            break;
        case 4: {
            uint32_t x = 0;
            for (; x + 2 <= width; x += 2, ++row) {
                out[x] = greys[*row >> 4];
                out[x + 1] = greys[*row & 15];
            }
            if (x < width) out[x] = greys[*row >> 4];
            break;
        }
        default: {
            const uint8_t black = greys[0];
            const uint8_t white = greys[1];
            for (uint32_t x = 0; x < width; ++x) out[x] = px::GetBit(row, x) ? white : black;
            break;
        }
    }
}

bool CopyPlanes(const RasterImage& from, RasterImage& to) {
    const size_t size = static_cast<size_t>(from.GetWidth()) * from.GetHeight();
    if (from.HasAlpha()) {
        if (!to.AlphaCreate()) return false;
        std::memcpy(to.GetAlphaPlane(), from.GetAlphaPlane(), size);
    }
    if (from.HasSelection()) {
        if (!to.SelectionCreate()) return false;
        std::memcpy(to.GetSelectionPlane(), from.GetSelectionPlane(), size);
    }
    return true;
}

}  // namespace tone

bool RasterImage::GrayScale() {
    if (!dib_) return false;
    const uint32_t width = GetWidth();
    const uint32_t height = GetHeight();
    const uint32_t bpp = GetBpp();
    const tone::GreyTable greys = tone::PaletteGreys(*this);

    if (bpp == 8) {
        // An identity ramp maps every byte to itself.
        const bool identity = tone::IsIdentity(greys);
        for (uint32_t y = 0; !identity && y < height; ++y) {
            uint8_t* row = RowPtr(y);
            for (uint32_t x = 0; x < width; ++x) row[x] = greys[row[x]];
        }
        SetGrayPalette();
        // The container reads a background index as a byte.
        if (info_.backgroundIndex >= 0)
            info_.backgroundIndex = greys[static_cast<uint8_t>(info_.backgroundIndex)];
        return true;
    }

    RasterImage out;
    out.TakeBookkeeping(*this);
    if (bpp < 24 && info_.backgroundIndex >= 0)
        out.SetBackgroundIndex(greys[static_cast<uint8_t>(info_.backgroundIndex)]);
    if (!out.Create(width, height, 8, info_.type)) {
        SetLastError(out.GetLastError());
        return false;
    }
    if (!tone::CopyPlanes(*this, out)) {
        SetLastError(tone::kNoMemory);
        return false;
    }
    out.SetGrayPalette();
    for (uint32_t y = 0; y < height; ++y)
        tone::GreyRow(RowPtr(y), width, bpp, greys, out.RowPtr(y));
    return Transfer(out);
}

}  // namespace sheetmend
