#include "image/codecs/jasper_codec.h"

#include "image/streams.h"

namespace sheetmend {

bool JasperImage::Decode(ByteStream*, uint32_t) {
    SetLastError("JasperImage: not available yet");
    return false;
}

bool JasperImage::Encode(ByteStream*, uint32_t) {
    SetLastError("JasperImage: not available yet");
    return false;
}

}  // namespace sheetmend
