#include "image/codecs/jpeg_codec.h"

#include "image/streams.h"

namespace sheetmend {

bool JpegImage::Decode(ByteStream*) {
    SetLastError("JpegImage: not available yet");
    return false;
}

bool JpegImage::Encode(ByteStream*) {
    SetLastError("JpegImage: not available yet");
    return false;
}

}  // namespace sheetmend
