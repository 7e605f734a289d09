// Wireless bitmap (WBMP), type 0: a two-byte header of zeros, width and height
// as multi-byte integers, then rows of 1-bit pixels top to bottom, each row
// padded to a whole byte, with 1 for white and 0 for black.
//
// The format has no signature and automatic detection tries it on every file
// the decoders before it refused, so the header is read strictly: type and
// fixed header must be zero, the integers short, minimal and non-zero, and the
// file must hold at least the pixels the header declares. Bytes after them
// (padding some writers add) are ignored.
#include "image/codecs/wbmp_codec.h"

#include <cstring>
#include <vector>

#include "image/pixel_access.h"
#include "image/streams.h"

namespace sheetmend {

namespace {

// Largest side accepted: larger values do not occur in wireless bitmaps, and
// keeping them small makes a random file far less likely to pass.
constexpr uint32_t kMaxSide = 0xFFFF;

// Reads a multi-byte integer (7 bits a byte, high bit set on all but the
// last). Refuses encodings longer than three bytes or with a leading empty
// group, which no writer produces.
bool ReadMultiByte(ByteStream* stream, uint32_t* value) {
    uint32_t v = 0;
    for (int i = 0; i < 3; ++i) {
        const int32_t c = stream->GetC();
        if (c < 0) return false;
        if (i == 0 && c == 0x80) return false;
        v = (v << 7) | (static_cast<uint32_t>(c) & 0x7F);
        if ((c & 0x80) == 0) {
            *value = v;
            return true;
        }
    }
    return false;
}

void PutMultiByte(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = static_cast<uint8_t>(v & 0x7F);
        v >>= 7;
    } while (v != 0);
    while (n > 1) out.push_back(static_cast<uint8_t>(groups[--n] | 0x80));
    out.push_back(groups[0]);
}

}  // namespace

bool WbmpImage::Decode(ByteStream* stream) {
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    const int64_t start = stream->Tell();
    const int64_t total = stream->Size();
    uint32_t type = 1, width = 0, height = 0;
    if (start < 0 || total <= start || !ReadMultiByte(stream, &type) || type != 0 ||
        stream->GetC() != 0 || !ReadMultiByte(stream, &width) || !ReadMultiByte(stream, &height)) {
        SetLastError("Not a WBMP file");
        return false;
    }
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) {
        SetLastError("Not a WBMP file (bad dimensions)");
        return false;
    }
    const uint64_t rowBytes = (width + 7) / 8;
    const uint64_t data = rowBytes * height;
    const int64_t here = stream->Tell();
    if (here < start || static_cast<uint64_t>(total - here) < data) {
        SetLastError("Not a WBMP file (shorter than its dimensions)");
        return false;
    }
    if (!Create(width, height, 1, kFormatWbmp)) return false;
    SetPaletteColor(0, 0, 0, 0);
    SetPaletteColor(1, 255, 255, 255);
    const uint8_t lastMask = px::LastByteMask(width, 1);
    for (uint32_t r = 0; r < height; ++r) {
        uint8_t* row = RowPtr(height - 1 - r);
        if (stream->Read(row, 1, rowBytes) != rowBytes) {
            SetLastError("WBMP: pixel data truncated");
            return false;
        }
        row[rowBytes - 1] &= lastMask;
    }
    return true;
}

bool WbmpImage::Encode(ByteStream* stream) {
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    if (!IsValid() || GetBpp() != 1 || GetWidth() > kMaxSide || GetHeight() > kMaxSide) {
        SetLastError("Can't save this image as WBMP");
        return false;
    }
    std::vector<uint8_t> out = {0, 0};
    PutMultiByte(out, GetWidth());
    PutMultiByte(out, GetHeight());
    // Each palette entry becomes white or black by its luminance; when both
    // land on the same side the picture would vanish, so the lighter entry
    // is white then.
    const RgbQuad p0 = GetPaletteColor(0), p1 = GetPaletteColor(1);
    const uint8_t l0 = px::Luminance(p0.red, p0.green, p0.blue);
    const uint8_t l1 = px::Luminance(p1.red, p1.green, p1.blue);
    bool white1 = l1 >= 128;
    if ((l0 >= 128) == white1) white1 = l1 > l0;
    const uint32_t rowBytes = (GetWidth() + 7) / 8;
    const uint8_t lastMask = px::LastByteMask(GetWidth(), 1);
    for (uint32_t r = 0; r < GetHeight(); ++r) {
        const uint8_t* row = RowPtr(GetHeight() - 1 - r);
        for (uint32_t i = 0; i < rowBytes; ++i) {
            uint8_t b = white1 ? row[i] : static_cast<uint8_t>(~row[i]);
            if (i + 1 == rowBytes) b &= lastMask;
            out.push_back(b);
        }
    }
    if (stream->Write(out.data(), 1, out.size()) != out.size()) {
        SetLastError("WBMP: write error");
        return false;
    }
    return true;
}

}  // namespace sheetmend
