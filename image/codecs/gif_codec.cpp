#include "image/codecs/gif_codec.h"

#include "image/streams.h"

namespace sheetmend {

bool GifImage::Decode(ByteStream*) {
    SetLastError("GifImage: not available yet");
    return false;
}

bool GifImage::Encode(ByteStream*) {
    SetLastError("GifImage: not available yet");
    return false;
}

}  // namespace sheetmend
