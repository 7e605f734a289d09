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
    // asked for (0 accepts any of them). The image's type becomes the format
    // found.
    bool Decode(ByteStream* stream, uint32_t code);
    // Writes format `code` (11 to 15). Accepted are 24-bit images and images
    // whose palette is the identity grey ramp; PNM also takes 1-bit black and
    // white images (written as PBM), PGX only grey ones.
    bool Encode(ByteStream* stream, uint32_t code);
};

namespace jasper {

inline constexpr const char* kRgbOrGreyOnly = "JasPer can save only RGB or GrayScale images";

// A palette image whose palette is the identity grey ramp; its grey levels
// are the palette's, i.e. the index itself.
inline bool IsGreyImage(const RasterImage& image) {
    return image.GetBpp() <= 8 && image.IsGrayScale();
}

// A 1-bit image whose two entries are black and white, in either order.
bool IsBlackAndWhite(const RasterImage& image);

}  // namespace jasper

}  // namespace sheetmend
