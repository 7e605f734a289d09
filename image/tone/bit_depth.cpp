// Changing the number of bits per pixel.
//
// DecreaseBpp requantises an image to a smaller (or, with a limit on the
// important colours, the same) depth: every pixel takes the nearest entry of
// the new palette, which is the caller's palette or the standard palette of
// the new depth. With error diffusion the difference between a pixel and its
// entry goes to four pixels not yet visited: 7/16 to its right neighbour,
// 2/16, 4/16 and 1/16 to the pixels left of, at and right of its column in
// the next row visited (the line above in the picture, as rows are stored
// bottom-up), each share truncated and clamped on its own. A palette source
// stays a palette image while it diffuses: a pushed colour snaps at once to
// the nearest entry of the source's own palette, which is what the next read
// of that pixel sees.
//
// IncreaseBpp copies palette indices into a deeper palette image, or expands
// them to their colours in a 24-bit image (with an alpha plane when the
// palette carries alpha in its reserved bytes).
//
// Nearest entries come from NearestIndex, which works out GetNearestIndex's
// exact answers a cell of the colour cube at a time and keeps them; reducing
// a colour page to black and white, the common case, is a linear test per
// pixel.
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "image/pixel_access.h"
#include "image/raster_image.h"
#include "image/tone/tone_internal.h"

namespace sheetmend {

namespace tone {

NearestIndex::NearestIndex(const RgbQuad* palette, uint32_t count, bool scanSmall) {
    if (count > 256) count = 256;
    if (!palette || count == 0) return;
    count_ = count;
    for (uint32_t i = 0; i < 256; ++i) {
        const uint32_t e = i < count ? i : count - 1;
        blue_[i] = palette[e].blue;
        green_[i] = palette[e].green;
        red_[i] = palette[e].red;
        index_[i] = static_cast<int32_t>(e);
    }
    scan_ = scanSmall && count <= kScanUpTo;
    if (!scan_) cellBlock_.assign(kCells, kUnresolved);
}

uint16_t NearestIndex::Resolve(uint32_t cell) {
    constexpr int32_t kSize = 1 << kShift;
    constexpr uint32_t kMask = (1u << kBits) - 1;
    const auto lowBlue = static_cast<int32_t>((cell & kMask) << kShift);
    const auto lowGreen = static_cast<int32_t>(((cell >> kBits) & kMask) << kShift);
    const auto lowRed = static_cast<int32_t>((cell >> (2 * kBits)) << kShift);

    // Squared distance of each entry to the nearest and to the farthest
    // colour of the cell, channel by channel.
    auto nearest = [](int32_t v, int32_t low) {
        const int32_t d = std::max(std::max(low - v, v - (low + kSize - 1)), 0);
        return d * d;
    };
    auto farthest = [](int32_t v, int32_t low) {
        const int32_t d = std::max(v - low, low + kSize - 1 - v);
        return d * d;
    };
    int32_t near[256];
    int32_t bound = INT32_MAX;
    for (uint32_t i = 0; i < count_; ++i) {
        near[i] =
            nearest(blue_[i], lowBlue) + nearest(green_[i], lowGreen) + nearest(red_[i], lowRed);
        bound = std::min(bound, farthest(blue_[i], lowBlue) + farthest(green_[i], lowGreen) +
                                    farthest(red_[i], lowRed));
    }
    // Every colour of the cell lies within `bound` of some entry, so an entry
    // farther than that from the whole cell is never nearest, nor tied.
    int32_t cb[256], cg[256], cr[256], ci[256];
    uint32_t found = 0;
    for (uint32_t i = 0; i < count_; ++i) {
        if (near[i] > bound) continue;
        cb[found] = blue_[i];
        cg[found] = green_[i];
        cr[found] = red_[i];
        ci[found] = index_[i];
        ++found;
    }

    const auto block = static_cast<uint16_t>(answers_.size() / kCellColours);
    answers_.resize(answers_.size() + kCellColours);
    uint8_t* out = answers_.data() + size_t{block} * kCellColours;
    if (found == 1) {
        std::memset(out, ci[0], kCellColours);
    } else {
        // A row of eight blues at a time.
        for (int32_t r = lowRed; r < lowRed + kSize; ++r)
            for (int32_t g = lowGreen; g < lowGreen + kSize; ++g) {
                int32_t best[kSize];
                for (int32_t k = 0; k < kSize; ++k) best[k] = INT32_MAX;
                for (uint32_t i = 0; i < found; ++i) {
                    const int32_t base = (cg[i] - g) * (cg[i] - g) + (cr[i] - r) * (cr[i] - r);
                    for (int32_t k = 0; k < kSize; ++k) {
                        const int32_t db = cb[i] - (lowBlue + k);
                        best[k] = std::min(best[k], ((base + db * db) << 8) | ci[i]);
                    }
                }
                for (int32_t k = 0; k < kSize; ++k) *out++ = static_cast<uint8_t>(best[k]);
            }
    }
    cellBlock_[cell] = block;
    return block;
}

NearestIndex NearestIn(const RasterImage& image, bool scanSmall) {
    uint32_t count = image.GetClrImportant() ? image.GetClrImportant() : image.GetNumColors();
    if (count > image.GetNumColors()) count = image.GetNumColors();
    return NearestIndex(image.GetPalette(), count, scanSmall);
}

}  // namespace tone

namespace {

// Palette indices of the first `width` pixels of a 1-, 4- or 8-bit row.
void UnpackIndices(const uint8_t* row, uint32_t width, uint32_t bpp, uint8_t* out) {
    switch (bpp) {
        case 8:
            std::memcpy(out, row, width);
            break;
        case 4:
            for (uint32_t x = 0; x < width; ++x) out[x] = px::GetNibble(row, x);
            break;
        default:
            for (uint32_t x = 0; x < width; ++x) out[x] = px::GetBit(row, x);
            break;
    }
}

// Writes `width` palette indices into a zeroed 1-, 4- or 8-bit row, leaving
// its padding zero.
void PackIndices(const uint8_t* indices, uint32_t width, uint32_t bpp, uint8_t* row) {
    switch (bpp) {
        case 8:
            std::memcpy(row, indices, width);
            break;
        case 4:
            for (uint32_t x = 0; x < width; ++x)
                row[x >> 1] |= static_cast<uint8_t>((indices[x] & 15) << ((x & 1) ? 0 : 4));
            break;
        default:
            for (uint32_t x = 0; x < width; ++x)
                row[x >> 3] |= static_cast<uint8_t>((indices[x] & 1) << (7 - (x & 7)));
            break;
    }
}

// Expands rows of palette indices to blue, green, red. The packed depths go a
// source byte at a time, through a table of the 8 (1-bit) or 2 (4-bit)
// pixels of colour each byte value stands for.
class ColourExpander {
  public:
    ColourExpander(const RgbQuad* colours, uint32_t bpp)
        : colours_(colours), bpp_(bpp), perByte_(8 / bpp), table_(256 * 3 * size_t{8 / bpp}) {
        uint8_t* t = table_.data();
        for (uint32_t byte = 0; byte < 256; ++byte) {
            const auto packed = static_cast<uint8_t>(byte);
            for (uint32_t k = 0; k < perByte_; ++k, t += 3) {
                const RgbQuad& c = colours[px::GetIndex(&packed, k, bpp)];
                t[0] = c.blue;
                t[1] = c.green;
                t[2] = c.red;
            }
        }
    }
    void Row(const uint8_t* row, uint32_t width, uint8_t* out) const {
        const size_t span = 3 * size_t{perByte_};
        const uint32_t whole = width / perByte_;
        for (uint32_t i = 0; i < whole; ++i, out += span)
            std::memcpy(out, table_.data() + row[i] * span, span);
        for (uint32_t x = whole * perByte_; x < width; ++x, out += 3) {
            const RgbQuad& c = colours_[px::GetIndex(row, x, bpp_)];
            out[0] = c.blue;
            out[1] = c.green;
            out[2] = c.red;
        }
    }

  private:
    const RgbQuad* colours_;  // 256 entries
    uint32_t bpp_;
    uint32_t perByte_;
    std::vector<uint8_t> table_;
};

// DecreaseBpp of a 24-bit image to a 1-bit one that searches both entries,
// without diffusion. Which entry is nearer is a linear test:
// |c - p1|^2 < |c - p0|^2 exactly when 2 c . (p1 - p0) > |p1|^2 - |p0|^2,
// and a tie, failing the test, keeps the lower index 0. Every 24-bit page
// that is reduced to black and white for analysis comes this way.
void NearerOfTwo(RasterImage& self, RgbQuad p0, RgbQuad p1, RasterImage& out) {
    const uint32_t width = self.GetWidth();
    const uint32_t height = self.GetHeight();
    const int32_t wb = 2 * (p1.blue - p0.blue);
    const int32_t wg = 2 * (p1.green - p0.green);
    const int32_t wr = 2 * (p1.red - p0.red);
    auto square = [](RgbQuad e) { return e.blue * e.blue + e.green * e.green + e.red * e.red; };
    const int32_t limit = square(p1) - square(p0);
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const auto sb = static_cast<int16_t>(wb), sg = static_cast<int16_t>(wg),
               sr = static_cast<int16_t>(wr);
    const __m128i blueGreen = _mm_set_epi16(sg, sb, sg, sb, sg, sb, sg, sb);
    const __m128i red = _mm_set_epi16(0, sr, 0, sr, 0, sr, 0, sr);
    const __m128i limits = _mm_set1_epi32(limit);
    // Eight pixels' channels in, eight 16-bit masks out.
    auto test = [&](__m128i b, __m128i g, __m128i r) {
        const __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(b, g), blueGreen),
                                         _mm_madd_epi16(_mm_unpacklo_epi16(r, zero), red));
        const __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(b, g), blueGreen),
                                         _mm_madd_epi16(_mm_unpackhi_epi16(r, zero), red));
        return _mm_packs_epi32(_mm_cmpgt_epi32(lo, limits), _mm_cmpgt_epi32(hi, limits));
    };
#endif
    for (uint32_t y = 0; y < height; ++y) {
        self.SetProgress(tone::RowProgress(y, height));
        if (self.GetEscape()) break;
        const uint8_t* p = self.RowPtr(y);
        uint8_t* dst = out.RowPtr(y);
        uint32_t x = 0;
#if defined(__SSE2__)
        for (; x + 16 <= width; x += 16, p += 48) {
            const tone::Channels16 c = tone::SplitChannels(p);
            const __m128i even = test(c.even[0], c.even[1], c.even[2]);
            const __m128i odd = test(c.odd[0], c.odd[1], c.odd[2]);
            const __m128i inOrder =
                _mm_packs_epi16(_mm_unpacklo_epi16(even, odd), _mm_unpackhi_epi16(even, odd));
            const auto bits = static_cast<uint32_t>(_mm_movemask_epi8(inOrder));
            dst[x >> 3] = tone::kReversedBits[bits & 0xFF];
            dst[(x >> 3) + 1] = tone::kReversedBits[bits >> 8];
        }
#endif
        for (; x < width; ++x, p += 3)
            if (wb * p[0] + wg * p[1] + wr * p[2] > limit)
                dst[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
    }
}

inline uint8_t Clamp8(int32_t v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// DecreaseBpp with error diffusion into the palette image `out`. The source
// rows are held as colours (blue, green, red) with a spare pixel on either
// side to take the shares that fall outside the image; the row after the
// last one is scratch for the same reason. The right neighbour of the pixel
// being quantised is kept in registers: its colour is the next step's input,
// and it should not wait on a store and reload. A palette source snaps every
// pushed colour to the nearest entry of its own palette.
template <bool kPaletteSource>
void DiffuseInto(RasterImage& self, RasterImage& out) {
    const uint32_t width = self.GetWidth();
    const uint32_t height = self.GetHeight();
    tone::NearestIndex nearest = tone::NearestIn(out, true);
    tone::NearestIndex snap = tone::NearestIn(self, true);
    const RgbQuad* targetPalette = out.GetPalette();
    const RgbQuad* sourcePalette = self.GetPalette();

    const size_t stride = 3 * (static_cast<size_t>(width) + 2);
    std::vector<uint8_t> window(2 * stride);
    std::vector<uint8_t> indices(width);
    std::vector<uint8_t> sourceIndices(kPaletteSource ? width : 0);
    uint8_t* current = window.data() + 3;
    uint8_t* next = current + stride;
    auto load = [&](uint32_t y, uint8_t* row) {
        if (!kPaletteSource) {
            std::memcpy(row, self.RowPtr(y), 3 * static_cast<size_t>(width));
            return;
        }
        UnpackIndices(self.RowPtr(y), width, self.GetBpp(), sourceIndices.data());
        for (uint32_t x = 0; x < width; ++x) {
            const RgbQuad e = self.GetPaletteColor(sourceIndices[x]);
            row[3 * x] = e.blue;
            row[3 * x + 1] = e.green;
            row[3 * x + 2] = e.red;
        }
    };
    // Stores a pushed colour as the source would hold it.
    auto settle = [&](int32_t blue, int32_t green, int32_t red, uint8_t* pixel) {
        uint8_t b = Clamp8(blue), g = Clamp8(green), r = Clamp8(red);
        if (kPaletteSource) {
            const RgbQuad& e = sourcePalette[snap.Find(b, g, r)];
            b = e.blue;
            g = e.green;
            r = e.red;
        }
        pixel[0] = b;
        pixel[1] = g;
        pixel[2] = r;
    };
    auto push = [&](uint8_t* pixel, int32_t eb, int32_t eg, int32_t er, int32_t weight) {
        settle(pixel[0] + eb * weight / 16, pixel[1] + eg * weight / 16,
               pixel[2] + er * weight / 16, pixel);
    };

    load(0, current);
    if (height > 1) load(1, next);
    for (uint32_t y = 0; y < height; ++y) {
        self.SetProgress(tone::RowProgress(y, height));
        if (self.GetEscape()) break;
        uint8_t ahead[3] = {current[0], current[1], current[2]};
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t index = nearest.Find(ahead[0], ahead[1], ahead[2]);
            indices[x] = index;
            const RgbQuad& e = targetPalette[index];
            const int32_t eb = ahead[0] - e.blue;
            const int32_t eg = ahead[1] - e.green;
            const int32_t er = ahead[2] - e.red;
            uint8_t* right = current + 3 * static_cast<size_t>(x + 1);
            // Adding nothing to a 24-bit pixel leaves it as it is; a palette
            // pixel may still snap to another entry, so it takes the push.
            if (!kPaletteSource && (eb | eg | er) == 0) {
                ahead[0] = right[0];
                ahead[1] = right[1];
                ahead[2] = right[2];
                continue;
            }
            settle(right[0] + eb * 7 / 16, right[1] + eg * 7 / 16, right[2] + er * 7 / 16, ahead);
            uint8_t* below = next + 3 * static_cast<size_t>(x);
            push(below - 3, eb, eg, er, 2);
            push(below, eb, eg, er, 4);
            push(below + 3, eb, eg, er, 1);
        }
        PackIndices(indices.data(), width, out.GetBpp(), out.RowPtr(y));
        std::swap(current, next);
        if (y + 2 < height) load(y + 2, next);
    }
}

}  // namespace

bool RasterImage::DecreaseBpp(uint32_t bpp, bool errorDiffusion, const RgbQuad* palette,
                              uint32_t importantColors) {
    if (!dib_) return false;
    const uint32_t sourceBpp = GetBpp();
    if (sourceBpp < bpp) {
        SetLastError("DecreaseBpp: target BPP greater than source BPP");
        return false;
    }
    if (sourceBpp == bpp && (importantColors == 0 ||
                             (head_.biClrImportant != 0 && head_.biClrImportant < importantColors)))
        return true;
    const uint32_t width = GetWidth();
    const uint32_t height = GetHeight();

    RasterImage out;
    out.TakeBookkeeping(*this);
    out.Create(width, height, bpp, info_.type);
    if (importantColors != 0) out.SetClrImportant(importantColors);
    if (!out.IsValid()) {
        SetLastError(out.GetLastError());
        return false;
    }
    if (!tone::CopyPlanes(*this, out)) {
        SetLastError(tone::kNoMemory);
        return false;
    }
    const uint32_t targetBpp = out.GetBpp();  // 16 and 32 have become 24, 2 has become 4
    if (palette)
        out.SetPalette(palette,
                       importantColors ? importantColors : (targetBpp < 24 ? 1u << targetBpp : 0u));
    else
        out.SetStdPalette();

    if (targetBpp == 24) {
        // Only a 24-bit source gets here; its colours go across unchanged and
        // leave no error to diffuse.
        for (uint32_t y = 0; y < height; ++y) {
            info_.progress = tone::RowProgress(y, height);
            if (info_.escape) break;
            std::memcpy(out.RowPtr(y), RowPtr(y), 3 * static_cast<size_t>(width));
        }
        return Transfer(out);
    }

    if (errorDiffusion) {
        if (sourceBpp < 24)
            DiffuseInto<true>(*this, out);
        else
            DiffuseInto<false>(*this, out);
        return Transfer(out);
    }

    uint32_t searched = out.GetClrImportant() ? out.GetClrImportant() : out.GetNumColors();
    if (searched > out.GetNumColors()) searched = out.GetNumColors();
    if (sourceBpp == 24 && targetBpp == 1 && searched == 2) {
        NearerOfTwo(*this, out.GetPaletteColor(0), out.GetPaletteColor(1), out);
        return Transfer(out);
    }

    tone::NearestIndex nearest = tone::NearestIn(out);
    std::vector<uint8_t> indices(width);
    if (sourceBpp < 24) {
        // At most 256 source colours: map each index once.
        uint8_t map[256] = {};
        for (uint32_t i = 0; i < GetNumColors() && i < 256; ++i)
            map[i] = nearest.Find(GetPaletteColor(static_cast<uint8_t>(i)));
        for (uint32_t y = 0; y < height; ++y) {
            info_.progress = tone::RowProgress(y, height);
            if (info_.escape) break;
            UnpackIndices(RowPtr(y), width, sourceBpp, indices.data());
            for (uint32_t x = 0; x < width; ++x) indices[x] = map[indices[x]];
            PackIndices(indices.data(), width, targetBpp, out.RowPtr(y));
        }
        return Transfer(out);
    }

    for (uint32_t y = 0; y < height; ++y) {
        info_.progress = tone::RowProgress(y, height);
        if (info_.escape) break;
        const uint8_t* p = RowPtr(y);
        for (uint32_t x = 0; x < width; ++x, p += 3) indices[x] = nearest.Find(p[0], p[1], p[2]);
        PackIndices(indices.data(), width, targetBpp, out.RowPtr(y));
    }
    return Transfer(out);
}

bool RasterImage::IncreaseBpp(uint32_t bpp) {
    if (!dib_) return false;
    if (bpp != 4 && bpp != 8 && bpp != 24) return false;
    const uint32_t sourceBpp = GetBpp();
    if (sourceBpp == bpp) return true;
    if (sourceBpp > bpp) return false;
    const uint32_t width = GetWidth();
    const uint32_t height = GetHeight();

    RasterImage out;
    out.TakeBookkeeping(*this);
    if (bpp == 24 && info_.backgroundIndex >= 0)
        out.SetBackgroundColor(GetPaletteColor(static_cast<uint8_t>(info_.backgroundIndex)));
    if (!out.Create(width, height, bpp, info_.type)) {
        SetLastError(out.GetLastError());
        return false;
    }
    if (!tone::CopyPlanes(*this, out)) {
        SetLastError(tone::kNoMemory);
        return false;
    }
    std::vector<uint8_t> indices(width);

    if (bpp < 24) {
        out.SetPalette(GetPalette(), GetNumColors());
        for (uint32_t y = 0; y < height; ++y) {
            if (info_.escape) break;
            UnpackIndices(RowPtr(y), width, sourceBpp, indices.data());
            PackIndices(indices.data(), width, bpp, out.RowPtr(y));
        }
        return Transfer(out);
    }

    // Alpha kept in the palette's reserved bytes becomes an alpha plane,
    // unless the image has one already (which has just been copied).
    const RgbQuad* pal = GetPalette();
    RgbQuad colours[256] = {};
    bool paletteAlpha = false;
    for (uint32_t i = 0; i < GetNumColors() && i < 256; ++i) {
        colours[i] = pal[i];
        paletteAlpha = paletteAlpha || pal[i].reserved != 0;
    }
    const bool alphaFromPalette = paletteAlpha && !HasAlpha();
    if (alphaFromPalette && !out.AlphaCreate()) {
        SetLastError(tone::kNoMemory);
        return false;
    }
    const ColourExpander expand(colours, sourceBpp);
    for (uint32_t y = 0; y < height; ++y) {
        if (info_.escape) break;
        expand.Row(RowPtr(y), width, out.RowPtr(y));
        if (alphaFromPalette) {
            UnpackIndices(RowPtr(y), width, sourceBpp, indices.data());
            uint8_t* a = out.GetAlphaPlane() + static_cast<size_t>(y) * width;
            for (uint32_t x = 0; x < width; ++x) a[x] = colours[indices[x]].reserved;
        }
    }
    return Transfer(out);
}

}  // namespace sheetmend
