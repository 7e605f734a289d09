#include "image/codecs/mng_codec.h"

#include "image/streams.h"

namespace sheetmend {

bool MngImage::Decode(ByteStream*) {
    SetLastError("MngImage: not available yet");
    return false;
}

bool MngImage::Encode(ByteStream*) {
    SetLastError("MngImage: not available yet");
    return false;
}

}  // namespace sheetmend
