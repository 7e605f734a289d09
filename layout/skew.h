// Skew detection: measures the slope of the text lines of a one-bit page
// from the boxes of its characters. Rows are scanned top down; the columns
// under ink accumulate stretches that close into character boxes when their
// ink ends; boxes are chained in x order along a text line, and the line's
// slope is fitted through the box centres. The scan ends after two lines.
#pragma once

#include <cstdint>
#include <vector>

#include "layout/engine_context.h"

namespace sheetmend {

// The angle of the text lines in the box (x0, y0, x1, y1) of the context's
// page, in radians; 0 when no line was measured. Rows grow downward, so
// lines that descend to the right give a positive angle. Uses the context's
// pool and releases it before returning; it must not run during a layout
// analysis of the same context.
float DetectSkew(EngineContext& ctx, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// The same on page rows of `rowBits` bits (a multiple of 16), with a context
// of its own.
float DetectSkew(const uint8_t* rows, int32_t rowBits, int32_t height, int32_t x0, int32_t y0,
                 int32_t x1, int32_t y1);

namespace skew_detail {

// One character box: inclusive columns and rows.
struct CharBox {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int32_t Width() const { return x1 - x0 + 1; }
    int32_t Height() const { return y1 - y0 + 1; }
};

// An ink run of a row: first column (relative to the region) and length.
struct InkRun {
    int32_t start = 0;
    int32_t length = 0;
};

// Most runs one row keeps.
constexpr int32_t kMaxRowRuns = 389;

// The ink runs of columns x0..x1 of `row` into `runs` (kMaxRowRuns entries),
// starts relative to x0; returns how many the list holds. Once the list is
// full, further runs overwrite it from its second entry on.
int32_t FindRowRuns(const uint8_t* row, int32_t x0, int32_t x1, InkRun* runs);

// The angle of one chain of boxes that is a text line, with its weight (1,
// or 2 for tightly set small text); weight 0 when the chain is not a line or
// is not measured.
struct LineMeasure {
    double angle = 0;
    int32_t weight = 0;
};
LineMeasure MeasureLine(const std::vector<CharBox>& boxes);

// The running least-squares angle through the points (the box centres).
double FitLineAngle(const std::vector<double>& xs, const std::vector<double>& ys);

}  // namespace skew_detail

}  // namespace sheetmend
