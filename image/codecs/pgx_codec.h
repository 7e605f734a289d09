// PGX, the one-component test format of JPEG 2000, read and written behind
// JasperImage.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sheetmend {

class ByteStream;
class RasterImage;

namespace jasper {

bool LooksLikePgx(const uint8_t* head, size_t size);
// Reads a PGX file (1 to 16 bits, signed or unsigned, either byte order) into
// an 8-bit grey image; false with lastError.
bool DecodePgx(RasterImage& image, ByteStream* stream);
// Writes a grey image as unsigned 8-bit big-endian PGX.
bool EncodePgx(RasterImage& image, ByteStream* stream);

}  // namespace jasper

}  // namespace sheetmend
