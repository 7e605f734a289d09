// Pages of ink on troubled paper whose ink is known by construction: lines
// of printed-like letters (stems and bars 4.4 pixels thick, a 12-point serif
// stem at 300 dpi) and of handwritten-like wavy 4-pixel strokes, drawn with
// area coverage, on paper that is clean, under a light gradient or a
// vignette, with coffee rings, yellowed, in pencil grey, or with the
// mirrored text of the page behind. A scan is light x paper x ink per
// channel, plus grain. Also the measures taken on them.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "image/raster_image.h"

namespace sheetmend::testing {

inline constexpr int32_t kPageW = 1000, kPageH = 700;
inline constexpr double kBlackInk = 0.1;  // reflectance: grey 25.5 on white

// Ink coverage 0..1 per pixel, by stored row.
struct InkLayer {
    std::vector<float> c = std::vector<float>(size_t(kPageW) * kPageH, 0.0f);
    float& At(int32_t x, int32_t y) { return c[size_t(y) * kPageW + x]; }

    // A thick segment, sampled 4 x 4 per pixel.
    void Stroke(double ax, double ay, double bx, double by, double half) {
        const double dx = bx - ax, dy = by - ay, len2 = std::max(dx * dx + dy * dy, 1e-9);
        for (int32_t y = int32_t(std::min(ay, by) - half - 1); y <= std::max(ay, by) + half + 1;
             ++y)
            for (int32_t x = int32_t(std::min(ax, bx) - half - 1); x <= std::max(ax, bx) + half + 1;
                 ++x) {
                int32_t in = 0;
                for (int32_t s = 0; s < 16; ++s) {
                    const double px = x + (s % 4 + 0.5) / 4 - ax, py = y + (s / 4 + 0.5) / 4 - ay;
                    const double t = std::clamp((px * dx + py * dy) / len2, 0.0, 1.0);
                    in += std::hypot(px - t * dx, py - t * dy) <= half;
                }
                At(x, y) = std::max(At(x, y), in / 16.0f);
            }
    }
};

inline InkLayer DrawText(uint32_t seed) {
    InkLayer ink;
    std::mt19937 rng(seed);
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution(a, b)(rng); };
    const double xh = 22, half = 2.2;
    for (int32_t line = 0; line < 10; ++line) {
        const double base = 93 + line * 56;  // bottom of the letters
        for (double x = 50 + uniform(0, 1); x < kPageW - 120; x += uniform(18, 30)) {
            const double end = x + uniform(60, 150), f = uniform(0.25, 0.4), phase = uniform(0, 6);
            for (double px = x, py = base - xh / 2; line % 2 && x < end; x += 2) {
                const double ny = base - xh / 2 - xh / 2 * std::sin(x * f + phase);
                ink.Stroke(px, py, x, ny, 2.0);
                px = x, py = ny;
            }
            for (; line % 2 == 0 && x < end; x += uniform(16, 22)) {
                const double top = base - xh * (uniform(0, 1) < 0.25 ? 1.45 : 1.0);
                const double right = x + uniform(9, 13), bar = base - xh * uniform(0, 1.2);
                const int32_t shape = int32_t(uniform(0, 3));
                ink.Stroke(x, top, x, base, half);
                if (shape == 0) ink.Stroke(right, base - xh, right, base, half);
                ink.Stroke(x, std::clamp(bar, base - xh, base), right,
                           std::clamp(bar, base - xh, base), half);
            }
        }
    }
    return ink;
}

struct StainedPage {
    std::string name;
    bool uneven = false;                    // the light falls off across the page
    RasterImage image;                      // 24-bit, 300 dpi
    std::vector<uint8_t> ink, core, paper;  // coverage at least half, full, none
};

inline std::vector<StainedPage> DrawStainedPages() {
    InkLayer drawn = DrawText(11), back = DrawText(12), behind;
    for (int32_t y = 1; y < kPageH - 1; ++y)  // the page behind, mirrored and blurred
        for (int32_t x = 1; x < kPageW - 1; ++x)
            for (int32_t k = 0; k < 9; ++k)
                behind.At(kPageW - 1 - x, y) += back.At(x + k % 3 - 1, y + k / 3 - 1) / 9;
    const char* names[] = {"clean",    "gradient", "vignette",    "coffee rings",
                           "yellowed", "pencil",   "show-through"};
    std::vector<StainedPage> pages;
    for (int32_t kind = 0; kind < 7; ++kind) {
        StainedPage p{names[kind], kind == 1 || kind == 2, RasterImage(kPageW, kPageH, 24), {}, {},
                      {}};
        p.image.SetXDpi(300);
        p.image.SetYDpi(300);
        std::mt19937 rng(100 + kind);
        std::normal_distribution grain(0.0, 3.0);
        for (int32_t y = 0; y < kPageH; ++y)
            for (int32_t x = 0; x < kPageW; ++x) {
                const size_t i = size_t(y) * kPageW + x;
                const double dx = 2.0 * x / kPageW - 1, dy = 2.0 * y / kPageH - 1;
                double light = kind == 1 ? 1 - 0.65 * x / (kPageW - 1) : 1;
                if (kind == 2)
                    light = 1 - 0.7 * std::sqrt((dx * dx + dy * dy) / 2);  // 0.3 in corners
                double paper[3] = {0.93, 0.93, 0.93};                      // blue, green, red
                for (int32_t r = 0; kind == 3 && r < 4; ++r) {  // brown rings, darker inside
                    const double d =
                        std::hypot(x - 150.0 - 230 * r, y - 200.0 - 300 * (r % 2)) - 90 - 20 * r;
                    const double a = 0.15 * std::exp(-d * d / 36) + (d < 0 ? 0.05 : 0);
                    for (int32_t c = 0; c < 3; ++c) paper[c] *= 1 - a * (1.4 - 0.35 * c);
                }
                if (kind == 4) paper[0] = 0.68, paper[1] = 0.88, paper[2] = 0.95;
                for (double& v : paper) v *= kind == 6 ? 1 - 0.15 * behind.c[i] : 1;
                const double inked = 1 - drawn.c[i] * (1 - (kind == 5 ? 0.6 : kBlackInk));
                for (int32_t c = 0; c < 3; ++c)
                    p.image.RowPtr(uint32_t(y))[3 * x + c] = uint8_t(
                        std::clamp(255 * light * paper[c] * inked + grain(rng), 0.0, 255.0));
                p.ink.push_back(drawn.c[i] >= 0.5f);
                p.core.push_back(drawn.c[i] == 1);
                p.paper.push_back(drawn.c[i] == 0);
            }
        pages.push_back(std::move(p));
    }
    return pages;
}

// Harmonic mean of precision and recall of the black pixels against the ink.
inline double InkFMeasure(const RasterImage& bw, const std::vector<uint8_t>& ink) {
    double hit = 0, found = 0, truth = 0;
    for (int32_t y = 0; y < kPageH; ++y)
        for (int32_t x = 0; x < kPageW; ++x) {
            const bool black = bw.GetPixelColor(x, y, false).red < 128,
                       drawn = ink[size_t(y) * kPageW + x];
            hit += black && drawn, found += black, truth += drawn;
        }
    return 2 * hit / (found + truth);
}

// Mean and standard deviation of the luminance over the pixels marked in `where`.
inline std::pair<double, double> GreyMeanAndSpread(const RasterImage& image,
                                                   const std::vector<uint8_t>& where) {
    double n = 0, s = 0, q = 0;
    for (int32_t y = 0; y < kPageH; ++y)
        for (int32_t x = 0; x < kPageW; ++x) {
            const RgbQuad c = image.GetPixelColor(x, y, false);
            const double g =
                where[size_t(y) * kPageW + x] * (0.299 * c.red + 0.587 * c.green + 0.114 * c.blue);
            n += where[size_t(y) * kPageW + x], s += g, q += g * g;
        }
    return {s / n, std::sqrt(std::max(0.0, q / n - s * s / n / n))};
}

}  // namespace sheetmend::testing
