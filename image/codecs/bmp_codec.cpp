#include "image/codecs/bmp_codec.h"

#include "image/streams.h"

namespace sheetmend {

bool BmpImage::Decode(ByteStream*) {
    SetLastError("BmpImage: not available yet");
    return false;
}

bool BmpImage::Encode(ByteStream*) {
    SetLastError("BmpImage: not available yet");
    return false;
}

}  // namespace sheetmend
