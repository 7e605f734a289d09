// ZSoft PCX: 1-bit (black and white), 4-bit (packed or as up to four 1-bit planes), 8-bit (with
// the 256-colour palette at the end of the file) and 24-bit (three 8-bit
// planes, a fourth plane read as alpha), run-length encoded. Written at the
// image's own depth: 1 and 4 bits as bit planes, 8 bits with the trailing
// palette, 24 bits as three planes.
#include "image/codecs/pcx_codec.h"

#include <cstring>
#include <vector>

#include "image/codecs/buffered_reader.h"
#include "image/pixel_access.h"
#include "image/streams.h"

namespace sheetmend {

namespace {

constexpr uint32_t kHeaderSize = 128;
constexpr uint32_t kPaletteTail = 769;  // 0x0C and 256 red-green-blue triplets

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
void PutLe16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Run-length decoder whose runs may continue across scanline ends. It reads
// from the stream up to `end`, where the trailing palette (if any) begins.
class RleReader {
  public:
    RleReader(BufferedReader& in, int64_t end, bool rle) : in_(in), end_(end), rle_(rle) {}
    bool Fill(uint8_t* out, size_t count) {
        if (!rle_) {
            if (static_cast<int64_t>(count) > end_ - in_.Tell()) return false;
            return in_.Read(out, count);
        }
        while (count > 0) {
            if (left_ == 0) {
                if (in_.Tell() >= end_) return false;
                const int c = in_.Byte();
                if (c < 0) return false;
                if ((c & 0xC0) == 0xC0) {
                    if (in_.Tell() >= end_) return false;
                    const int v = in_.Byte();
                    if (v < 0) return false;
                    left_ = static_cast<uint32_t>(c) & 0x3Fu;
                    value_ = static_cast<uint8_t>(v);
                    continue;  // a zero-length run is legal and holds nothing
                }
                *out++ = static_cast<uint8_t>(c);
                --count;
                continue;
            }
            const size_t take = left_ < count ? left_ : count;
            std::memset(out, value_, take);
            out += take;
            count -= take;
            left_ -= static_cast<uint32_t>(take);
        }
        return true;
    }

  private:
    BufferedReader& in_;
    int64_t end_;
    bool rle_;
    uint32_t left_ = 0;
    uint8_t value_ = 0;
};

void EncodeRun(std::vector<uint8_t>& out, uint8_t value, uint32_t count) {
    while (count > 0) {
        const uint32_t n = count > 63 ? 63 : count;
        if (n == 1 && value < 0xC0) {
            out.push_back(value);
        } else {
            out.push_back(static_cast<uint8_t>(0xC0 | n));
            out.push_back(value);
        }
        count -= n;
    }
}

void EncodeLine(std::vector<uint8_t>& out, const uint8_t* line, size_t n) {
    size_t i = 0;
    while (i < n) {
        size_t j = i + 1;
        while (j < n && line[j] == line[i]) ++j;
        EncodeRun(out, line[i], static_cast<uint32_t>(j - i));
        i = j;
    }
}

}  // namespace

bool PcxImage::Decode(ByteStream* stream) {
    if (!stream) {
        SetLastError("null file handler");
        return false;
    }
    const int64_t start = stream->Tell();
    const int64_t total = stream->Size();
    uint8_t h[kHeaderSize];
    if (start < 0 || total < start + static_cast<int64_t>(kHeaderSize) ||
        stream->Read(h, 1, kHeaderSize) != kHeaderSize) {
        SetLastError("Not a PCX file (too short)");
        return false;
    }
    const uint64_t available = static_cast<uint64_t>(total - start);
    const uint8_t version = h[1], encoding = h[2], bitsPerPixel = h[3], planes = h[65];
    if (h[0] != 0x0A ||
        (version != 0 && version != 2 && version != 3 && version != 4 && version != 5) ||
        encoding > 1) {
        SetLastError("Not a PCX file");
        return false;
    }
    const uint32_t xMin = Le16(h + 4), yMin = Le16(h + 6), xMax = Le16(h + 8), yMax = Le16(h + 10);
    const uint32_t bytesPerLine = Le16(h + 66);
    if (xMax < xMin || yMax < yMin) {
        SetLastError("PCX: bad image window");
        return false;
    }
    const uint32_t width = xMax - xMin + 1, height = yMax - yMin + 1;

    uint32_t bpp;
    if (bitsPerPixel == 1 && planes == 1)
        bpp = 1;
    else if ((bitsPerPixel == 1 && planes >= 2 && planes <= 4) ||
             (bitsPerPixel == 2 && planes == 1) || (bitsPerPixel == 4 && planes == 1))
        bpp = 4;
    else if (bitsPerPixel == 8 && planes == 1)
        bpp = 8;
    else if (bitsPerPixel == 8 && (planes == 3 || planes == 4))
        bpp = 24;
    else {
        SetLastError("PCX: unsupported combination of bits per pixel and planes");
        return false;
    }
    if (bytesPerLine == 0 ||
        static_cast<uint64_t>(bytesPerLine) * 8 < static_cast<uint64_t>(width) * bitsPerPixel) {
        SetLastError("PCX: bytes per line too small for the width");
        return false;
    }

    // Scanline bytes, and the least and most the encoded data may take.
    const uint64_t lineBytes = static_cast<uint64_t>(bytesPerLine) * planes;
    const uint64_t allBytes = lineBytes * height;
    const uint64_t minData = encoding ? (allBytes + 62) / 63 * 2 : allBytes;
    if (kHeaderSize + minData > available) {
        SetLastError("PCX: file shorter than its declared pixels");
        return false;
    }
    // The trailing 256-colour palette of 8-bit files is read before the
    // pixels so that its bytes are never taken for pixel data.
    uint64_t dataEnd = available;
    uint8_t tail[kPaletteTail];
    bool hasTail = false;
    if (bpp == 8 && available >= kHeaderSize + kPaletteTail) {
        if (stream->Seek(start + static_cast<int64_t>(available - kPaletteTail), SEEK_SET) &&
            stream->Read(tail, 1, kPaletteTail) == kPaletteTail && tail[0] == 0x0C) {
            hasTail = true;
            dataEnd = available - kPaletteTail;
        }
        if (!stream->Seek(start + kHeaderSize, SEEK_SET)) {
            SetLastError("PCX: seek failed");
            return false;
        }
    }

    if (!Create(width, height, bpp, kFormatPcx)) return false;
    const bool withAlpha = bpp == 24 && planes == 4;
    if (withAlpha && !AlphaCreate()) {
        SetLastError("PCX: no memory for the alpha plane");
        return false;
    }
    SetXDpi(Le16(h + 12));
    SetYDpi(Le16(h + 14));

    RgbQuad* pal = GetPalette();
    if (bpp == 1) {
        // Monochrome files are black and white whatever the header palette
        // says; that is how the common readers and writers treat them.
        pal[0] = RgbQuad{0, 0, 0, 0};
        pal[1] = RgbQuad{255, 255, 255, 0};
    } else if (bpp == 4) {
        for (uint32_t i = 0; i < 16; ++i)
            pal[i] = RgbQuad{h[16 + 3 * i + 2], h[16 + 3 * i + 1], h[16 + 3 * i], 0};
    } else if (bpp == 8) {
        if (hasTail) {
            for (uint32_t i = 0; i < 256; ++i)
                pal[i] = RgbQuad{tail[1 + 3 * i + 2], tail[1 + 3 * i + 1], tail[1 + 3 * i], 0};
        } else {
            SetGrayPalette();
        }
    }

    BufferedReader in(stream);
    RleReader reader(in, start + static_cast<int64_t>(dataEnd), encoding != 0);
    std::vector<uint8_t> line(static_cast<size_t>(lineBytes));
    const uint8_t lastMask = px::LastByteMask(width, bpp);
    const uint32_t usedBytes = px::UsedRowBytes(width, bpp);
    for (uint32_t r = 0; r < height; ++r) {
        if (!reader.Fill(line.data(), line.size())) {
            SetLastError("PCX: pixel data truncated");
            return false;
        }
        const uint32_t y = height - 1 - r;
        uint8_t* row = RowPtr(y);
        if (bpp == 1 || (bpp == 4 && bitsPerPixel == 4) || bpp == 8) {
            std::memcpy(row, line.data(), usedBytes);
            row[usedBytes - 1] &= lastMask;
        } else if (bpp == 4 && bitsPerPixel == 2) {
            for (uint32_t x = 0; x < width; ++x)
                px::SetNibble(row, x,
                              static_cast<uint8_t>((line[x >> 2] >> (6 - 2 * (x & 3))) & 3));
        } else if (bpp == 4) {
            for (uint32_t x = 0; x < width; ++x) {
                uint8_t v = 0;
                for (uint32_t p = 0; p < planes; ++p)
                    v |= static_cast<uint8_t>(px::GetBit(line.data() + p * bytesPerLine, x) << p);
                px::SetNibble(row, x, v);
            }
        } else {
            const uint8_t* red = line.data();
            const uint8_t* green = red + bytesPerLine;
            const uint8_t* blue = green + bytesPerLine;
            for (uint32_t x = 0; x < width; ++x) {
                row[3 * x] = blue[x];
                row[3 * x + 1] = green[x];
                row[3 * x + 2] = red[x];
            }
            if (withAlpha)
                std::memcpy(GetAlphaPlane() + static_cast<size_t>(y) * width, blue + bytesPerLine,
                            width);
        }
    }
    return true;
}

bool PcxImage::Encode(ByteStream* stream) {
    if (!BeginEncode(stream)) return false;
    const uint32_t bpp = GetBpp(), width = GetWidth(), height = GetHeight();
    if (width > 0xFFFF || height > 0xFFFF) {
        SetLastError("PCX: image too large for the format");
        return false;
    }
    const uint32_t planes = bpp == 4 ? 4 : bpp == 24 ? 3 : 1;
    const uint32_t bitsPerPixel = bpp == 1 || bpp == 4 ? 1 : 8;
    uint32_t bytesPerLine = (width * bitsPerPixel + 7) / 8;
    bytesPerLine += bytesPerLine & 1;  // the format asks for an even count
    if (bytesPerLine > 0xFFFF) {
        SetLastError("PCX: image too large for the format");
        return false;
    }

    uint8_t h[kHeaderSize] = {};
    h[0] = 0x0A;
    h[1] = 5;
    h[2] = 1;
    h[3] = static_cast<uint8_t>(bitsPerPixel);
    PutLe16(h + 8, width - 1);
    PutLe16(h + 10, height - 1);
    PutLe16(h + 12, GetXDpi() > 0xFFFF ? 0xFFFF : GetXDpi());
    PutLe16(h + 14, GetYDpi() > 0xFFFF ? 0xFFFF : GetYDpi());
    const RgbQuad* pal = GetPalette();
    // A monochrome file is black and white: a set bit is white, so the bits
    // are inverted when entry 0 is the lighter colour.
    bool invert = false;
    if (bpp == 1) {
        invert = px::Luminance(pal[0].red, pal[0].green, pal[0].blue) >
                 px::Luminance(pal[1].red, pal[1].green, pal[1].blue);
        std::memset(h + 19, 255, 3);
    } else if (bpp == 4) {
        for (uint32_t i = 0; i < GetNumColors(); ++i) {
            h[16 + 3 * i] = pal[i].red;
            h[16 + 3 * i + 1] = pal[i].green;
            h[16 + 3 * i + 2] = pal[i].blue;
        }
    }
    h[65] = static_cast<uint8_t>(planes);
    PutLe16(h + 66, bytesPerLine);
    PutLe16(h + 68, bpp == 8 && IsGrayScale() ? 2 : 1);
    if (stream->Write(h, 1, kHeaderSize) != kHeaderSize) {
        SetLastError("PCX: write error");
        return false;
    }

    std::vector<uint8_t> plane(bytesPerLine);
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(bytesPerLine) * planes * 2);
    for (uint32_t r = 0; r < height; ++r) {
        const uint8_t* row = RowPtr(height - 1 - r);
        out.clear();
        for (uint32_t p = 0; p < planes; ++p) {
            std::fill(plane.begin(), plane.end(), 0);
            if (bpp == 1 || bpp == 8) {
                const uint32_t used = px::UsedRowBytes(width, bpp);
                std::memcpy(plane.data(), row, used);
                if (invert) {
                    for (uint32_t i = 0; i < used; ++i) plane[i] = static_cast<uint8_t>(~plane[i]);
                    plane[used - 1] &= px::LastByteMask(width, 1);
                }
            } else if (bpp == 4) {
                for (uint32_t x = 0; x < width; ++x)
                    if ((px::GetNibble(row, x) >> p) & 1) px::SetBit(plane.data(), x, 1);
            } else {
                for (uint32_t x = 0; x < width; ++x) plane[x] = row[3 * x + 2 - p];
            }
            EncodeLine(out, plane.data(), plane.size());
        }
        if (stream->Write(out.data(), 1, out.size()) != out.size()) {
            SetLastError("PCX: write error");
            return false;
        }
    }
    if (bpp == 8) {
        uint8_t tail[kPaletteTail];
        tail[0] = 0x0C;
        for (uint32_t i = 0; i < 256; ++i) {
            tail[1 + 3 * i] = pal[i].red;
            tail[2 + 3 * i] = pal[i].green;
            tail[3 + 3 * i] = pal[i].blue;
        }
        if (stream->Write(tail, 1, kPaletteTail) != kPaletteTail) {
            SetLastError("PCX: write error");
            return false;
        }
    }
    return true;
}

}  // namespace sheetmend
