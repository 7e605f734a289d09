// Draws a scan-like A4 page reproducibly: lines of word-like ink blocks,
// a ruled table, a frame line, specks, a dark border strip, a slight skew,
// saved as 24-bit (tinted paper), 8-bit grey or 1-bit, in the format the
// output name gives.
//
//   make_sample_page OUTPUT DEPTH [WIDTH HEIGHT [SKEW_DEGREES [DPI]]]
//
// The drawing scales with WIDTH and HEIGHT, so one page at 150, 300 and 600
// dpi is the same page at each resolution (DPI is what the file states).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "image/formats.h"
#include "image/raster_image.h"

using namespace sheetmend;

namespace {

void Box(RasterImage& img, int x0, int y0, int w, int h, uint8_t v) {
    const int H = static_cast<int>(img.GetHeight());
    for (int y = y0; y < y0 + h; ++y) {
        if (y < 0 || y >= H) continue;
        uint8_t* row = img.RowPtr(static_cast<uint32_t>(H - 1 - y));
        for (int x = x0; x < x0 + w; ++x)
            if (x >= 0 && x < static_cast<int>(img.GetWidth())) row[x] = v;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUTPUT DEPTH(1|8|24) [WIDTH HEIGHT [SKEW [DPI]]]\n",
                     argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    const int depth = std::atoi(argv[2]);
    const int W = argc > 4 ? std::atoi(argv[3]) : 2480;
    const int H = argc > 4 ? std::atoi(argv[4]) : 3508;
    const float skew = argc > 5 ? static_cast<float>(std::atof(argv[5])) : 1.5f;
    const int dpi = argc > 6 ? std::atoi(argv[6]) : 300;
    std::mt19937 rng(20261208);

    // Draw on an 8-bit grey page: 0 ink, 255 paper.
    RasterImage page(static_cast<uint32_t>(W), static_cast<uint32_t>(H), 8);
    page.SetGrayPalette();
    page.Clear(255);
    // Sizes given in pixels at 300 dpi (2480 pixels across) scale with the page.
    auto scaled = [W](int v) { return std::max(1, v * W / 2480); };
    const int margin = W / 10;
    const int lineHeight = H / 90;
    // Text: word-like blocks with ascenders.
    for (int y = H / 8; y < H * 5 / 8; y += lineHeight * 2) {
        int x = margin;
        while (x < W - margin) {
            const int word = lineHeight * (2 + static_cast<int>(rng() % 6));
            if (x + word > W - margin) break;
            for (int c = 0; c < word; c += lineHeight * 2 / 3) {
                const int cw = lineHeight / 2;
                const int ch = lineHeight * (rng() % 4 == 0 ? 5 : 3) / 4;
                Box(page, x + c, y + lineHeight - ch, cw, ch, 20);
            }
            x += word + lineHeight;
        }
    }
    // A ruled table.
    const int top = H * 5 / 8 + lineHeight, rows = 6, cols = 4;
    const int tw = W - 2 * margin, th = lineHeight * 2 * rows;
    for (int r = 0; r <= rows; ++r) Box(page, margin, top + r * th / rows, tw, scaled(3), 0);
    for (int c = 0; c <= cols; ++c) Box(page, margin + c * tw / cols, top, scaled(3), th, 0);
    // A long rule under the header and a black strip down the left edge.
    Box(page, margin, H / 10, tw, scaled(4), 0);
    Box(page, 0, 0, W / 60, H, 10);
    // Specks.
    for (int i = 0; i < 400; ++i)
        Box(page, static_cast<int>(rng() % static_cast<unsigned>(W)),
            static_cast<int>(rng() % static_cast<unsigned>(H)),
            scaled(1 + static_cast<int>(rng() % 3)), scaled(1 + static_cast<int>(rng() % 3)), 30);

    RasterImage rotated(page);
    rotated.SetBackgroundIndex(255);
    if (skew != 0.0f) rotated.Rotate(skew);
    rotated.Crop(0, 0, W, H);
    rotated.SetBackgroundIndex(-1);  // paper, not a transparent colour
    rotated.SetXDpi(dpi);
    rotated.SetYDpi(dpi);

    if (depth == 24) {
        rotated.IncreaseBpp(24);
        // Tinted paper with a little noise, as a colour scan has.
        for (uint32_t y = 0; y < rotated.GetHeight(); ++y) {
            uint8_t* row = rotated.RowPtr(y);
            for (uint32_t x = 0; x < rotated.GetWidth(); ++x) {
                const int n = static_cast<int>(rng() % 9) - 4;
                uint8_t* p = row + 3 * x;
                auto clamp = [](int v) {
                    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
                };
                p[0] = clamp(p[0] * 230 / 255 + n);
                p[1] = clamp(p[1] * 245 / 255 + n);
                p[2] = clamp(p[2] + n);
            }
        }
        rotated.SetXDpi(dpi);
        rotated.SetYDpi(dpi);
    } else if (depth == 1) {
        rotated.Threshold(128);
        rotated.SetXDpi(dpi);
        rotated.SetYDpi(dpi);
    }
    const uint32_t code = ImageTypeFromExtension(out);
    if (code == kFormatTiff) rotated.SetCodecOption(rotated.GetBpp() == 1 ? 4 : 32773, kFormatTiff);
    if (!rotated.Save(out.c_str(), code)) {
        std::fprintf(stderr, "cannot save %s: %s\n", out.c_str(), rotated.GetLastError());
        return 1;
    }
    return 0;
}
