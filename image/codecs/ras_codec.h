// Sun raster files, read and written behind JasperImage.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sheetmend {

class ByteStream;
class RasterImage;

namespace jasper {

bool LooksLikeRas(const uint8_t* head, size_t size);
// Reads 1-, 8-, 24- and 32-bit rasters, plain or run-length encoded, with or
// without a colour map; false with lastError.
bool DecodeRas(RasterImage& image, ByteStream* stream);
// Writes 24-bit images as standard BGR rasters, grey ones as 8-bit rasters.
bool EncodeRas(RasterImage& image, ByteStream* stream);

}  // namespace jasper

}  // namespace sheetmend
