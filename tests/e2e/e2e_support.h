// Shared pieces of the end-to-end tests: pages drawn in code and saved with
// the image library, and helpers to read back what the program wrote.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "image/formats.h"
#include "image/raster_image.h"
#include "tests/support/external_tools.h"
#include "tests/support/run_program.h"

namespace sheetmend::testing {

// A w x h 24-bit page: white with a dark rectangle in the middle and a
// grey band, at the given resolution.
inline RasterImage DrawColourPage(uint32_t w, uint32_t h, int32_t dpi = 300) {
    RasterImage img(w, h, 24);
    img.SetXDpi(dpi);
    img.SetYDpi(dpi);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            RgbQuad c{255, 255, 255, 0};
            if (x > w / 4 && x < 3 * w / 4 && y > h / 4 && y < 3 * h / 4) c = RgbQuad{40, 30, 20, 0};
            if (y < h / 8) c = RgbQuad{128, 128, 128, 0};
            img.SetPixelColor(static_cast<int32_t>(x), static_cast<int32_t>(y), c);
        }
    return img;
}

// A white w x h 24-bit page at 300 dpi.
inline RasterImage WhitePage(uint32_t w, uint32_t h) {
    RasterImage img(w, h, 24);
    img.Clear(255);
    img.SetXDpi(300);
    img.SetYDpi(300);
    return img;
}

// A 1-bit page (palette black, white) with a black cross.
inline RasterImage DrawBitonalPage(uint32_t w, uint32_t h) {
    RasterImage img(w, h, 1);
    img.SetPaletteColor(0, 0, 0, 0);
    img.SetPaletteColor(1, 255, 255, 255);
    img.Clear(1);
    for (uint32_t x = 0; x < w; ++x) img.SetPixelIndex(static_cast<int32_t>(x), static_cast<int32_t>(h / 2), 0);
    for (uint32_t y = 0; y < h; ++y) img.SetPixelIndex(static_cast<int32_t>(w / 3), static_cast<int32_t>(y), 0);
    return img;
}

// The bounding box of the dark pixels of a page, rows counted from the top.
struct InkBox {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;  // inclusive, top-down
};

inline InkBox InkOf(const RasterImage& img) {
    InkBox b;
    const int h = static_cast<int>(img.GetHeight());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < static_cast<int>(img.GetWidth()); ++x)
            if (img.GetPixelColor(x, h - 1 - y, false).red < 128) {
                b.left = std::min(b.left, x), b.right = std::max(b.right, x);
                b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
            }
    return b;
}

inline void SaveOrFail(RasterImage& img, const std::string& path) {
    RasterImage copy(img);
    ASSERT_TRUE(copy.Save(path.c_str(), ImageTypeFromExtension(path))) << path << ": " << copy.GetLastError();
}

// A page of lines in 80-pixel Liberation Sans (texts in the drawing's
// 8-bit Windows code page), one line every 170 pixels.
inline void DrawTextLines(const std::vector<std::string>& lines, const std::string& path) {
    RasterImage page(1300, 120 + 170 * static_cast<uint32_t>(lines.size()), 24);
    page.Clear(255);
    for (size_t i = 0; i < lines.size(); ++i)
        page.DrawString(60, 160 + 170 * static_cast<int32_t>(i), lines[i].c_str(), {}, "Arial", 80);
    SaveOrFail(page, path);
}

inline RasterImage LoadOrFail(const std::string& path) {
    RasterImage img;
    EXPECT_TRUE(img.Load(path.c_str(), 0)) << path << ": " << img.GetLastError();
    return img;
}

inline bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Lines of text that match the timing line, counted.
inline int TimingLines(const std::string& out) {
    static const std::regex line(R"(\[Message\] Total used (\d+)ms \((\d+\.\d\d)s\)\.\n)");
    int n = 0;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator(); ++it) {
        const long ms = std::stol((*it)[1]);
        char expected[32];
        std::snprintf(expected, sizeof expected, "%.2f", ms * 0.001);
        EXPECT_EQ((*it)[2].str(), expected);
        ++n;
    }
    return n;
}

}  // namespace sheetmend::testing
