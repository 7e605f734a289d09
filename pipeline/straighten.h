// "-straighten": measures the skew of the whole page and turns the page
// level when the measurement can be trusted. A step of the page transform,
// so it runs on every page of every input, before the other conversion
// options.
#pragma once

#include "options/tool_options.h"

namespace sheetmend {

class RasterImage;

// Measures the page's skew within +-skewrange degrees (15 when skewrange is
// not above 0) and turns the page by it when the page shows clear text
// lines and the angle is at least 0.05 degrees; otherwise the page stays as
// it is, byte for byte. Prints what it measured and did as a "[Message]"
// line. True unless the turn itself failed.
bool StraightenPage(const ToolOptions& options, RasterImage& page);

}  // namespace sheetmend
