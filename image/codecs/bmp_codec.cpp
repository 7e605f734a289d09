// Windows bitmap files: a 14-byte file header ("BM", file size, pixel offset)
// in front of a device-independent bitmap (bmp_dib.cpp).
#include "image/codecs/bmp_codec.h"

#include "image/codecs/bmp_dib.h"
#include "image/codecs/buffered_reader.h"
#include "image/streams.h"

namespace sheetmend {

bool BmpImage::Decode(ByteStream* stream) {
    if (!BeginDecode(stream)) return false;
    BufferedReader in(stream);
    const int64_t start = in.Tell();
    uint8_t head[14];
    if (!in.Read(head, sizeof head) || head[0] != 'B' || head[1] != 'M') {
        SetLastError("BMP: not a bitmap file");
        return false;
    }
    const uint32_t offBits =
        static_cast<uint32_t>(head[10]) | (static_cast<uint32_t>(head[11]) << 8) |
        (static_cast<uint32_t>(head[12]) << 16) | (static_cast<uint32_t>(head[13]) << 24);
    DibSource source;
    source.pixelOffset = offBits ? start + offBits : 0;
    source.type = kFormatBmp;
    source.name = "BMP";
    return ReadDib(*this, in, source);
}

bool BmpImage::Encode(ByteStream* stream) {
    if (!BeginEncode(stream)) return false;
    const uint64_t dibSize = DibWriteSize(*this, false);
    const bool bgra = GetBpp() == 24 && HasAlpha();
    const uint32_t offBits = 14 + 40 + (bgra ? 0 : GetPaletteSize());
    const uint64_t fileSize = 14 + dibSize;
    if (fileSize > 0xFFFFFFFFull) {
        SetLastError("BMP: image too large for a bitmap file");
        return false;
    }
    uint8_t head[14] = {'B', 'M'};
    for (int i = 0; i < 4; ++i) {
        head[2 + i] = static_cast<uint8_t>(fileSize >> (8 * i));
        head[10 + i] = static_cast<uint8_t>(offBits >> (8 * i));
    }
    if (stream->Write(head, 1, sizeof head) != sizeof head || !WriteDib(*this, stream, false)) {
        SetLastError("Error saving BMP file");
        return false;
    }
    return true;
}

}  // namespace sheetmend
