// GIF files: LZW-coded palette images, with interlacing and transparency.
#pragma once

#include "image/raster_image.h"

namespace sheetmend {

class ByteStream;

class GifImage : public RasterImage {
  public:
    GifImage() : RasterImage(kFormatGif) {}
    // Reads the frame `frame` selects (the first by default) onto the logical
    // screen and counts the file's frames in numFrames. With
    // SetGetAllFrames(true) every frame is also kept as an owned frame image.
    // False with lastError on any fault.
    bool Decode(ByteStream* stream);
    // Writes this palette image (or, when it owns frame images, those frames
    // as an animation) with the coder the GIF codec option selects: 1 one code
    // per pixel, 2 run-length, anything else LZW. False with lastError on
    // refusal or fault.
    bool Encode(ByteStream* stream);

    void SetGetAllFrames(bool all) { info_.getAllFrames = all; }
    // Frame timing of an animation, in hundredths of a second, and what a
    // viewer does with the frame before the next one (0..7).
    void SetFrameDelay(uint32_t delay) { info_.frameDelay = delay; }
    void SetDisposalMethod(uint8_t method) { info_.disposalMethod = method; }
};

}  // namespace sheetmend
