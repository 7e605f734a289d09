// JPEG 2000 files (JP2) and code streams (J2K/JPC) through OpenJPEG, behind
// JasperImage.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sheetmend {

class ByteStream;
class RasterImage;

namespace jasper {

bool LooksLikeJp2(const uint8_t* head, size_t size);
bool LooksLikeJpc(const uint8_t* head, size_t size);
// Decodes a JP2 file (`codeStream` false) or a bare code stream into an
// 8-bit grey or 24-bit image (with alpha when the file has an alpha
// channel); false with lastError.
bool DecodeJpeg2000(RasterImage& image, ByteStream* stream, bool codeStream);
// Writes a 24-bit or grey image losslessly (reversible 5/3 wavelet).
bool EncodeJpeg2000(RasterImage& image, ByteStream* stream, bool codeStream);

}  // namespace jasper

}  // namespace sheetmend
