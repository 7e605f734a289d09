#include "image/codecs/wbmp_codec.h"

#include "image/streams.h"

namespace sheetmend {

bool WbmpImage::Decode(ByteStream*) {
    SetLastError("WbmpImage: not available yet");
    return false;
}

bool WbmpImage::Encode(ByteStream*) {
    SetLastError("WbmpImage: not available yet");
    return false;
}

}  // namespace sheetmend
