// Netpbm bitmaps, grey maps and pixmaps (P1 to P6, samples up to 16 bits),
// read and written behind JasperImage.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sheetmend {

class ByteStream;
class RasterImage;

namespace jasper {

bool LooksLikePnm(const uint8_t* head, size_t size);
// Reads the first image of a PNM file into `image`; false with lastError.
bool DecodePnm(RasterImage& image, ByteStream* stream);
// Writes P6 for 24-bit images, P5 for grey ones, P4 for black and white.
bool EncodePnm(RasterImage& image, ByteStream* stream);

}  // namespace jasper

}  // namespace sheetmend
