// Pages of ink drawn on troubled paper, with the ink known by construction:
// lines of printed-like letters (stems and bars) and handwritten-like
// strokes, rendered with area coverage (smooth edges), on paper under
// a light gradient, a vignette, coffee rings, a yellowed tint or the
// mirrored text of the page behind, or in pencil grey. A scan is modelled as
// light x paper x ink, per channel, plus grain. Also the measures the tests
// take on such pages: the F-measure of a black-and-white result against the
// drawn ink, and the spread and mean of grey values over a set of pixels.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "image/raster_image.h"

namespace sheetmend::testing {

// Coverage of a page by ink, 0..1 per pixel, indexed by stored row.
struct InkLayer {
    int32_t w, h;
    std::vector<float> c;
    InkLayer(int32_t width, int32_t height)
        : w(width), h(height), c(size_t(width) * height, 0.0f) {}
    float& At(int32_t x, int32_t y) { return c[size_t(y) * w + x]; }
    float At(int32_t x, int32_t y) const { return c[size_t(y) * w + x]; }

    // A thick segment from (ax, ay) to (bx, by), sampled 4 x 4 per pixel.
    void Stroke(double ax, double ay, double bx, double by, double half) {
        const double dx = bx - ax, dy = by - ay, len2 = std::max(dx * dx + dy * dy, 1e-9);
        for (int32_t y = std::max(0, int32_t(std::min(ay, by) - half - 1));
             y <= std::min(h - 1, int32_t(std::max(ay, by) + half + 1)); ++y)
            for (int32_t x = std::max(0, int32_t(std::min(ax, bx) - half - 1));
                 x <= std::min(w - 1, int32_t(std::max(ax, bx) + half + 1)); ++x) {
                int32_t in = 0;
                for (int32_t s = 0; s < 16; ++s) {
                    const double px = x + (s % 4 + 0.5) / 4, py = y + (s / 4 + 0.5) / 4;
                    const double t = std::clamp(((px - ax) * dx + (py - ay) * dy) / len2, 0.0, 1.0);
                    const double ex = px - ax - t * dx, ey = py - ay - t * dy;
                    in += ex * ex + ey * ey <= half * half;
                }
                At(x, y) = std::max(At(x, y), in / 16.0f);
            }
    }
    // The mean of the 3 x 3 neighbourhood: ink that bleeds through paper.
    InkLayer Blurred() const {
        InkLayer out(w, h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                float s = 0;
                for (int32_t k = -1; k <= 1; ++k)
                    for (int32_t l = -1; l <= 1; ++l)
                        s += At(std::clamp(x + l, 0, w - 1), std::clamp(y + k, 0, h - 1));
                out.At(x, y) = s / 9;
            }
        return out;
    }
};

// Lines of text inside a margin: printed lines of letters built from stems
// and bars 4.4 pixels thick (a 12-point serif stem at 300 dpi), and handwritten
// lines of wavy 4-pixel strokes (a ballpoint pen).
inline InkLayer DrawText(int32_t w, int32_t h, uint32_t seed) {
    InkLayer ink(w, h);
    std::mt19937 rng(seed);
    auto uniform = [&](double a, double b) {
        return std::uniform_real_distribution<double>(a, b)(rng);
    };
    const double xh = 22, stem = 2.2;
    for (int32_t line = 0; 60 + line * 56 + xh * 1.5 < h - 40; ++line) {
        const double base = 60 + line * 56 + xh * 1.5;  // bottom of the letters
        double x = 50 + uniform(0, 1);
        while (x < w - 120) {
            const double word = uniform(60, 150);
            if (line % 2 == 0) {
                for (double end = x + word; x < end; x += uniform(16, 22)) {
                    const double top = base - xh * (uniform(0, 1) < 0.25 ? 1.45 : 1.0);
                    const double right = x + uniform(9, 13);
                    ink.Stroke(x, top, x, base, stem);
                    const int32_t shape = int32_t(uniform(0, 4));
                    if (shape == 0 || shape == 3) ink.Stroke(right, base - xh, right, base, stem);
                    if (shape == 1 || shape == 3) ink.Stroke(x, base - xh, right, base - xh, stem);
                    if (shape == 2) ink.Stroke(x, base - xh / 2, right, base - xh / 2, stem);
                    if (shape != 3) ink.Stroke(x, base, right, base, stem);
                }
            } else {
                const double f = uniform(0.25, 0.4), phase = uniform(0, 6);
                double px = x, py = base - xh / 2;
                for (double end = x + word; x < end; x += 2) {
                    const double ny = base - xh / 2 - xh / 2 * std::sin(x * f + phase);
                    ink.Stroke(px, py, x, ny, 2.0);
                    px = x;
                    py = ny;
                }
            }
            x += uniform(18, 30);
        }
    }
    return ink;
}

struct StainedPage {
    std::string name;
    bool uneven = false;         // the light falls off across the page
    RasterImage image;           // 24-bit, 300 dpi
    std::vector<uint8_t> ink;    // the drawn ink: coverage of at least half
    std::vector<uint8_t> core;   // ink pixels whose neighbours are all ink
    std::vector<uint8_t> paper;  // pixels with no ink in their neighbourhood
};

inline constexpr int32_t kStainedWidth = 1000, kStainedHeight = 700;
inline constexpr double kBlackInk = 0.1;  // reflectance of black ink: grey 25.5 on white

// The pages, in this order: clean, gradient, vignette, coffee rings,
// yellowed, pencil, show-through.
inline std::vector<StainedPage> DrawStainedPages() {
    const int32_t w = kStainedWidth, h = kStainedHeight;
    const InkLayer drawn = DrawText(w, h, 11);
    const InkLayer blurred = drawn.Blurred();
    InkLayer behind = DrawText(w, h, 12);
    {  // the page behind, mirrored and blurred twice by the paper
        InkLayer m(w, h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) m.At(x, y) = behind.At(w - 1 - x, y);
        behind = m.Blurred().Blurred();
    }
    const char* names[] = {"clean",    "gradient", "vignette",    "coffee rings",
                           "yellowed", "pencil",   "show-through"};
    std::vector<StainedPage> pages;
    for (int32_t kind = 0; kind < 7; ++kind) {
        StainedPage p;
        p.name = names[kind];
        p.uneven = kind == 1 || kind == 2;
        p.image = RasterImage(w, h, 24);
        p.image.SetXDpi(300);
        p.image.SetYDpi(300);
        std::mt19937 rng(100 + kind);
        std::normal_distribution<double> grain(0, 3);
        std::vector<std::array<double, 3>> rings;  // centre x, y, radius
        for (int32_t r = 0; kind == 3 && r < 4; ++r)
            rings.push_back({150.0 + 230 * r, 200.0 + 300 * (r % 2), 90.0 + 20 * r});
        const double inkLeft = kind == 5 ? 0.6 : kBlackInk;
        for (int32_t y = 0; y < h; ++y) {
            uint8_t* row = p.image.RowPtr(uint32_t(y));
            for (int32_t x = 0; x < w; ++x) {
                double light = 1, paper[3] = {0.93, 0.93, 0.93};  // blue, green, red
                if (kind == 1) light = 1 - 0.65 * x / (w - 1);
                if (kind == 2) {
                    const double dx = (x - w / 2.0) / (w / 2.0), dy = (y - h / 2.0) / (h / 2.0);
                    light = 1 - 0.7 * std::sqrt((dx * dx + dy * dy) / 2);  // 0.3 in the corners
                }
                for (const auto& ring : rings) {
                    const double d = std::hypot(x - ring[0], y - ring[1]) - ring[2];
                    const double a = 0.15 * std::exp(-d * d / 36) + (d < 0 ? 0.05 : 0);
                    const double brown[3] = {1.4, 1.0, 0.7};
                    for (int32_t c = 0; c < 3; ++c) paper[c] *= 1 - a * brown[c];
                }
                if (kind == 4) paper[0] = 0.68, paper[1] = 0.88, paper[2] = 0.95;
                if (kind == 6)
                    for (double& v : paper) v *= 1 - 0.15 * behind.At(x, y);
                const double inked = 1 - drawn.At(x, y) * (1 - inkLeft);
                for (int32_t c = 0; c < 3; ++c)
                    row[3 * x + c] = uint8_t(
                        std::clamp(255 * light * paper[c] * inked + grain(rng), 0.0, 255.0));
            }
        }
        for (int32_t i = 0; i < w * h; ++i) {
            p.ink.push_back(drawn.c[size_t(i)] >= 0.5f);
            p.core.push_back(blurred.c[size_t(i)] >= 0.999f);
            p.paper.push_back(blurred.c[size_t(i)] == 0.0f);
        }
        pages.push_back(std::move(p));
    }
    return pages;
}

// Harmonic mean of the precision and recall of the black pixels of a
// black-and-white image against the drawn ink.
inline double InkFMeasure(const RasterImage& bw, const std::vector<uint8_t>& ink) {
    double hit = 0, found = 0, truth = 0;
    for (uint32_t y = 0; y < bw.GetHeight(); ++y)
        for (uint32_t x = 0; x < bw.GetWidth(); ++x) {
            const bool black = bw.GetPixelColor(int32_t(x), int32_t(y), false).red < 128;
            const bool drawn = ink[size_t(y) * bw.GetWidth() + x] != 0;
            hit += black && drawn;
            found += black;
            truth += drawn;
        }
    return found > 0 && truth > 0 ? 2 * hit / (found + truth) : 0;
}

// Mean and standard deviation of the luminance over the pixels marked in `where`.
inline std::pair<double, double> GreyMeanAndSpread(const RasterImage& image,
                                                   const std::vector<uint8_t>& where) {
    double n = 0, s = 0, q = 0;
    for (uint32_t y = 0; y < image.GetHeight(); ++y)
        for (uint32_t x = 0; x < image.GetWidth(); ++x) {
            if (!where[size_t(y) * image.GetWidth() + x]) continue;
            const RgbQuad c = image.GetPixelColor(int32_t(x), int32_t(y), false);
            const double g = 0.299 * c.red + 0.587 * c.green + 0.114 * c.blue;
            n += 1;
            s += g;
            q += g * g;
        }
    const double mean = s / n;
    return {mean, std::sqrt(std::max(0.0, q / n - mean * mean))};
}

}  // namespace sheetmend::testing
