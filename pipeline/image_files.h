// Loading and saving a page by file name for the operations that work on
// whole files (margin trimming and the like). Problems are reported on
// standard error; standard output keeps the operations' own lines.
#pragma once

#include <cstdint>
#include <string>

namespace sheetmend {

class RasterImage;

// The format is taken from the extension, or from the first bytes of the file
// when the extension names none. True when the image holds a page afterwards.
bool LoadImageFile(const std::string& path, RasterImage& image);

// The preparation a page gets before it is saved as format `code` after an
// operation that keeps the page's own codec options: JPEG takes the options
// of the page's own format without greyscale output and at least 24 bits;
// GIF takes at most 8 bits (4-bit pages become 1 bit) and run-length coding
// (as PrepareForOutputFormat); other formats take the page as it is.
void PrepareForFileFormat(RasterImage& image, uint32_t code);

// Saves `image` as format `code`; on failure its lastError says why, also when
// the file could not be created at all (a folder that cannot be written).
bool SaveExplained(RasterImage& image, const std::string& path, uint32_t code);

}  // namespace sheetmend
