// Windows icon and cursor files: a directory of images, each a DIB whose
// colour rows are followed by a 1-bit AND mask (transparent where set), or a
// complete PNG file. Reading takes the image `frame` selects (the first by
// default) and reports the directory's count in numFrames; writing makes a
// file holding one icon.
//
// The directory's size of an image is not trusted to be large enough: the
// image's own header (a PNG's chunks, a DIB's dimensions) says how long it
// is. An AND mask that the file ends inside is completed as opaque.
#include "image/codecs/ico_codec.h"

#include <algorithm>
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

uint32_t Be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// The length of an icon image as its own header gives it: `total` bytes in
// all, the colour data ending at `colourEnd` (the AND mask follows it). Both
// 0 when the header does not tell (run-length DIBs, unknown headers, a PNG
// whose chunks run past the file).
struct Extent {
    uint64_t total = 0;
    uint64_t colourEnd = 0;
};

Extent PngExtent(BufferedReader& in, int64_t at, uint64_t available) {
    uint64_t pos = 8;
    uint8_t chunk[8];
    while (pos + 12 <= available) {
        if (!in.SeekTo(at + static_cast<int64_t>(pos)) || !in.Read(chunk, sizeof chunk)) break;
        pos += 12ull + Be32(chunk);
        if (std::memcmp(chunk + 4, "IEND", 4) == 0) {
            if (pos > available) break;
            return Extent{pos, pos};
        }
    }
    return Extent{};
}

// `h` holds the first bytes of the DIB (zeros past those the file has).
Extent DibExtent(const uint8_t* h) {
    const uint32_t headerSize = Le32(h);
    uint64_t width, height;
    uint32_t bitCount, compression = 0, colours = 0;
    const bool core = headerSize == 12;
    if (core) {
        width = static_cast<uint64_t>(h[4] | (h[5] << 8));
        height = static_cast<uint64_t>(h[6] | (h[7] << 8));
        bitCount = static_cast<uint32_t>(h[10] | (h[11] << 8));
    } else if (headerSize >= 16 && headerSize <= 4096) {
        const int32_t w = static_cast<int32_t>(Le32(h + 4));
        const int32_t hh = static_cast<int32_t>(Le32(h + 8));
        if (w <= 0 || hh <= 0) return Extent{};
        width = static_cast<uint64_t>(w);
        height = static_cast<uint64_t>(hh);
        bitCount = static_cast<uint32_t>(h[14] | (h[15] << 8));
        compression = Le32(h + 16);
        colours = Le32(h + 32);
    } else {
        return Extent{};
    }
    height /= 2;  // colour rows, then as many mask rows
    if (width == 0 || height == 0) return Extent{};
    if (bitCount != 1 && bitCount != 2 && bitCount != 4 && bitCount != 8 && bitCount != 16 &&
        bitCount != 24 && bitCount != 32)
        return Extent{};
    // Colour masks follow a header that does not hold them.
    uint64_t masks = 0;
    if (compression == 3 || compression == 6) {
        const bool os2 =
            headerSize <= 64 && headerSize != 40 && headerSize != 52 && headerSize != 56;
        if (os2) return Extent{};
        if (headerSize < 52) masks = compression == 6 ? 16 : 12;
    } else if (compression != 0) {
        return Extent{};
    }
    uint64_t entries = colours;
    if (bitCount <= 8 && (core || colours == 0)) entries = 1ull << bitCount;
    if (entries > 256) return Extent{};
    const uint64_t rowBytes = (width * bitCount + 31) / 32 * 4;
    const uint64_t maskRow = (width + 31) / 32 * 4;
    Extent e;
    e.colourEnd = headerSize + masks + entries * (core ? 3 : 4) + rowBytes * height;
    e.total = e.colourEnd + maskRow * height;
    return e;
}

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
    uint64_t size = Le32(entry + 8);
    const uint32_t offset = Le32(entry + 12);
    const int64_t fileSize = in.StreamSize();
    if (offset < 6 || (fileSize >= 0 && (static_cast<int64_t>(offset) > fileSize - start ||
                                         static_cast<int64_t>(size) > fileSize - start - offset))) {
        SetLastError("ICO: icon image lies outside the file");
        return false;
    }
    // A directory size that is smaller than the image is replaced by the
    // image's own; a mask the file ends inside is padded with zero bits
    // (opaque). Only the bytes the file holds are read.
    uint64_t padded = 0;
    if (fileSize >= 0) {
        const uint64_t available = static_cast<uint64_t>(fileSize - start - offset);
        uint8_t head[124] = {};
        const size_t headBytes = static_cast<size_t>(std::min<uint64_t>(available, sizeof head));
        if (!in.SeekTo(start + offset) || !in.Read(head, headBytes)) {
            SetLastError("ICO: file is truncated");
            return false;
        }
        const bool png = headBytes >= 8 && std::memcmp(head, kPngSignature, 8) == 0;
        if (!png && headBytes >= 4 && Le32(head) < sizeof head)
            std::memset(head + Le32(head), 0, sizeof head - Le32(head));
        const Extent extent = png ? PngExtent(in, start + offset, available) : DibExtent(head);
        if (extent.total > size) {
            if (extent.total <= available) {
                size = extent.total;
            } else if (extent.colourEnd <= available) {
                size = available;
                padded = extent.total;
            }
        }
    }
    if (size < 12) {
        SetLastError("ICO: icon image lies outside the file");
        return false;
    }
    // The image's bytes, which the file has just been shown to hold.
    std::vector<uint8_t> data(static_cast<size_t>(std::max(size, padded)), 0);
    if (!in.SeekTo(start + offset) || !in.Read(data.data(), static_cast<size_t>(size))) {
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
