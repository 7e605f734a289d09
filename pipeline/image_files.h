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

// Saves in the format the extension names, after the preparation that format
// needs: JPEG takes the options of the page's own format without greyscale
// output and at least 24 bits; GIF takes at most 8 bits (4-bit pages become
// 1 bit) and run-length coding (as PrepareForOutputFormat). False, with a
// message, for an unknown extension or a failed save.
bool SaveImageFile(const std::string& path, RasterImage& image);

// The preparation SaveImageFile gives a page for format `code`.
void PrepareForFileFormat(RasterImage& image, uint32_t code);

// Saves `image` as format `code`; on failure its lastError says why, also when
// the file could not be created at all (a folder that cannot be written).
bool SaveExplained(RasterImage& image, const std::string& path, uint32_t code);

}  // namespace sheetmend
