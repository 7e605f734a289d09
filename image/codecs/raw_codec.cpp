#include "image/codecs/raw_codec.h"

#include "image/streams.h"

namespace sheetmend {

bool RawImage::Decode(ByteStream*) {
    SetLastError("RawImage: not available yet");
    return false;
}

bool RawImage::Encode(ByteStream*) {
    SetLastError("RawImage: not available yet");
    return false;
}

}  // namespace sheetmend
