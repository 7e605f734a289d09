// A one-bit page drawn in code for the layout engine's tests: rows top
// first, padded to 16 pixels, most significant bit leftmost, set bit = ink.
#pragma once

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <vector>

#include "image/raster_image.h"
#include "layout/engine_context.h"
#include "layout/segmentation_internal.h"

namespace sheetmend {

inline void PrintTo(const LayoutBlock& b, std::ostream* os) {
    *os << "[" << b.x0 << ", " << b.y0 << ", " << b.x1 << ", " << b.y1 << "] type " << b.type;
}

namespace layout_internal {
inline void PrintTo(const PageBlock& b, std::ostream* os) {
    *os << "[" << b.x0 << ", " << b.y0 << ", " << b.x1 << ", " << b.y1 << "]"
        << (b.isTable ? " table" : "");
}
inline void PrintTo(const RuleLine& b, std::ostream* os) {
    *os << "[" << b.x0 << ", " << b.y0 << ", " << b.x1 << ", " << b.y1 << "]";
}
inline void PrintTo(const Box& b, std::ostream* os) {
    *os << "[" << b.x0 << ", " << b.y0 << ", " << b.x1 << ", " << b.y1 << "]";
}
}  // namespace layout_internal

}  // namespace sheetmend

namespace sheetmend::testing {

class TestPage {
  public:
    TestPage(int32_t width, int32_t height)
        : width_(width),
          height_(height),
          rowBits_((width + 15) & ~15),
          bits_(static_cast<size_t>(rowBits_ / 8) * height, 0) {}

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    int32_t RowBits() const { return rowBits_; }
    const uint8_t* Rows() const { return bits_.data(); }
    std::vector<uint8_t>& Bytes() { return bits_; }

    void Set(int32_t x, int32_t y) {
        if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
        bits_[static_cast<size_t>(y) * (rowBits_ / 8) + (x >> 3)] |=
            static_cast<uint8_t>(0x80 >> (x & 7));
    }
    bool Get(int32_t x, int32_t y) const {
        return (bits_[static_cast<size_t>(y) * (rowBits_ / 8) + (x >> 3)] >> (7 - (x & 7))) & 1;
    }
    // Inclusive rectangle of ink.
    void Fill(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        for (int32_t y = y0; y <= y1; ++y)
            for (int32_t x = x0; x <= x1; ++x) Set(x, y);
    }
    // A rectangle outline drawn with strokes `t` pixels thick, inside the box.
    void Frame(int32_t x0, int32_t y0, int32_t x1, int32_t y1, int32_t t = 3) {
        Fill(x0, y0, x1, y0 + t - 1);
        Fill(x0, y1 - t + 1, x1, y1);
        Fill(x0, y0, x0 + t - 1, y1);
        Fill(x1 - t + 1, y0, x1, y1);
    }
    // Lines of "words": blobs 30 pixels high, 40 to 110 wide, 20-pixel word
    // gaps, lines 60 pixels apart, inside x0..x1 from y0 on. Returns the last
    // inked row.
    int32_t Text(int32_t x0, int32_t y0, int32_t x1, int32_t lines) {
        int32_t last = y0;
        for (int32_t l = 0; l < lines; ++l) {
            const int32_t top = y0 + 60 * l;
            int32_t x = x0;
            for (int32_t w = 0;; ++w) {
                const int32_t len = 40 + (w * 37 + l * 11) % 71;
                if (x + len > x1) break;
                // Letters: 6-pixel strokes with 4-pixel gaps, all 30 rows.
                for (int32_t c = x; c + 5 < x + len; c += 10) Fill(c, top, c + 5, top + 29);
                x += len + 20;
            }
            last = top + 29;
        }
        return last;
    }
    // Columns of vertical "words": blobs 30 pixels wide, 40 to 110 tall.
    void VerticalText(int32_t x0, int32_t y0, int32_t y1, int32_t columns) {
        for (int32_t c = 0; c < columns; ++c) {
            const int32_t left = x0 + 60 * c;
            int32_t y = y0;
            for (int32_t w = 0;; ++w) {
                const int32_t len = 40 + (w * 29 + c * 13) % 71;
                if (y + len > y1) break;
                for (int32_t r = y; r + 5 < y + len; r += 10) Fill(left, r, left + 29, r + 5);
                y += len + 20;
            }
        }
    }
    // An ordered-dither picture: a grey ramp from light to mid-dark.
    void Halftone(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        static const int kBayer[4][4] = {
            {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
        for (int32_t y = y0; y <= y1; ++y)
            for (int32_t x = x0; x <= x1; ++x) {
                const int level = 3 + 9 * (x - x0) / (x1 - x0 + 1);  // 3..11 of 16
                if (kBayer[y & 3][x & 3] < level) Set(x, y);
            }
    }

    // The page as a 1-bit image, palette 0 white and 1 black, so the row
    // bytes are the page's own (the image keeps its rows bottom-up).
    RasterImage ToImage() const {
        RasterImage img(static_cast<uint32_t>(width_), static_cast<uint32_t>(height_), 1);
        img.SetPaletteColor(0, 255, 255, 255);
        img.SetPaletteColor(1, 0, 0, 0);
        const size_t rowBytes = static_cast<size_t>(rowBits_ / 8);
        const size_t used = static_cast<size_t>((width_ + 7) / 8);
        for (int32_t y = 0; y < height_; ++y) {
            uint8_t* dst = img.GetBits(static_cast<uint32_t>(height_ - 1 - y));
            for (size_t i = 0; i < used; ++i) dst[i] = bits_[y * rowBytes + i];
            if (width_ % 8) dst[used - 1] &= static_cast<uint8_t>(0xFF << (8 - width_ % 8));
        }
        return img;
    }
    // The bounding box of the ink inside `box`, by looking at every pixel.
    layout_internal::Box InkBounds(const layout_internal::Box& box) const {
        layout_internal::Box b{box.x1 + 1, box.y1 + 1, box.x0 - 1, box.y0 - 1};
        for (int32_t y = box.y0; y <= box.y1; ++y)
            for (int32_t x = box.x0; x <= box.x1; ++x)
                if (Get(x, y)) {
                    b.x0 = std::min(b.x0, x);
                    b.y0 = std::min(b.y0, y);
                    b.x1 = std::max(b.x1, x);
                    b.y1 = std::max(b.y1, y);
                }
        return b;
    }

    EngineContext Context() const { return EngineContext(bits_.data(), rowBits_, height_); }

  private:
    int32_t width_, height_, rowBits_;
    std::vector<uint8_t> bits_;
};

}  // namespace sheetmend::testing
