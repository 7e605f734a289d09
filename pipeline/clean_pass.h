// "-clean": the cleaning of a scanned page in one pass, as steps of the
// conversion. Before the user's conversion options the page's border is
// painted paper colour (border_fill.h), a grey or colour page is flattened
// and the page is straightened; after them a black-and-white result loses
// its specks. Each step leaves a page that does not need it as it was, and
// one "[Message]" line per page says what was done.
#pragma once

#include <cstdint>

#include "options/tool_options.h"
#include "pipeline/border_fill.h"

namespace sheetmend {

class RasterImage;

// What the pass did to one page.
struct CleanRecord {
    BorderFill border;
    bool flattened = false;
    bool measured = false;  // the skew could be trusted
    double skewDegrees = 0.0;
    bool turned = false;
    int32_t specks = -1;  // -1: the result was not black and white
    // Whether a step before the user's options changed the page.
    bool Changed() const { return border.Found() || flattened || turned; }
};

// Border removal, flattening (grey and colour pages, unless -flatten runs
// it anyway) and straightening (unless -straighten runs it anyway).
// `beforeOrient` runs the first two, the straightening follows after any
// orientation.
void CleanBeforeOrient(const ToolOptions& options, RasterImage& page, CleanRecord& record);
void CleanStraighten(const ToolOptions& options, RasterImage& page, CleanRecord& record);

// Speck removal of a 1-bit result by the -specklesize rule, then the
// page's "[Message]" line.
void CleanAfterConversion(const ToolOptions& options, RasterImage& page, CleanRecord& record);

}  // namespace sheetmend
