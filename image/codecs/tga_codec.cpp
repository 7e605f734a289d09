#include "image/codecs/tga_codec.h"

#include "image/streams.h"

namespace sheetmend {

bool TgaImage::Decode(ByteStream*) {
    SetLastError("TgaImage: not available yet");
    return false;
}

bool TgaImage::Encode(ByteStream*) {
    SetLastError("TgaImage: not available yet");
    return false;
}

}  // namespace sheetmend
