// PDF output for RasterImage::Encode: the image as a one-page document
// (see image/pdf_writer.h for the codings).
#pragma once

namespace sheetmend {

class ByteStream;
class RasterImage;

// Writes `image` to the stream as a one-page PDF; false with the image's
// lastError set on failure. The image is not changed.
bool EncodePdf(RasterImage& image, ByteStream* stream);

}  // namespace sheetmend
