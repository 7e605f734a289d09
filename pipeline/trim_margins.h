// Margin trimming: cuts away the solid margins of one colour around a page.
#pragma once

#include <cstdint>
#include <string>

#include "image/raster_image.h"
#include "options/tool_options.h"

namespace sheetmend {

// Finds the margins of `image` and puts the page inside them, cut at the
// page's own depth and resolution, into `result`; `image` keeps its pixels.
// The margins are those of the page made black and white (by the automatic
// threshold of an 8-bit page, else by the nearest of black and white).
// Prints the location line (and the threshold line when a threshold is
// found). False when no margin could be located or the crop failed.
bool LocateBorderAndCrop(const ToolOptions& options, RasterImage& image, RasterImage& result,
                         ColorRef colour);

// How many pixels differing from the margin colour make a row (a column) part
// of the page, from the -fuzz percentage: (100 - fuzz) % of the row's width
// (the column's height); a fuzz below 0, above 100 or not a number counts as
// 80. Never below 1: a row that matches the margin colour throughout is
// always margin.
struct MarginLimits {
    int32_t row = 1;
    int32_t column = 1;
};
MarginLimits MarginLimitsFor(double fuzz, uint32_t width, uint32_t height);

// Edges as top-down rows and columns: the first page row from the top, the
// first page row from the bottom, and the same for columns; an edge that no
// row or column qualifies for keeps 0 (left, top) or the width/height (right,
// bottom).
struct MarginEdges {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// The search on an image of any depth. 1-bit pages are counted a row of
// bytes at a time; other depths go through the pixel accessors.
MarginEdges FindMarginEdges(const RasterImage& image, ColorRef colour, MarginLimits limits);

// The same search through GetPixelColor alone: the definition the fast path
// must agree with.
MarginEdges FindMarginEdgesByPixel(const RasterImage& image, ColorRef colour, MarginLimits limits);

// The search on the page as it would be made black and white, by
// Threshold(level) when level > 0 and then DecreaseBpp to 1 bit, without
// converting the whole page: only strips along the margins are cut and
// converted. A 1-bit page is searched as it is. Crop moves the page's
// progress counter; its pixels stay.
MarginEdges FindMarginEdgesInStrips(RasterImage& image, ColorRef colour, MarginLimits limits,
                                    int32_t level);

}  // namespace sheetmend
