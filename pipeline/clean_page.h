// The program's own deskew and despeckle of a black-and-white page: the page
// is loaded as a one-bit page bitmap, small specks of ink are erased, the
// skew of its text lines is measured and turned back, and the page is saved
// black and white in the format the output name gives.
#pragma once

#include <cstdint>
#include <string>

#include "layout/page_bitmap.h"

namespace sheetmend {

// Runs the despeckle and/or the deskew on the page of inputPath and saves it
// to outputPath. 0 when neither step is asked for, the page cannot be loaded
// ("[ERROR] Failed to load ..." is printed) or the page could not be saved;
// 1 when the cleaned page was saved. speckleSize 0 or below means 20.
// `adaptive` makes the page black and white by the local threshold.
int32_t CleanPage(const std::string& inputPath, const std::string& outputPath, bool despeckle,
                  int32_t speckleSize, bool deskew, bool adaptive = false);

// The cleaning of a page in memory: the despeckle, then the deskew, each
// when asked for.
void CleanPageBitmap(PageBitmap& page, bool despeckle, int32_t speckleSize, bool deskew);

// Erases every 8-connected ink component of the page rows (rows padded to 16
// pixels) that is a speckle: fewer than speckleSize pixels, none of them but
// the first one found (scanning columns left to right, each top down) in
// the page's outer rows and columns, and spanning, without that first pixel,
// fewer than speckleSize / 2 columns and rows. Components of more than 19900
// pixels are always kept. Pages of 10000 pixels or more in either direction
// are left alone.
void Despeckle(uint8_t* bits, int32_t width, int32_t height, int32_t speckleSize);

// Turns the page by `angle` radians about the middle of its padded rows
// (positive turns rows downward to the right). Each ink pixel is mapped
// forward in 16.16 fixed point; pixels that leave the page are lost and the
// size stays. Angles below 0.0001 or above 0.05 in magnitude do nothing, as
// does a page for which no buffer can be had.
void RotatePage(PageBitmap& bitmap, double angle);

// The row width in bits, the width padded to 16 pixels. Computed from the
// row bytes, so that pages wider than 65520 pixels do not wrap to 0 as a
// 16-bit mask of width + 15 would.
int32_t PaddedRowBits(const PageBitmap& page);

// The destination of source pixel (x, y) of a page of padded width W and
// height H under the rotation, before clipping.
struct RotationMap {
    explicit RotationMap(double angle, int32_t paddedWidth, int32_t height);
    int64_t cos16 = 0, sin16 = 0, offsetX = 0, offsetY = 0;  // 16.16 fixed point
    int32_t X(int32_t x, int32_t y) const {
        return static_cast<int32_t>((x * cos16 - y * sin16 + offsetX) >> 16);
    }
    int32_t Y(int32_t x, int32_t y) const {
        return static_cast<int32_t>((x * sin16 + y * cos16 + offsetY) >> 16);
    }
};

}  // namespace sheetmend
