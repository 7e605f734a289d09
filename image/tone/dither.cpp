// Dithering to black and white.
//
// Two ordered methods compare each grey value with a 4 x 4 matrix tiled over
// the image (method 1: a dispersed-dot matrix on the scale 0..16; method 7:
// the Bayer matrix times 16). Six error-diffusion methods (0 Floyd-Steinberg,
// 2 Burkes, 3 Stucki, 4 Jarvis-Judice-Ninke, 5 Sierra, 6 Stevenson-Arce) walk
// the rows in storage order, make each pixel white above 128, and push the
// difference to pixels not yet visited; every other method number is
// Floyd-Steinberg. Each share is (error * weight) / divisor, truncated on its
// own, and every pushed grey value is clamped to 0..255 at once, so the
// rounding and clamping of each step are part of the result.
//
// The result is a new 1-bit image that keeps this image's bookkeeping. The
// grey values come from the source rows through the luminance table; error
// diffusion keeps only the few rows its kernel reaches in a small window.
#include <algorithm>
#include <array>
#include <cstddef>
#include <vector>

#include "image/raster_image.h"
#include "image/tone/tone_internal.h"

namespace sheetmend {

namespace {

const uint8_t kDispersed[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
const uint8_t kBayer[4][4] = {
    {0, 192, 48, 240}, {128, 64, 176, 112}, {32, 224, 16, 208}, {160, 96, 144, 80}};

bool OrderedWhite(int32_t method, uint32_t row, uint32_t column, uint32_t grey) {
    if (method == 1) return grey == 255 || kDispersed[row][column] < (grey * 16) / 255;
    return grey > kBayer[row][column];
}

// Both ordered rules are monotone in the grey value, so each matrix cell comes
// down to a limit: the greatest grey that stays black. The limits are laid
// out as four rows of the image's width, ready for ThresholdRows.
std::vector<uint8_t> OrderedLimits(int32_t method, uint32_t width) {
    uint8_t cell[4][4] = {};
    for (uint32_t r = 0; r < 4; ++r)
        for (uint32_t c = 0; c < 4; ++c)
            for (uint32_t g = 0; g < 256; ++g)
                if (!OrderedWhite(method, r, c, g)) cell[r][c] = static_cast<uint8_t>(g);
    std::vector<uint8_t> limits(4 * static_cast<size_t>(width));
    for (uint32_t r = 0; r < 4; ++r)
        for (uint32_t x = 0; x < width; ++x)
            limits[r * static_cast<size_t>(width) + x] = cell[r][x & 3];
    return limits;
}

// One position of a diffusion kernel: offset and weight.
struct Tap {
    int32_t dx;
    int32_t dy;
    int32_t weight;
};

// Widest horizontal reach of any kernel; the window rows have this many spare
// cells on both sides to take the shares that fall outside the image.
constexpr int32_t kMargin = 3;

inline int32_t ClampGrey(int32_t v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// What one kernel position receives from a pixel of grey g: the error of
// the pixel (g - 255 when it turns white, else g) times the weight, divided
// by the divisor with truncation. A table lookup keeps the division off the
// chain of steps from one pixel to the next.
template <int32_t kDivisor, Tap kTap>
constexpr std::array<int16_t, 256> kShares = [] {
    std::array<int16_t, 256> shares{};
    for (int32_t g = 0; g < 256; ++g) {
        const int32_t error = g > 128 ? g - 255 : g;
        shares[g] = static_cast<int16_t>(error * kTap.weight / kDivisor);
    }
    return shares;
}();

// Adds one share of the error. Shares along the current row go to `ahead`,
// the next grey values of the row held in registers, so the value each
// pixel reads does not wait on a store and reload of the one before it.
template <int32_t kDivisor, Tap kTap>
inline void Spread(int32_t* ahead, uint8_t* const* rows, ptrdiff_t x, int32_t grey) {
    const int32_t share = kShares<kDivisor, kTap>[grey];
    if constexpr (kTap.dy == 0) {
        ahead[kTap.dx] = ClampGrey(ahead[kTap.dx] + share);
    } else {
        uint8_t& v = rows[kTap.dy][x + kTap.dx];
        v = static_cast<uint8_t>(ClampGrey(v + share));
    }
}

template <int32_t kDivisor, Tap... kTaps>
void DiffuseErrors(RasterImage& self, RasterImage& out) {
    static_assert(((kTaps.dy > 0 || (kTaps.dx >= 1 && kTaps.dx <= 2)) && ...));
    constexpr uint32_t kDepth = 1 + static_cast<uint32_t>(std::max({kTaps.dy...}));
    const uint32_t width = self.GetWidth();
    const uint32_t height = self.GetHeight();
    const uint32_t bpp = self.GetBpp();
    const tone::GreyTable greys = tone::PaletteGreys(self);

    // Rows y .. y + kDepth - 1 live in slots (row % kDepth). A slot of a row
    // past the top of the image takes shares that are never read: they are
    // the shares that fall outside the image, as are those in the margins.
    const size_t stride = width + 2 * kMargin;
    std::vector<uint8_t> window(stride * kDepth);
    auto slot = [&](uint32_t y) { return window.data() + (y % kDepth) * stride + kMargin; };
    for (uint32_t y = 0; y < kDepth && y < height; ++y)
        tone::GreyRow(self.RowPtr(y), width, bpp, greys, slot(y));

    for (uint32_t y = 0; y < height; ++y) {
        self.SetProgress(tone::RowProgress(y, height));
        if (self.GetEscape()) break;
        uint8_t* rows[kDepth];
        for (uint32_t k = 0; k < kDepth; ++k) rows[k] = slot(y + k);
        const uint8_t* current = rows[0];
        int32_t ahead[3] = {current[0], current[1], current[2]};
        uint8_t* dst = out.RowPtr(y);
        unsigned bits = 0;
        for (uint32_t x = 0; x < width; ++x) {
            const int32_t g = ahead[0];
            const bool white = g > 128;
            (Spread<kDivisor, kTaps>(ahead, rows, x, g), ...);
            ahead[0] = ahead[1];
            ahead[1] = ahead[2];
            ahead[2] = current[x + 3];  // no share has reached it yet in this row
            bits = (bits << 1) | (white ? 1u : 0u);
            if ((x & 7) == 7) {
                dst[x >> 3] = static_cast<uint8_t>(bits);
                bits = 0;
            }
        }
        if (width & 7) dst[width >> 3] = static_cast<uint8_t>(bits << (8 - (width & 7)));
        if (y + kDepth < height)
            tone::GreyRow(self.RowPtr(y + kDepth), width, bpp, greys, slot(y + kDepth));
    }
}

void Diffuse(int32_t method, RasterImage& self, RasterImage& out) {
    switch (method) {
        case 2:  // Burkes
            DiffuseErrors<32, Tap{1, 0, 8}, Tap{2, 0, 4}, Tap{-2, 1, 2}, Tap{-1, 1, 4},
                          Tap{0, 1, 8}, Tap{1, 1, 4}, Tap{2, 1, 2}>(self, out);
            break;
        case 3:  // Stucki
            DiffuseErrors<42, Tap{1, 0, 8}, Tap{2, 0, 4}, Tap{-2, 1, 2}, Tap{-1, 1, 4},
                          Tap{0, 1, 8}, Tap{1, 1, 4}, Tap{2, 1, 2}, Tap{-2, 2, 1}, Tap{-1, 2, 2},
                          Tap{0, 2, 4}, Tap{1, 2, 2}, Tap{2, 2, 1}>(self, out);
            break;
        case 4:  // Jarvis, Judice and Ninke
            DiffuseErrors<48, Tap{1, 0, 7}, Tap{2, 0, 5}, Tap{-2, 1, 3}, Tap{-1, 1, 5},
                          Tap{0, 1, 7}, Tap{1, 1, 5}, Tap{2, 1, 3}, Tap{-2, 2, 1}, Tap{-1, 2, 3},
                          Tap{0, 2, 5}, Tap{1, 2, 3}, Tap{2, 2, 1}>(self, out);
            break;
        case 5:  // Sierra
            DiffuseErrors<32, Tap{1, 0, 5}, Tap{2, 0, 3}, Tap{-2, 1, 2}, Tap{-1, 1, 4},
                          Tap{0, 1, 5}, Tap{1, 1, 4}, Tap{2, 1, 2}, Tap{-1, 2, 2}, Tap{0, 2, 3},
                          Tap{1, 2, 2}>(self, out);
            break;
        case 6:  // Stevenson and Arce
            DiffuseErrors<200, Tap{2, 0, 32}, Tap{-3, 1, 12}, Tap{-1, 1, 26}, Tap{1, 1, 30},
                          Tap{3, 1, 16}, Tap{-2, 2, 12}, Tap{0, 2, 26}, Tap{2, 2, 12},
                          Tap{-3, 3, 5}, Tap{-1, 3, 12}, Tap{1, 3, 12}, Tap{3, 3, 5}>(self, out);
            break;
        default:  // Floyd and Steinberg
            DiffuseErrors<16, Tap{1, 0, 7}, Tap{-1, 1, 3}, Tap{0, 1, 5}, Tap{1, 1, 1}>(self, out);
            break;
    }
}

}  // namespace

bool RasterImage::Dither(int32_t method) {
    if (!dib_) return false;
    const uint32_t bpp = GetBpp();
    if (bpp == 1) return true;
    const uint32_t width = GetWidth();
    const uint32_t height = GetHeight();

    // The result takes the bookkeeping this image has once it is grey: the
    // background index of a palette image has moved to its entry's grey.
    RasterImage out;
    out.TakeBookkeeping(*this);
    if (bpp < 24 && info_.backgroundIndex >= 0) {
        const tone::GreyTable greys = tone::PaletteGreys(*this);
        out.SetBackgroundIndex(greys[static_cast<uint8_t>(info_.backgroundIndex)]);
    }
    if (!out.Create(width, height, 1, info_.type) || !tone::CopyPlanes(*this, out)) {
        // The grey conversion comes first and stays even when this fails.
        const char* why = out.IsValid() ? tone::kNoMemory : out.GetLastError();
        if (GrayScale()) SetLastError(why);
        return false;
    }

    if (method == 1 || method == 7) {
        const std::vector<uint8_t> limits = OrderedLimits(method, width);
        tone::ThresholdRows(*this, limits.data(), 4, out);
    } else {
        Diffuse(method, *this, out);
    }
    tone::SetBlackAndWhitePalette(out);
    return Transfer(out);
}

}  // namespace sheetmend
