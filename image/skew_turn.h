// Turning a page by a small angle to take out its skew, for "-straighten".
// The page keeps its size, depth, palette, resolution and the rest of its
// bookkeeping; what the turn uncovers gets the page's own paper colour.
//  - 8-bit grey and 24-bit colour pages are sampled linearly, once across
//    and once along the page, as a bilinear turn samples them;
//  - palette pages (4-bit, and 8-bit with a palette other than the grey
//    ramp) take the nearest pixel, so no colour outside the palette appears;
//  - 1-bit pages are turned by three shears (horizontal, vertical,
//    horizontal) that move whole runs of bits through byte operations, so
//    strokes keep their pixels and the page stays 1-bit.
#pragma once

#include <cstdint>

#include "image/raster_image.h"

namespace sheetmend {

// The paper of a page: its colour and, for palette pages, the index that
// shows it.
struct PaperTone {
    RgbQuad colour{255, 255, 255, 0};
    uint8_t index = 0;
};

// The commonest light tone of the page, sampled on a coarse grid: the peak
// of the luminance histogram above its median, and the mean colour (or the
// commonest index) of the samples near it. A 1-bit page's paper is its
// lighter palette entry.
PaperTone EstimatePaper(const RasterImage& page);

// Turns the page about its centre so that lines that descend to the right
// by `skewDegrees` (as the page is shown) come out level. False, with the
// page unchanged and lastError set, when the page is empty or memory runs
// out.
bool TurnToLevel(RasterImage& page, double skewDegrees, const PaperTone& paper);

}  // namespace sheetmend
