// Truevision TGA: uncompressed and run-length encoded true-colour,
// colour-mapped and grey images (grey with an alpha byte too), either origin;
// written as 8-bit colour-mapped or 24-bit true colour.
//
// TGA files carry no signature, so automatic detection tries this decoder on
// every file the other decoders refused. The header is therefore checked
// field by field, and the file must be long enough to hold the declared
// pixels, before anything is allocated.
#include "image/codecs/tga_codec.h"

#include <cstring>
#include <vector>

#include "image/codecs/buffered_reader.h"
#include "image/pixel_access.h"
#include "image/streams.h"

namespace sheetmend {

namespace {

constexpr uint32_t kHeaderSize = 18;

struct TgaHeader {
    uint8_t idLength;
    uint8_t colorMapType;
    uint8_t imageType;
    uint16_t mapFirst;
    uint16_t mapLength;
    uint8_t mapDepth;
    uint16_t xOrigin;
    uint16_t yOrigin;
    uint16_t width;
    uint16_t height;
    uint8_t pixelDepth;
    uint8_t descriptor;
};

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
void PutLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

TgaHeader ParseHeader(const uint8_t* b) {
    TgaHeader h;
    h.idLength = b[0];
    h.colorMapType = b[1];
    h.imageType = b[2];
    h.mapFirst = Le16(b + 3);
    h.mapLength = Le16(b + 5);
    h.mapDepth = b[7];
    h.xOrigin = Le16(b + 8);
    h.yOrigin = Le16(b + 10);
    h.width = Le16(b + 12);
    h.height = Le16(b + 14);
    h.pixelDepth = b[16];
    h.descriptor = b[17];
    return h;
}

bool IsColorMapped(uint8_t type) {
    return type == 1 || type == 9;
}
bool IsTrueColor(uint8_t type) {
    return type == 2 || type == 10;
}
bool IsGrey(uint8_t type) {
    return type == 3 || type == 11;
}
bool IsRle(uint8_t type) {
    return type >= 9;
}

// Returns nullptr when the header describes a TGA this decoder can read, or
// the reason it cannot.
const char* CheckHeader(const TgaHeader& h) {
    if (h.colorMapType > 1) return "Not a TGA file (bad colour map type)";
    if (!IsColorMapped(h.imageType) && !IsTrueColor(h.imageType) && !IsGrey(h.imageType))
        return "Not a TGA file (unsupported image type)";
    if (h.width == 0 || h.height == 0) return "Not a TGA file (zero width or height)";
    if (h.descriptor & 0xC0) return "Not a TGA file (interleaved rows are not supported)";
    if ((h.descriptor & 0x0F) > 8) return "Not a TGA file (bad attribute bits)";
    if (h.colorMapType == 1) {
        if (h.mapLength == 0) return "Not a TGA file (empty colour map)";
        if (h.mapDepth != 15 && h.mapDepth != 16 && h.mapDepth != 24 && h.mapDepth != 32)
            return "Not a TGA file (bad colour map depth)";
    }
    if (IsColorMapped(h.imageType)) {
        if (h.colorMapType != 1) return "Not a TGA file (colour-mapped image without a map)";
        if (h.pixelDepth != 8) return "TGA: only 8-bit colour-mapped images are supported";
    } else if (IsTrueColor(h.imageType)) {
        if (h.pixelDepth != 15 && h.pixelDepth != 16 && h.pixelDepth != 24 && h.pixelDepth != 32)
            return "Not a TGA file (bad pixel depth)";
    } else if (h.pixelDepth == 16) {
        // A grey byte and an alpha byte; the attribute bits must say so (or
        // be 0, the alpha byte then being unused).
        const uint32_t attributes = h.descriptor & 0x0F;
        if (attributes != 8 && attributes != 0) return "TGA: 16-bit grey images need 8 alpha bits";
    } else if (h.pixelDepth != 8) {
        return "TGA: only 8-bit grey images are supported";
    }
    return nullptr;
}

// Unpacks one stored pixel (1 to 4 bytes) into blue, green, red, alpha.
inline void UnpackColor(const uint8_t* p, uint32_t bytes, uint8_t out[4]) {
    if (bytes >= 3) {
        out[0] = p[0];
        out[1] = p[1];
        out[2] = p[2];
        out[3] = bytes == 4 ? p[3] : 255;
    } else {
        // 5-5-5 with the top bit as attribute; each channel widened to 8 bits
        // by repeating its high bits, so 31 becomes 255.
        const uint32_t v = Le16(p);
        const uint32_t r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
        out[0] = static_cast<uint8_t>((b << 3) | (b >> 2));
        out[1] = static_cast<uint8_t>((g << 3) | (g >> 2));
        out[2] = static_cast<uint8_t>((r << 3) | (r >> 2));
        out[3] = 255;
    }
}

// Pixel source over the (possibly run-length encoded) pixel data, read from
// the stream as it goes. Packets may run across row ends, so the packet
// state lives across calls.
class PixelReader {
  public:
    PixelReader(BufferedReader& in, uint32_t bytesPerPixel, bool rle)
        : in_(in), bpp_(bytesPerPixel), rle_(rle) {}

    // Copies the next `count` stored pixels to `out`; false when the data ends.
    bool Next(uint8_t* out, uint32_t count) {
        if (!rle_) return in_.Read(out, static_cast<size_t>(count) * bpp_);
        while (count > 0) {
            if (left_ == 0) {
                const int head = in_.Byte();
                if (head < 0) return false;
                left_ = (head & 0x7F) + 1u;
                repeat_ = (head & 0x80) != 0;
                if (repeat_ && !in_.Read(value_, bpp_)) return false;
            }
            const uint32_t take = left_ < count ? left_ : count;
            if (repeat_) {
                for (uint32_t i = 0; i < take; ++i, out += bpp_) std::memcpy(out, value_, bpp_);
            } else {
                const size_t n = static_cast<size_t>(take) * bpp_;
                if (!in_.Read(out, n)) return false;
                out += n;
            }
            left_ -= take;
            count -= take;
        }
        return true;
    }

  private:
    BufferedReader& in_;
    uint32_t bpp_;
    bool rle_;
    uint32_t left_ = 0;
    bool repeat_ = false;
    uint8_t value_[4] = {};
};

}  // namespace

bool TgaImage::Decode(ByteStream* stream) {
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    const int64_t start = stream->Tell();
    const int64_t total = stream->Size();
    if (start < 0 || total < start + static_cast<int64_t>(kHeaderSize)) {
        SetLastError("Not a TGA file (too short)");
        return false;
    }
    const uint64_t available = static_cast<uint64_t>(total - start);
    uint8_t raw[kHeaderSize];
    if (stream->Read(raw, 1, kHeaderSize) != kHeaderSize) {
        SetLastError("Not a TGA file (too short)");
        return false;
    }
    const TgaHeader h = ParseHeader(raw);
    if (const char* why = CheckHeader(h)) {
        SetLastError(why);
        return false;
    }

    const uint32_t mapEntryBytes = h.colorMapType ? (h.mapDepth + 7u) / 8u : 0;
    const uint64_t mapBytes = static_cast<uint64_t>(h.mapLength) * mapEntryBytes;
    const uint32_t pixelBytes = (h.pixelDepth + 7u) / 8u;
    const uint64_t pixels = static_cast<uint64_t>(h.width) * h.height;
    const uint64_t dataStart = kHeaderSize + h.idLength + mapBytes;
    // The least the pixel data can take: one full run packet per 128 pixels
    // for run-length data.
    const uint64_t minData =
        IsRle(h.imageType) ? (pixels + 127) / 128 * (1 + pixelBytes) : pixels * pixelBytes;
    if (dataStart + minData > available) {
        SetLastError("Not a TGA file (shorter than its declared pixels)");
        return false;
    }

    const uint32_t bpp = IsTrueColor(h.imageType) ? 24 : 8;
    const bool greyAlpha = IsGrey(h.imageType) && h.pixelDepth == 16;
    const bool withAlpha = (h.pixelDepth == 32 || greyAlpha) && (h.descriptor & 0x0F) != 0;
    if (!Create(h.width, h.height, bpp, kFormatTga)) return false;
    if (withAlpha && !AlphaCreate()) {
        SetLastError("TGA: no memory for the alpha plane");
        return false;
    }

    // Skip the identification field, read the colour map.
    if (!stream->Seek(start + kHeaderSize + h.idLength, SEEK_SET)) {
        SetLastError("TGA: seek failed");
        return false;
    }
    if (h.colorMapType) {
        std::vector<uint8_t> map(static_cast<size_t>(mapBytes));
        if (stream->Read(map.data(), 1, map.size()) != map.size()) {
            SetLastError("TGA: colour map truncated");
            return false;
        }
        if (IsColorMapped(h.imageType)) {
            // Entry k of the map is pixel value mapFirst + k; values the map
            // does not cover stay black.
            RgbQuad* pal = GetPalette();
            for (uint32_t k = 0; k < h.mapLength && h.mapFirst + k < 256u; ++k) {
                uint8_t c[4];
                UnpackColor(map.data() + static_cast<size_t>(k) * mapEntryBytes, mapEntryBytes, c);
                pal[h.mapFirst + k] = RgbQuad{c[0], c[1], c[2], 0};
            }
        }
    }
    if (IsGrey(h.imageType)) SetGrayPalette();

    BufferedReader in(stream);
    PixelReader reader(in, pixelBytes, IsRle(h.imageType));
    const bool topDown = (h.descriptor & 0x20) != 0;
    const bool rightToLeft = (h.descriptor & 0x10) != 0;
    const uint32_t width = h.width;
    std::vector<uint8_t> line(static_cast<size_t>(width) * pixelBytes);
    for (uint32_t r = 0; r < h.height; ++r) {
        if (!reader.Next(line.data(), width)) {
            SetLastError("TGA: pixel data truncated");
            return false;
        }
        const uint32_t y = topDown ? h.height - 1 - r : r;
        uint8_t* row = RowPtr(y);
        uint8_t* alphaRow = withAlpha ? GetAlphaPlane() + static_cast<size_t>(y) * width : nullptr;
        for (uint32_t i = 0; i < width; ++i) {
            const uint32_t x = rightToLeft ? width - 1 - i : i;
            const uint8_t* p = line.data() + static_cast<size_t>(i) * pixelBytes;
            if (bpp == 8) {
                row[x] = p[0];
                if (alphaRow) alphaRow[x] = p[1];
            } else {
                uint8_t c[4];
                UnpackColor(p, pixelBytes, c);
                std::memcpy(row + 3 * x, c, 3);
                if (alphaRow) alphaRow[x] = c[3];
            }
        }
    }
    return true;
}

bool TgaImage::Encode(ByteStream* stream) {
    if (!BeginEncode(stream)) return false;
    const uint32_t bpp = GetBpp();
    if (bpp != 8 && bpp != 24) {
        SetLastError("Bit depth must be 8 or 24");
        return false;
    }
    if (GetWidth() > 0xFFFF || GetHeight() > 0xFFFF) {
        SetLastError("TGA: image too large for the format");
        return false;
    }
    uint8_t head[kHeaderSize] = {};
    head[1] = bpp == 8 ? 1 : 0;
    head[2] = bpp == 8 ? 1 : 2;
    if (bpp == 8) {
        PutLe16(head + 5, 256);
        head[7] = 24;
    }
    PutLe16(head + 12, GetWidth());
    PutLe16(head + 14, GetHeight());
    head[16] = static_cast<uint8_t>(bpp);
    head[17] = 0;  // bottom-left origin: rows go out in the order they are stored
    bool ok = stream->Write(head, 1, kHeaderSize) == kHeaderSize;
    if (ok && bpp == 8) {
        uint8_t map[256 * 3];
        const RgbQuad* pal = GetPalette();
        for (uint32_t i = 0; i < 256; ++i) {
            map[3 * i] = pal[i].blue;
            map[3 * i + 1] = pal[i].green;
            map[3 * i + 2] = pal[i].red;
        }
        ok = stream->Write(map, 1, sizeof map) == sizeof map;
    }
    const size_t rowBytes = static_cast<size_t>(GetWidth()) * (bpp / 8);
    for (uint32_t y = 0; ok && y < GetHeight(); ++y)
        ok = stream->Write(RowPtr(y), 1, rowBytes) == rowBytes;
    if (!ok) SetLastError("TGA: write error");
    return ok;
}

}  // namespace sheetmend
