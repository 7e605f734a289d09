// Whole-page skew measurement for "-straighten". The page is reduced to a
// small black-and-white ink map (1-bit pages by OR-ing blocks, grey and
// colour pages by averaging blocks and comparing each with its local paper
// level), cut into narrow vertical strips, and the strips' row counts are
// summed along candidate slopes. Along the true slope every text line lands
// in a few rows, so the profile is sharpest there; the sharpness is the sum
// of the squared differences of neighbouring rows, which ignores vertical
// strokes, frames and the flat parts of pictures. The slope is searched
// coarsely on a further halved map, then finely about the best coarse peaks,
// and the peak is interpolated. The confidence compares the best sharpness
// with the median one, and a page counts as text only when the best
// profile shows several lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sheetmend {

class RasterImage;

// What the measurement found.
struct PageSkew {
    // The slope of the text lines in degrees: positive when they descend to
    // the right as the page is shown (top row first).
    double degrees = 0.0;
    // Best sharpness over the median sharpness of the coarse search.
    double confidence = 0.0;
    // Text lines seen in the profile taken along the best slope.
    int32_t lines = 0;
    // The angle can be acted on; otherwise `reason` says why not.
    bool trusted = false;
    const char* reason = "";
};

// The search range used when none is given.
inline constexpr double kDefaultSkewRangeDegrees = 15.0;

// An angle as the messages print it ("%.2f"): one that rounds to zero
// shows as 0.00, never as -0.00.
inline double PrintedDegrees(double degrees) {
    return degrees > -0.005 && degrees < 0.005 ? 0.0 : degrees;
}

// Measures the page's skew within +-rangeDegrees (clamped to 0.5 .. 45).
PageSkew MeasurePageSkew(const RasterImage& page, double rangeDegrees);

// A reduced black-and-white copy of a page: rows top first, one byte per
// pixel, 1 = ink.
struct InkMap {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> ink;
    uint8_t At(int32_t x, int32_t y) const {
        return ink[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
};

// The page reduced by `factor` (1 .. 8) in both directions. A 1-bit block is
// ink when any of its pixels is ink (the darker palette entry); a grey or
// colour block is ink when its mean luminance lies well below the paper
// level around it.
InkMap ReducedInkMap(const RasterImage& page, int32_t factor);

}  // namespace sheetmend
