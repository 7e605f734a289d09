// Windows icon (ICO) files.
#pragma once

#include "image/raster_image.h"

namespace sheetmend {

class ByteStream;

class IcoImage : public RasterImage {
  public:
    IcoImage() : RasterImage(kFormatIco) {}
    // Reads one image from the stream; false with lastError on any fault.
    bool Decode(ByteStream* stream);
    // Writes this image to the stream; false with lastError on refusal or fault.
    bool Encode(ByteStream* stream);
};

}  // namespace sheetmend
