// JPEG files through libjpeg (the 6b interface of libjpeg-turbo).
#pragma once

#include "image/raster_image.h"

namespace sheetmend {

class ByteStream;

class JpegImage : public RasterImage {
  public:
    JpegImage() : RasterImage(kFormatJpeg) {}
    // Reads one image from the stream; false with lastError on any fault.
    bool Decode(ByteStream* stream);
    // Writes this image to the stream; false with lastError on refusal or fault.
    bool Encode(ByteStream* stream);
};

}  // namespace sheetmend
