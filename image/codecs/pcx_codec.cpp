#include "image/codecs/pcx_codec.h"

#include "image/streams.h"

namespace sheetmend {

bool PcxImage::Decode(ByteStream*) {
    SetLastError("PcxImage: not available yet");
    return false;
}

bool PcxImage::Encode(ByteStream*) {
    SetLastError("PcxImage: not available yet");
    return false;
}

}  // namespace sheetmend
