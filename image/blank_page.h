// Ink share and blank-page detection. An ink pixel is one whose colour has
// a luminance below half (px::Luminance). A page is blank when, with a
// margin band along every edge set aside (scanner edges, staple holes and
// punch marks live there), no ink component inside is larger than a speck
// and the ink inside is no more than a tiny share of it. The band, the
// speck size and the row sampling come from the page's resolution.
#pragma once

#include <cstdint>

namespace sheetmend {

class RasterImage;

struct InkMeasure {
    double ink = 0;  // share of ink pixels inside the margin band, 0..1
    bool blank = false;
};

struct BlankLimits {
    int32_t marginX = 0, marginY = 0;  // the band along the edges, in pixels
    int32_t speckX = 0, speckY = 0;    // a component this wide or tall is no speck
    int32_t rowStep = 1;               // rows sampled by the first count
    double share = 0;                  // the most ink a blank page holds
};

// The limits for a page of this resolution (0 or an absurd value counts as
// 300 dpi): a band of 1/5 inch, specks under 1/20 inch, a share of 1/2000,
// and every (dpi / 20)-th row sampled.
BlankLimits BlankLimitsFor(int32_t xDpi, int32_t yDpi);

// Measures the page. Every sampled row is counted first; a page with more
// than the tiny share of ink there is not blank and its ink is that
// sample's share. Only a nearly empty page is counted whole and its ink
// components labelled.
InkMeasure MeasureInk(const RasterImage& page);

// The ink pixels of columns x0 .. x1 - 1 of stored row `row` (bottom-up,
// as RowPtr), counted a byte or a word at a time.
int64_t CountInkInRow(const RasterImage& page, uint32_t row, int32_t x0, int32_t x1);

}  // namespace sheetmend
