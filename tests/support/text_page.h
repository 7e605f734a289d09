// One-bit pages of text lines drawn in code for the skew tests: lines of
// character-sized boxes with word gaps, turned by a known angle about the
// page centre by inverse-mapping every pixel centre, so the ground truth is
// the angle itself. And an independent measure of the skew of a page: the
// projection profile, whose row sums are sharpest when taken along the
// lines.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "image/raster_image.h"

namespace sheetmend::testing {

// Rows top first, padded to 16 pixels, most significant bit leftmost, set = ink.
struct BitPage {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> bits;

    BitPage(int32_t w, int32_t h)
        : width(w), height(h), bits(static_cast<size_t>(RowBytes(w)) * static_cast<size_t>(h), 0) {}
    static int32_t RowBytes(int32_t w) { return ((w + 15) / 16) * 2; }
    int32_t RowBytes() const { return RowBytes(width); }
    int32_t RowBits() const { return RowBytes() * 8; }
    uint8_t* Row(int32_t y) { return bits.data() + static_cast<size_t>(y) * RowBytes(); }
    bool Ink(int32_t x, int32_t y) const {
        return (bits[static_cast<size_t>(y) * RowBytes() + (x >> 3)] >> (7 - (x & 7))) & 1;
    }
    void Set(int32_t x, int32_t y, bool ink = true) {
        uint8_t& b = bits[static_cast<size_t>(y) * RowBytes() + (x >> 3)];
        const auto m = static_cast<uint8_t>(0x80 >> (x & 7));
        b = ink ? static_cast<uint8_t>(b | m) : static_cast<uint8_t>(b & ~m);
    }
    void Fill(int32_t x0, int32_t y0, int32_t w, int32_t h) {
        for (int32_t y = y0; y < y0 + h; ++y)
            for (int32_t x = x0; x < x0 + w; ++x) Set(x, y);
    }
    int64_t InkCount() const {
        int64_t n = 0;
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) n += Ink(x, y);
        return n;
    }
};

struct Rect {
    double x0, y0, x1, y1;  // level page coordinates, x1 and y1 exclusive
};

// Boxes of text lines on a level page: character boxes of xHeight rows and
// 14 to 26 columns, 6 columns apart, words of 2 to 7 characters 24 columns
// apart, a line every `pitch` rows inside the margins.
inline std::vector<Rect> TextLineBoxes(int32_t width, int32_t height, int32_t lines,
                                       int32_t xHeight = 30, int32_t pitch = 90,
                                       uint32_t seed = 7) {
    std::mt19937 rng(seed);
    std::vector<Rect> boxes;
    const int32_t margin = width / 10;
    for (int32_t l = 0; l < lines; ++l) {
        const int32_t base = height / 6 + l * pitch;
        if (base + xHeight >= height - height / 10) break;
        int32_t x = margin;
        while (x < width - margin - 200) {
            const int32_t letters = 2 + static_cast<int32_t>(rng() % 6);
            for (int32_t c = 0; c < letters; ++c) {
                const int32_t w = 14 + static_cast<int32_t>(rng() % 13);
                boxes.push_back(
                    Rect{double(x), double(base), double(x + w), double(base + xHeight)});
                x += w + 6;
            }
            x += 24;
        }
    }
    return boxes;
}

// The boxes turned by `angle` radians about the page centre: positive turns
// the lines downward to the right (rows grow downward).
inline BitPage DrawTurned(int32_t width, int32_t height, const std::vector<Rect>& boxes,
                          double angle) {
    BitPage page(width, height);
    const double cx = width / 2.0, cy = height / 2.0, c = std::cos(angle), s = std::sin(angle);
    for (const Rect& r : boxes) {
        // The turned box lies inside the turn of its corners.
        double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
        for (double u : {r.x0, r.x1})
            for (double v : {r.y0, r.y1}) {
                const double x = cx + (u - cx) * c - (v - cy) * s,
                             y = cy + (u - cx) * s + (v - cy) * c;
                minX = std::min(minX, x), maxX = std::max(maxX, x);
                minY = std::min(minY, y), maxY = std::max(maxY, y);
            }
        for (int32_t y = std::max(0, int32_t(minY) - 1);
             y <= std::min(height - 1, int32_t(maxY) + 1); ++y)
            for (int32_t x = std::max(0, int32_t(minX) - 1);
                 x <= std::min(width - 1, int32_t(maxX) + 1); ++x) {
                const double px = x + 0.5 - cx, py = y + 0.5 - cy;
                const double u = cx + px * c + py * s, v = cy - px * s + py * c;
                if (u >= r.x0 && u < r.x1 && v >= r.y0 && v < r.y1) page.Set(x, y);
            }
    }
    return page;
}

// The slope angle (radians) along which the row sums of the ink are
// sharpest: searched from -range to +range in coarse steps, then finely
// (0.0001) about the best coarse angle.
template <class InkAt>
double ProjectionSkew(int32_t width, int32_t height, InkAt ink, double range = 0.035) {
    std::vector<std::pair<int32_t, int32_t>> pixels;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            if (ink(x, y)) pixels.emplace_back(x, y);
    std::vector<int64_t> profile;
    auto score = [&](double a) {
        const double t = std::tan(a);
        const int32_t pad = static_cast<int32_t>(std::ceil(std::fabs(t) * width)) + 1;
        profile.assign(static_cast<size_t>(height + 2 * pad), 0);
        for (const auto& [x, y] : pixels)
            ++profile[static_cast<size_t>(static_cast<int32_t>(std::floor(y - x * t)) + pad)];
        double sum = 0;
        for (int64_t v : profile) sum += static_cast<double>(v) * static_cast<double>(v);
        return sum;
    };
    auto search = [&](double lo, double hi, double step) {
        double best = 0, bestScore = -1;
        for (double a = lo; a <= hi + 1e-12; a += step)
            if (const double s = score(a); s > bestScore) bestScore = s, best = a;
        return best;
    };
    const double coarse = search(-range, range, 0.002);
    return search(coarse - 0.0025, coarse + 0.0025, 0.0001);
}

inline double ProjectionSkew(const BitPage& page, double range = 0.035) {
    return ProjectionSkew(
        page.width, page.height, [&](int32_t x, int32_t y) { return page.Ink(x, y); }, range);
}

constexpr double kDegree = 3.14159265358979323846 / 180.0;

// A 1-bit image (palette black, white) of a drawn page, copied row by row.
inline RasterImage BitPageImage(const BitPage& page) {
    RasterImage img(static_cast<uint32_t>(page.width), static_cast<uint32_t>(page.height), 1);
    img.SetPaletteColor(0, 0, 0, 0);
    img.SetPaletteColor(1, 255, 255, 255);
    const uint32_t used = (static_cast<uint32_t>(page.width) + 7) / 8;
    const auto last = static_cast<uint8_t>(page.width % 8 ? 0xFF00u >> (page.width % 8) : 0xFFu);
    for (int32_t y = 0; y < page.height; ++y) {
        uint8_t* row = img.RowPtr(static_cast<uint32_t>(page.height - 1 - y));
        const uint8_t* ink = page.bits.data() + static_cast<size_t>(y) * page.RowBytes();
        for (uint32_t b = 0; b < used; ++b) row[b] = static_cast<uint8_t>(~ink[b]);
        row[used - 1] &= last;
    }
    return img;
}

// The dark pixels (luminance below half) of an image of any depth.
inline BitPage InkOfImage(const RasterImage& img) {
    BitPage page(static_cast<int32_t>(img.GetWidth()), static_cast<int32_t>(img.GetHeight()));
    for (int32_t y = 0; y < page.height; ++y)
        for (int32_t x = 0; x < page.width; ++x) {
            const RgbQuad c = img.GetPixelColor(x, page.height - 1 - y, false);
            if (c.red * 306 + c.green * 601 + c.blue * 117 < 128 * 1024) page.Set(x, y);
        }
    return page;
}

// The ink as an 8-bit grey page at `dpi`: ink at level 30 on paper at 225,
// and the pixels `dark` marks (borders, specks) at 20.
inline RasterImage GreyInkPage(const BitPage& ink, int32_t dpi,
                               const std::function<bool(int32_t, int32_t)>& dark = {}) {
    const int32_t w = ink.width, h = ink.height;
    RasterImage grey(static_cast<uint32_t>(w), static_cast<uint32_t>(h), 8);
    grey.SetGrayPalette();
    grey.SetXDpi(dpi);
    grey.SetYDpi(dpi);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            grey.SetPixelIndex(x, h - 1 - y, ink.Ink(x, y) ? 30 : (dark && dark(x, y)) ? 20 : 225);
    return grey;
}

}  // namespace sheetmend::testing
