#include "image/codecs/tiff_codec.h"

#include "image/streams.h"

namespace sheetmend {

bool TiffImage::Decode(ByteStream*) {
    SetLastError("TiffImage: not available yet");
    return false;
}

bool TiffImage::Encode(ByteStream*) {
    SetLastError("TiffImage: not available yet");
    return false;
}

}  // namespace sheetmend
