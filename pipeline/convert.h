// The plain conversion: load, apply the conversion options in their fixed
// order, prepare for the output format, save.
#pragma once

#include <cstdint>
#include <string>

#include "options/tool_options.h"

namespace sheetmend {

class RasterImage;

// Checks both extensions, works from a temporary copy when input and output
// are the same file, then ConvertImage. 1 or 0.
int32_t ConvertFile(const ToolOptions& options, const std::string& inputPath,
                    const std::string& outputPath);

// Loads (format detected from the content), converts and saves. 1 or 0.
int32_t ConvertImage(const ToolOptions& options, const std::string& inputPath,
                     const std::string& outputPath);

// The conversion of a page in memory: the conversion options, the external
// deskew step when asked for, and the preparation for format outputCode.
void ConvertPage(const ToolOptions& options, RasterImage& image, uint32_t outputCode);

// Resize, rotate, automatic threshold, fixed threshold, dither, flip, mirror,
// bit depth, in that order. 1, or 0 when the image holds no pixels.
int32_t ApplyConversionOptions(const ToolOptions& options, RasterImage& image);

}  // namespace sheetmend
