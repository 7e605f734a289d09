// The codec for JPEG 2000 files and code streams (JP2, JPC, through
// OpenJPEG) and for the small PGX, PNM and Sun raster formats: one entry
// point that recognises all five by their content.
#pragma once

#include "image/raster_image.h"

namespace sheetmend {

class ByteStream;

class JasperImage : public RasterImage {
public:
    explicit JasperImage(uint32_t code = kFormatJp2) : RasterImage(code) {}
    // Recognises JP2, JPC, PGX, PNM and RAS by content; `code` is the format
    // asked for (0 accepts any of them).
    bool Decode(ByteStream* stream, uint32_t code);
    // Writes format `code` (11 to 15).
    bool Encode(ByteStream* stream, uint32_t code);
};

}  // namespace sheetmend
