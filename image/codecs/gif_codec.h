// GIF files: LZW-coded palette images, with interlacing and transparency.
#pragma once

#include "image/raster_image.h"

namespace sheetmend {

class ByteStream;

class GifImage : public RasterImage {
public:
    GifImage() : RasterImage(kFormatGif) {}
    // Reads one image from the stream; false with lastError on any fault.
    bool Decode(ByteStream* stream);
    // Writes this image to the stream; false with lastError on refusal or fault.
    bool Encode(ByteStream* stream);
};

}  // namespace sheetmend
