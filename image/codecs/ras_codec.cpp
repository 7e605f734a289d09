// Sun raster: a 32-byte big-endian header (magic 0x59A66A95, width, height,
// depth, length, type, map type, map length), an optional colour map of
// separate red, green and blue arrays, then rows top to bottom padded to 16
// bits. Type 2 compresses the whole raster with a byte run-length code (0x80
// escapes: 0x80 0x00 is one 0x80, 0x80 n v is n + 1 copies of v); type 3
// stores colour pixels red first instead of blue first.
//
// Monochrome rasters without a map paint set bits black; they load with the
// palette {black, white}, so their bits are inverted.
#include "image/codecs/ras_codec.h"

#include <cstring>
#include <vector>

#include "image/codecs/buffered_reader.h"
#include "image/codecs/jasper_codec.h"
#include "image/pixel_access.h"
#include "image/raster_image.h"
#include "image/streams.h"

namespace sheetmend::jasper {

namespace {

constexpr uint32_t kMagic = 0x59A66A95;
constexpr uint32_t kHeaderSize = 32;

uint32_t Be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
void PutBe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

bool Fail(RasterImage& image, const char* text) {
    image.SetLastError(text);
    return false;
}

// Byte source for the raster, plain or run-length encoded, read from the
// stream as it goes; runs may cross row ends.
class RasterReader {
  public:
    RasterReader(BufferedReader& in, bool rle) : in_(in), rle_(rle) {}
    bool Fill(uint8_t* out, size_t count) {
        if (!rle_) return in_.Read(out, count);
        while (count > 0) {
            if (left_ == 0) {
                const int c = in_.Byte();
                if (c < 0) return false;
                if (c != 0x80) {
                    *out++ = static_cast<uint8_t>(c);
                    --count;
                    continue;
                }
                const int n = in_.Byte();
                if (n < 0) return false;
                if (n == 0) {
                    *out++ = 0x80;
                    --count;
                    continue;
                }
                const int v = in_.Byte();
                if (v < 0) return false;
                left_ = static_cast<uint32_t>(n) + 1u;
                value_ = static_cast<uint8_t>(v);
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
    bool rle_;
    uint32_t left_ = 0;
    uint8_t value_ = 0;
};

}  // namespace

bool LooksLikeRas(const uint8_t* head, size_t size) {
    return size >= 4 && Be32(head) == kMagic;
}

bool DecodeRas(RasterImage& image, ByteStream* stream) {
    const int64_t start = stream->Tell();
    const int64_t total = stream->Size();
    uint8_t h[kHeaderSize];
    if (start < 0 || stream->Read(h, 1, kHeaderSize) != kHeaderSize || Be32(h) != kMagic)
        return Fail(image, "Not a Sun raster file");
    const uint32_t width = Be32(h + 4), height = Be32(h + 8), depth = Be32(h + 12);
    const uint32_t type = Be32(h + 20), mapType = Be32(h + 24), mapLength = Be32(h + 28);
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
        return Fail(image, "Sun raster: bad dimensions");
    if (depth != 1 && depth != 8 && depth != 24 && depth != 32)
        return Fail(image, "Sun raster: unsupported depth");
    if (type > 3) return Fail(image, "Sun raster: unsupported raster type");
    if (mapType > 2) return Fail(image, "Sun raster: unsupported colour map type");
    const uint64_t left = static_cast<uint64_t>(total - start) - kHeaderSize;
    if (mapLength > left) return Fail(image, "Sun raster: colour map longer than the file");
    if (mapType == 1 && (mapLength % 3 != 0 || mapLength > 768))
        return Fail(image, "Sun raster: bad colour map");

    const uint64_t rowBytes = (static_cast<uint64_t>(width) * depth + 15) / 16 * 2;
    const uint64_t rasterBytes = rowBytes * height;
    const bool rle = type == 2;
    // A run of the code covers at most 256 bytes in 3 bytes.
    const uint64_t minData = rle ? (rasterBytes + 255) / 256 * 3 : rasterBytes;
    const uint64_t dataLeft = left - mapLength;
    if (minData > dataLeft) return Fail(image, "Sun raster: file shorter than its declared pixels");

    const uint32_t bpp = depth == 1 ? 1 : depth == 8 ? 8 : 24;
    if (!image.Create(width, height, bpp, kFormatRas)) return false;

    std::vector<uint8_t> map(mapLength);
    if (mapLength && stream->Read(map.data(), 1, mapLength) != mapLength)
        return Fail(image, "Sun raster: colour map truncated");
    const uint32_t mapColors = mapType == 1 ? mapLength / 3 : 0;
    bool invertBits = false;
    if (bpp <= 8) {
        if (mapColors > 0) {
            for (uint32_t i = 0; i < mapColors && i < image.GetNumColors(); ++i)
                image.SetPaletteColor(static_cast<uint8_t>(i), map[i], map[mapColors + i],
                                      map[2 * mapColors + i]);
        } else if (bpp == 8) {
            image.SetGrayPalette();
        } else {
            image.SetPaletteColor(0, 0, 0, 0);
            image.SetPaletteColor(1, 255, 255, 255);
            invertBits = true;
        }
    }

    BufferedReader in(stream);
    RasterReader reader(in, rle);
    std::vector<uint8_t> line(static_cast<size_t>(rowBytes));
    const uint32_t used = px::UsedRowBytes(width, bpp);
    const uint8_t lastMask = px::LastByteMask(width, bpp);
    const bool redFirst = type == 3;
    for (uint32_t r = 0; r < height; ++r) {
        if (!reader.Fill(line.data(), line.size()))
            return Fail(image, "Sun raster: pixel data truncated");
        uint8_t* row = image.RowPtr(height - 1 - r);
        if (bpp <= 8) {
            for (uint32_t i = 0; i < used; ++i)
                row[i] = invertBits ? static_cast<uint8_t>(~line[i]) : line[i];
            row[used - 1] &= lastMask;
        } else {
            const uint32_t step = depth / 8;
            const uint32_t skip = depth == 32 ? 1 : 0;  // the pad byte before each pixel
            for (uint32_t x = 0; x < width; ++x) {
                const uint8_t* p = line.data() + static_cast<size_t>(x) * step + skip;
                row[3 * x] = redFirst ? p[2] : p[0];
                row[3 * x + 1] = p[1];
                row[3 * x + 2] = redFirst ? p[0] : p[2];
            }
        }
    }
    return true;
}

bool EncodeRas(RasterImage& image, ByteStream* stream) {
    const uint32_t width = image.GetWidth(), height = image.GetHeight();
    const bool rgb = image.GetBpp() == 24;
    const uint32_t depth = rgb ? 24 : 8;
    const uint32_t rowBytes = (width * depth + 15) / 16 * 2;
    uint8_t h[kHeaderSize];
    PutBe32(h, kMagic);
    PutBe32(h + 4, width);
    PutBe32(h + 8, height);
    PutBe32(h + 12, depth);
    PutBe32(h + 16, rowBytes * height);
    PutBe32(h + 20, 1);
    PutBe32(h + 24, 0);
    PutBe32(h + 28, 0);
    if (stream->Write(h, 1, kHeaderSize) != kHeaderSize)
        return Fail(image, "Sun raster: write error");
    const RgbQuad* pal = image.GetPalette();
    std::vector<uint8_t> line(rowBytes, 0);
    for (uint32_t r = 0; r < height; ++r) {
        const uint8_t* row = image.RowPtr(height - 1 - r);
        if (rgb)
            std::memcpy(line.data(), row, static_cast<size_t>(width) * 3);
        else
            for (uint32_t x = 0; x < width; ++x)
                line[x] = pal[px::GetIndex(row, x, image.GetBpp())].red;
        if (stream->Write(line.data(), 1, rowBytes) != rowBytes)
            return Fail(image, "Sun raster: write error");
    }
    return true;
}

}  // namespace sheetmend::jasper
