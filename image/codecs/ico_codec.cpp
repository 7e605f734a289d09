// Windows icon and cursor files: a directory of images, each a DIB whose
// colour rows are followed by a 1-bit AND mask (transparent where set), or a
// complete PNG file. Reading takes the image `frame` selects (the first by
// default) and reports the directory's count in numFrames; writing makes a
// file holding one icon.
#include "image/codecs/ico_codec.h"

#include <cstring>
#include <vector>

#include "image/codecs/bmp_dib.h"
#include "image/codecs/buffered_reader.h"
#include "image/codecs/png_codec.h"
#include "image/streams.h"

namespace sheetmend {

namespace {

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void PutLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
    PutLe16(p, v);
    PutLe16(p + 2, v >> 16);
}

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

}  // namespace

bool IcoImage::Decode(ByteStream* stream) {
    if (!BeginDecode(stream)) return false;
    BufferedReader in(stream);
    const int64_t start = in.Tell();
    uint8_t dir[6];
    if (!in.Read(dir, sizeof dir) || dir[0] != 0 || dir[1] != 0 || (dir[2] != 1 && dir[2] != 2) ||
        dir[3] != 0 || (dir[4] == 0 && dir[5] == 0)) {
        SetLastError("ICO: not an icon file");
        return false;
    }
    const uint32_t count = static_cast<uint32_t>(dir[4] | (dir[5] << 8));
    info_.numFrames = static_cast<int32_t>(count);
    const int32_t wanted = info_.frame;
    if (wanted < 0 || static_cast<uint32_t>(wanted) >= count) {
        SetLastError("ICO: the icon image asked for is not in the file");
        return false;
    }
    uint8_t entry[16];
    if (!in.Skip(16ull * static_cast<uint32_t>(wanted)) || !in.Read(entry, sizeof entry)) {
        SetLastError("ICO: file is truncated in the directory");
        return false;
    }
    const uint32_t size = Le32(entry + 8);
    const uint32_t offset = Le32(entry + 12);
    const int64_t fileSize = in.StreamSize();
    if (size < 12 || offset < 6 ||
        (fileSize >= 0 && (static_cast<int64_t>(offset) > fileSize - start ||
                           static_cast<int64_t>(size) > fileSize - start - offset))) {
        SetLastError("ICO: icon image lies outside the file");
        return false;
    }
    // The image's bytes, which the file has just been shown to hold.
    std::vector<uint8_t> data(size);
    if (!in.SeekTo(start + offset) || !in.Read(data.data(), data.size())) {
        SetLastError("ICO: file is truncated");
        return false;
    }
    MemoryStream image(data.data(), data.size());

    if (std::memcmp(data.data(), kPngSignature, 8) == 0) {
        PngImage png;
        png.TakeBookkeeping(*this);
        if (!png.Decode(&image)) {
            SetLastError(png.GetLastError());
            return false;
        }
        Transfer(png, false);
        info_.type = kFormatIco;
        info_.numFrames = static_cast<int32_t>(count);
        return true;
    }

    BufferedReader dib(&image);
    DibSource source;
    source.icon = true;
    source.type = kFormatIco;
    source.name = "ICO";
    if (!ReadDib(*this, dib, source)) return false;
    info_.numFrames = static_cast<int32_t>(count);
    return true;
}

bool IcoImage::Encode(ByteStream* stream) {
    if (!BeginEncode(stream)) return false;
    const uint32_t w = GetWidth(), h = GetHeight();
    if (w > 256 || h > 256) {
        SetLastError("ICO: an icon can be at most 256 x 256 pixels");
        return false;
    }
    const bool bgra = GetBpp() == 24 && HasAlpha();
    const uint64_t dibSize = DibWriteSize(*this, true);
    uint8_t head[22] = {};
    PutLe16(head + 2, 1);  // icon
    PutLe16(head + 4, 1);  // one image
    uint8_t* e = head + 6;
    e[0] = static_cast<uint8_t>(w & 0xFF);  // 256 is written as 0
    e[1] = static_cast<uint8_t>(h & 0xFF);
    e[2] = GetBpp() < 8 ? static_cast<uint8_t>(1u << GetBpp()) : 0;
    PutLe16(e + 4, 1);
    PutLe16(e + 6, bgra ? 32 : GetBpp());
    PutLe32(e + 8, static_cast<uint32_t>(dibSize));
    PutLe32(e + 12, sizeof head);
    if (stream->Write(head, 1, sizeof head) != sizeof head || !WriteDib(*this, stream, true)) {
        SetLastError("Error saving ICO file");
        return false;
    }
    return true;
}

}  // namespace sheetmend
