// Reading and writing a device-independent bitmap (info header, palette or
// colour masks, pixels): the body of a BMP file, and of every icon image that
// is not PNG-compressed, where an AND mask follows the pixels.
#pragma once

#include <cstdint>

#include "image/raster_image.h"

namespace sheetmend {

class BufferedReader;
class ByteStream;

struct DibSource {
    // Absolute stream position of the pixels as a BMP file header gives it;
    // 0 when unknown (the pixels then follow the palette).
    int64_t pixelOffset = 0;
    // An icon image: the header's height counts the colour rows and the rows
    // of the 1-bit AND mask that follows them.
    bool icon = false;
    // Format code for the image that is created.
    uint32_t type = kFormatBmp;
    // Name used in messages ("BMP", "ICO").
    const char* name = "BMP";
};

// Reads the DIB that starts at the reader's position into `image` (1, 4, 8 or
// 24 bits; 16- and 32-bit pixels become 24 bits, a used alpha channel or icon
// mask becomes the alpha plane). False with lastError set on any fault.
bool ReadDib(RasterImage& image, BufferedReader& in, const DibSource& source);

// Size in bytes of the DIB that WriteDib writes for `image`.
uint64_t DibWriteSize(const RasterImage& image, bool icon);

// Writes the info header, palette and pixels of `image` as a DIB. A 24-bit
// image with an alpha plane is written with 32-bit pixels (blue, green, red,
// alpha). With `icon`, the header's height is doubled and an AND mask (set
// where alpha is below 128) follows the pixels. False when the stream refuses
// bytes.
bool WriteDib(const RasterImage& image, ByteStream* out, bool icon);

}  // namespace sheetmend
