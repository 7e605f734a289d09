// ZSoft PCX files.
#pragma once

#include "image/raster_image.h"

namespace sheetmend {

class ByteStream;

class PcxImage : public RasterImage {
  public:
    PcxImage() : RasterImage(kFormatPcx) {}
    // Reads one image from the stream; false with lastError on any fault.
    bool Decode(ByteStream* stream);
    // Writes this image to the stream; false with lastError on refusal or fault.
    bool Encode(ByteStream* stream);
};

}  // namespace sheetmend
