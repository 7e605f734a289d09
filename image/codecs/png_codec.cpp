#include "image/codecs/png_codec.h"

#include "image/streams.h"

namespace sheetmend {

bool PngImage::Decode(ByteStream*) {
    SetLastError("PngImage: not available yet");
    return false;
}

bool PngImage::Encode(ByteStream*) {
    SetLastError("PngImage: not available yet");
    return false;
}

}  // namespace sheetmend
