// Format codes from file names and file contents, and the list of file
// extensions the conversion pipeline accepts. Loading, saving, decoding and
// encoding are RasterImage members (Load, Save, Decode, Encode).
#pragma once

#include <cstdint>
#include <string_view>

namespace sheetmend {

// The extension (last dot of the name, case ignored) mapped to a format code;
// 0 when it names no format.
uint32_t ImageTypeFromExtension(std::string_view fileName);

// The format from the first 10 bytes of the file: TIFF ("II"/"MM"), PNG or
// JPEG; 0 for anything else, a shorter file or one that cannot be read.
uint32_t ImageTypeFromContent(const char* fileName);

// Extensions the conversion accepts for input and output, with the dot, case
// ignored: .tif .tiff .jpg .jpeg .png .bmp .tga .pcx .gif .mng .pnm .pbm .pgm .ppm
bool IsSupportedImageExtension(std::string_view extension);
bool HasSupportedImageExtension(std::string_view fileName);
// The same for output, where .pdf is accepted as well (PDF is written, never
// read).
bool IsSupportedOutputExtension(std::string_view extension);
bool HasSupportedOutputExtension(std::string_view fileName);

class RasterImage;

// Gets an image ready to be saved as format `code`: TIFF compression by
// depth (Group 4 for 1 bit, else PackBits), JPEG options taken from the
// image's own format with greyscale output cleared and the image raised to 24
// bits, GIF depth lowered to 1 or 8 bits with run-length coding. Returns 1.
int32_t PrepareForOutputFormat(RasterImage& image, uint32_t code);

}  // namespace sheetmend
