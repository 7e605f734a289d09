// Camera RAW files through LibRaw (read only).
#pragma once

#include "image/raster_image.h"

namespace sheetmend {

class ByteStream;

class RawImage : public RasterImage {
  public:
    RawImage() : RasterImage(kFormatRaw) {}
    // Reads one image from the stream; false with lastError on any fault.
    bool Decode(ByteStream* stream);
    // Writes this image to the stream; false with lastError on refusal or fault.
    bool Encode(ByteStream* stream);
};

}  // namespace sheetmend
