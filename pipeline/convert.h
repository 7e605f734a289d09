// The plain conversion of a page: the conversion options in their fixed
// order, then the preparation for the output format.
#pragma once

#include <cstdint>
#include <string>

#include "options/tool_options.h"

namespace sheetmend {

class RasterImage;

// The conversion of a page in memory: the conversion options, the external
// deskew step when asked for, and the preparation for format outputCode.
void ConvertPage(const ToolOptions& options, RasterImage& image, uint32_t outputCode);

// Resize, rotate, automatic threshold, fixed threshold, dither, flip, mirror,
// bit depth, in that order. 1, or 0 when the image holds no pixels.
int32_t ApplyConversionOptions(const ToolOptions& options, RasterImage& image);

}  // namespace sheetmend
