#include "image/codecs/ico_codec.h"

#include "image/streams.h"

namespace sheetmend {

bool IcoImage::Decode(ByteStream*) {
    SetLastError("IcoImage: not available yet");
    return false;
}

bool IcoImage::Encode(ByteStream*) {
    SetLastError("IcoImage: not available yet");
    return false;
}

}  // namespace sheetmend
