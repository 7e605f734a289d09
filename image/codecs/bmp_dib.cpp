// Device-independent bitmaps as files hold them. Reading accepts the Windows
// headers (40, 52, 56, 108 and 124 bytes), the OS/2 headers (12 bytes with
// 3-byte palette entries, and the 16- to 64-byte second version), 1, 2, 4, 8,
// 16, 24 and 32 bits per pixel, RLE8 and RLE4 compression, colour masks
// (bit fields) and top-down row order. Everything a header claims is checked
// against the data the file holds before the image is created; pixel data that
// stops early is an error, and indices beyond a short palette show the black
// that the unused palette entries hold.
#include "image/codecs/bmp_dib.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "image/codecs/buffered_reader.h"
#include "image/pixel_access.h"
#include "image/streams.h"

namespace sheetmend {

namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;
constexpr uint32_t kBiJpeg = 4;
constexpr uint32_t kBiPng = 5;
constexpr uint32_t kBiAlphaBitfields = 6;

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

int32_t DpiFromPelsPerMeter(int32_t ppm) {
    if (ppm <= 0) return 0;  // unknown: SetXDpi makes it 96
    return static_cast<int32_t>(static_cast<double>(ppm) * 0.0254 + 0.5);
}

// One colour channel given by a mask. A channel of up to 8 bits is widened by
// repeating its bits (5 bits abcde become abcdeabc), which maps 0 to 0 and
// the largest value to 255; wider or scattered masks are scaled with rounding.
struct Channel {
    uint32_t mask = 0;
    uint32_t shift = 0;
    uint32_t max = 0;
    int bits = 0;  // width of a contiguous mask of at most 8 bits, else 0
    explicit Channel(uint32_t m = 0) : mask(m) {
        if (!m) return;
        shift = static_cast<uint32_t>(__builtin_ctz(m));
        max = m >> shift;
        if ((max & (max + 1)) == 0 && max <= 0xFF) bits = __builtin_popcount(max);
    }
    uint8_t Get(uint32_t pixel) const {
        if (!max) return 0;
        const uint32_t v = (pixel & mask) >> shift;
        if (bits) {
            uint32_t out = 0;
            for (int filled = 0; filled < 8; filled += bits) out = (out << bits) | v;
            return static_cast<uint8_t>(out >> (((8 + bits - 1) / bits) * bits - 8));
        }
        return static_cast<uint8_t>((static_cast<uint64_t>(v) * 255 + max / 2) / max);
    }
};

class DibReader {
  public:
    DibReader(RasterImage& image, BufferedReader& in, const DibSource& source)
        : img_(image), in_(in), src_(source) {}

    bool Run();

  private:
    bool Fail(const char* what) {
        std::string text = std::string(src_.name) + ": " + what;
        img_.SetLastError(text.c_str());
        return false;
    }
    bool ReadHeader();
    bool ReadUncompressed();
    bool ReadTwoBit();
    bool ReadMasked();
    bool ReadRle();
    bool ReadIconMask();
    // Image row that the n-th row of the file lands on.
    uint32_t TargetRow(uint32_t fileRow) const {
        return topDown_ ? height_ - 1 - fileRow : fileRow;
    }
    // Marks pixel (x, y) with alpha a, creating the plane (all zero so far)
    // when the first non-zero alpha turns up.
    void NoteAlpha(uint32_t x, uint32_t y, uint8_t a) {
        if (!alpha_) {
            if (a == 0) return;
            if (!img_.AlphaCreate()) return;
            alpha_ = img_.GetAlphaPlane();
            std::memset(alpha_, 0, static_cast<size_t>(width_) * height_);
        }
        alpha_[static_cast<size_t>(y) * width_ + x] = a;
    }

    RasterImage& img_;
    BufferedReader& in_;
    const DibSource& src_;

    int64_t headerStart_ = 0;
    uint32_t headerSize_ = 0;
    bool core_ = false;  // 12-byte OS/2 header: 3-byte palette entries
    bool os2v2_ = false;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    bool topDown_ = false;
    uint32_t bitCount_ = 0;
    uint32_t compression_ = 0;
    int32_t xPels_ = 0, yPels_ = 0;
    uint32_t clrUsed_ = 0;
    uint32_t masks_[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    bool headerHasMasks_ = false;
    int64_t pixelStart_ = 0;
    uint8_t* alpha_ = nullptr;
};

bool DibReader::ReadHeader() {
    headerStart_ = in_.Tell();
    uint8_t h[124] = {};
    if (!in_.Read(h, 4)) return Fail("file is truncated");
    headerSize_ = Le32(h);
    if (headerSize_ == 12) {
        core_ = true;
        if (!in_.Read(h + 4, 8)) return Fail("file is truncated");
        width_ = Le16(h + 4);
        const uint16_t height = Le16(h + 6);
        height_ = height;
        bitCount_ = Le16(h + 10);
        compression_ = kBiRgb;
    } else if (headerSize_ >= 16 && headerSize_ <= 4096) {
        const uint32_t known = std::min<uint32_t>(headerSize_, sizeof h);
        if (!in_.Read(h + 4, known - 4)) return Fail("file is truncated");
        if (headerSize_ > known && !in_.Skip(headerSize_ - known)) return Fail("file is truncated");
        os2v2_ = headerSize_ <= 64 && headerSize_ != 40 && headerSize_ != 52 && headerSize_ != 56;
        const int32_t w = static_cast<int32_t>(Le32(h + 4));
        const int32_t hh = static_cast<int32_t>(Le32(h + 8));
        if (w <= 0 || hh == 0 || hh == INT32_MIN) return Fail("bad image dimensions");
        width_ = static_cast<uint32_t>(w);
        topDown_ = hh < 0;
        height_ = static_cast<uint32_t>(topDown_ ? -hh : hh);
        bitCount_ = Le16(h + 14);
        compression_ = Le32(h + 16);
        xPels_ = static_cast<int32_t>(Le32(h + 24));
        yPels_ = static_cast<int32_t>(Le32(h + 28));
        clrUsed_ = Le32(h + 32);
        if (!os2v2_ && headerSize_ >= 52) {
            headerHasMasks_ = true;
            masks_[0] = Le32(h + 40);
            masks_[1] = Le32(h + 44);
            masks_[2] = Le32(h + 48);
            if (headerSize_ >= 56) masks_[3] = Le32(h + 52);
        }
    } else {
        return Fail("unknown bitmap header size");
    }

    if (src_.icon) {
        if (topDown_) return Fail("bad image dimensions");
        height_ /= 2;
    }
    if (width_ == 0 || height_ == 0) return Fail("bad image dimensions");

    switch (bitCount_) {
        case 1:
        case 2:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        default:
            return Fail("unsupported number of bits per pixel");
    }
    if (os2v2_ && (compression_ == 3 || compression_ == 4))
        return Fail("OS/2 Huffman and RLE24 compression are not supported");
    switch (compression_) {
        case kBiRgb:
            break;
        case kBiRle8:
            if (bitCount_ != 8) return Fail("RLE8 compression needs 8 bits per pixel");
            break;
        case kBiRle4:
            if (bitCount_ != 4) return Fail("RLE4 compression needs 4 bits per pixel");
            break;
        case kBiBitfields:
        case kBiAlphaBitfields:
            if (bitCount_ != 16 && bitCount_ != 32)
                return Fail("colour masks need 16 or 32 bits per pixel");
            break;
        case kBiJpeg:
        case kBiPng:
            return Fail("JPEG and PNG compressed bitmaps are not supported");
        default:
            return Fail("unsupported compression");
    }
    if (topDown_ && (compression_ == kBiRle8 || compression_ == kBiRle4))
        return Fail("a compressed bitmap cannot be stored top-down");
    return true;
}

bool DibReader::Run() {
    if (!ReadHeader()) return false;

    // Colour masks after a 40-byte header; 52- and 56-byte headers and the
    // later versions hold them inside.
    if (compression_ == kBiBitfields || compression_ == kBiAlphaBitfields) {
        if (!headerHasMasks_) {
            const int n = compression_ == kBiAlphaBitfields ? 4 : 3;
            for (int i = 0; i < n; ++i)
                if (!in_.U32(&masks_[i])) return Fail("file is truncated");
        }
        if (compression_ == kBiBitfields && headerSize_ < 56) masks_[3] = 0;
    } else if (bitCount_ == 16) {
        masks_[0] = 0x7C00;
        masks_[1] = 0x03E0;
        masks_[2] = 0x001F;
        masks_[3] = 0;
    } else if (bitCount_ == 32) {
        masks_[0] = 0x00FF0000;
        masks_[1] = 0x0000FF00;
        masks_[2] = 0x000000FF;
        masks_[3] = 0xFF000000;
    }

    // The palette, possibly shorter than the depth allows.
    const int64_t paletteStart = in_.Tell();
    const uint32_t entrySize = core_ ? 3 : 4;
    const uint32_t fullCount = bitCount_ <= 8 ? (1u << bitCount_) : 0;
    // A core header has no colour count; otherwise 0 means "all of them".
    // Deeper images may list an optional palette, which is skipped.
    uint64_t declared = clrUsed_;
    if (bitCount_ <= 8 && (core_ || clrUsed_ == 0)) declared = fullCount;
    uint64_t toRead = std::min<uint64_t>(declared, fullCount);
    int64_t pixelStart = paletteStart + static_cast<int64_t>(declared * entrySize);
    if (!src_.icon && src_.pixelOffset > 0 && src_.pixelOffset >= paletteStart) {
        // The file header says where the pixels are; a palette that would
        // run into them is shorter than the count claims.
        const uint64_t room = static_cast<uint64_t>(src_.pixelOffset - paletteStart) / entrySize;
        toRead = std::min(toRead, room);
        pixelStart = src_.pixelOffset;
    }
    if (src_.icon && declared > 256) return Fail("bad colour count");
    RgbQuad palette[256] = {};
    for (uint64_t i = 0; i < toRead; ++i) {
        uint8_t e[4] = {0, 0, 0, 0};
        if (!in_.Read(e, entrySize)) return Fail("file is truncated in the palette");
        palette[i] = RgbQuad{e[0], e[1], e[2], 0};
    }

    // Everything the pixels need must be in the file before memory is taken.
    const int64_t size = in_.StreamSize();
    if (size >= 0 && pixelStart > size) return Fail("pixel data lies outside the file");
    if (compression_ == kBiRgb || compression_ == kBiBitfields ||
        compression_ == kBiAlphaBitfields) {
        const uint64_t rowBytes = (static_cast<uint64_t>(width_) * bitCount_ + 31) / 32 * 4;
        const uint64_t used = (static_cast<uint64_t>(width_) * bitCount_ + 7) / 8;
        uint64_t need = rowBytes * (height_ - 1) + used;
        if (src_.icon)
            need = rowBytes * height_ + (static_cast<uint64_t>(width_) + 31) / 32 * 4 * height_;
        if (size >= 0 && static_cast<uint64_t>(size - pixelStart) < need)
            return Fail("file is truncated");
    }

    uint32_t bpp = bitCount_;
    if (bpp == 2) bpp = 4;
    if (bpp > 8) bpp = 24;
    if (!img_.Create(width_, height_, bpp, src_.type)) return false;
    if (bpp <= 8) img_.SetPalette(palette, 256);
    img_.SetXDpi(DpiFromPelsPerMeter(xPels_));
    img_.SetYDpi(DpiFromPelsPerMeter(yPels_));

    if (!in_.SeekTo(pixelStart)) return Fail("pixel data lies outside the file");
    pixelStart_ = pixelStart;
    bool ok;
    if (compression_ == kBiRle8 || compression_ == kBiRle4)
        ok = ReadRle();
    else if (bitCount_ == 2)
        ok = ReadTwoBit();
    else if (bitCount_ == 16 || bitCount_ == 32)
        ok = ReadMasked();
    else
        ok = ReadUncompressed();
    if (!ok) return false;
    if (src_.icon) return ReadIconMask();
    return true;
}

bool DibReader::ReadUncompressed() {
    // 1, 4, 8 and 24 bits: the file's rows are laid out exactly like ours.
    const uint32_t rowBytes = img_.GetEffWidth();
    const uint32_t used = px::UsedRowBytes(width_, bitCount_);
    const uint8_t lastMask = px::LastByteMask(width_, bitCount_);
    if (!topDown_) {
        const uint64_t total = static_cast<uint64_t>(rowBytes) * (height_ - 1) + used;
        if (!in_.Read(img_.GetBits(0), static_cast<size_t>(total)))
            return Fail("file is truncated");
    } else {
        for (uint32_t r = 0; r < height_; ++r) {
            uint8_t* row = img_.RowPtr(TargetRow(r));
            if (!in_.Read(row, used)) return Fail("file is truncated");
            if (r + 1 < height_ && !in_.Skip(rowBytes - used)) return Fail("file is truncated");
        }
    }
    // The file's padding is not ours to keep.
    for (uint32_t y = 0; y < height_; ++y) {
        uint8_t* row = img_.RowPtr(y);
        row[used - 1] &= lastMask;
        std::memset(row + used, 0, rowBytes - used);
    }
    return true;
}

bool DibReader::ReadTwoBit() {
    const uint64_t rowBytes = (static_cast<uint64_t>(width_) * 2 + 31) / 32 * 4;
    for (uint32_t r = 0; r < height_; ++r) {
        uint8_t* row = img_.RowPtr(TargetRow(r));
        uint64_t consumed = 0;
        for (uint32_t x = 0; x < width_; x += 4) {
            const int b = in_.Byte();
            if (b < 0) return Fail("file is truncated");
            ++consumed;
            for (uint32_t k = 0; k < 4 && x + k < width_; ++k)
                px::SetNibble(row, x + k, static_cast<uint8_t>((b >> (6 - 2 * k)) & 3));
        }
        if (r + 1 < height_ && !in_.Skip(rowBytes - consumed)) return Fail("file is truncated");
    }
    return true;
}

bool DibReader::ReadMasked() {
    const uint32_t bytesPer = bitCount_ / 8;
    const uint64_t rowBytes = (static_cast<uint64_t>(width_) * bitCount_ + 31) / 32 * 4;
    const uint64_t used = static_cast<uint64_t>(width_) * bytesPer;
    const Channel red(masks_[0]), green(masks_[1]), blue(masks_[2]), alpha(masks_[3]);
    const bool plain32 = bitCount_ == 32 && masks_[0] == 0x00FF0000 && masks_[1] == 0x0000FF00 &&
                         masks_[2] == 0x000000FF && (masks_[3] == 0xFF000000 || masks_[3] == 0);
    constexpr uint32_t kChunk = 4096;
    uint8_t chunk[kChunk * 4];
    for (uint32_t r = 0; r < height_; ++r) {
        const uint32_t y = TargetRow(r);
        uint8_t* row = img_.RowPtr(y);
        for (uint32_t x0 = 0; x0 < width_; x0 += kChunk) {
            const uint32_t n = std::min(kChunk, width_ - x0);
            if (!in_.Read(chunk, static_cast<size_t>(n) * bytesPer))
                return Fail("file is truncated");
            uint8_t* out = row + 3 * static_cast<size_t>(x0);
            if (plain32) {
                for (uint32_t i = 0; i < n; ++i, out += 3) {
                    const uint8_t* p = chunk + 4 * i;
                    out[0] = p[0];
                    out[1] = p[1];
                    out[2] = p[2];
                    if (masks_[3] && (p[3] || alpha_)) NoteAlpha(x0 + i, y, p[3]);
                }
            } else {
                for (uint32_t i = 0; i < n; ++i, out += 3) {
                    const uint32_t v = bytesPer == 2 ? Le16(chunk + 2 * i) : Le32(chunk + 4 * i);
                    out[0] = blue.Get(v);
                    out[1] = green.Get(v);
                    out[2] = red.Get(v);
                    if (alpha.max) {
                        const uint8_t a = alpha.Get(v);
                        if (a || alpha_) NoteAlpha(x0 + i, y, a);
                    }
                }
            }
        }
        if (r + 1 < height_ && !in_.Skip(rowBytes - used)) return Fail("file is truncated");
    }
    return true;
}

bool DibReader::ReadRle() {
    const bool four = compression_ == kBiRle4;
    const uint32_t bpp = four ? 4 : 8;
    uint32_t x = 0, y = 0;
    auto put = [&](uint8_t v) {
        if (x < width_ && y < height_) px::SetIndex(img_.RowPtr(y), x, bpp, v);
        if (x < width_) ++x;
    };
    while (y < height_) {
        const int count = in_.Byte();
        const int value = in_.Byte();
        if (count < 0 || value < 0) return Fail("compressed data ends too early");
        if (count > 0) {
            for (int k = 0; k < count; ++k) {
                if (four)
                    put(static_cast<uint8_t>((k & 1) ? (value & 15) : (value >> 4)));
                else
                    put(static_cast<uint8_t>(value));
            }
            continue;
        }
        switch (value) {
            case 0:  // end of line
                x = 0;
                ++y;
                break;
            case 1:  // end of bitmap
                return true;
            case 2: {  // move right and up
                const int dx = in_.Byte();
                const int dy = in_.Byte();
                if (dx < 0 || dy < 0) return Fail("compressed data ends too early");
                x = std::min<uint32_t>(x + static_cast<uint32_t>(dx), width_);
                y += static_cast<uint32_t>(dy);
                break;
            }
            default: {  // `value` literal pixels, padded to a 16-bit boundary
                const int n = value;
                const int bytes = four ? (n + 1) / 2 : n;
                uint8_t literal[256];
                if (!in_.Read(literal, static_cast<size_t>(bytes)))
                    return Fail("compressed data ends too early");
                for (int k = 0; k < n; ++k) {
                    if (four)
                        put(static_cast<uint8_t>((k & 1) ? (literal[k / 2] & 15)
                                                         : (literal[k / 2] >> 4)));
                    else
                        put(literal[k]);
                }
                if ((bytes & 1) && in_.Byte() < 0) return Fail("compressed data ends too early");
                break;
            }
        }
    }
    return true;
}

bool DibReader::ReadIconMask() {
    const uint32_t maskRow = (width_ + 31) / 32 * 4;
    // An icon whose pixels carry alpha needs no mask; otherwise (an unused
    // alpha channel included) the mask decides.
    if (alpha_) return true;
    // The mask starts after the last colour row, padding included.
    const uint64_t rowBytes = (static_cast<uint64_t>(width_) * bitCount_ + 31) / 32 * 4;
    if (!in_.SeekTo(pixelStart_ + static_cast<int64_t>(rowBytes * height_)))
        return Fail("file is truncated in the icon mask");
    std::string rowBuffer(maskRow, '\0');
    auto* mask = reinterpret_cast<uint8_t*>(rowBuffer.data());
    for (uint32_t y = 0; y < height_; ++y) {
        if (!in_.Read(mask, maskRow)) return Fail("file is truncated in the icon mask");
        for (uint32_t x = 0; x < width_; ++x) {
            if (!px::GetBit(mask, x)) continue;
            if (!alpha_) {
                if (!img_.AlphaCreate()) return Fail("can't allocate memory");
                alpha_ = img_.GetAlphaPlane();  // opaque so far
            }
            alpha_[static_cast<size_t>(y) * width_ + x] = 0;
        }
    }
    return true;
}

}  // namespace

bool ReadDib(RasterImage& image, BufferedReader& in, const DibSource& source) {
    DibReader reader(image, in, source);
    return reader.Run();
}

uint64_t DibWriteSize(const RasterImage& image, bool icon) {
    const uint32_t w = image.GetWidth(), h = image.GetHeight();
    uint64_t size;
    if (image.GetBpp() == 24 && image.HasAlpha())
        size = 40 + static_cast<uint64_t>(w) * 4 * h;
    else
        size = image.GetDibSize();
    if (icon) size += static_cast<uint64_t>((w + 31) / 32 * 4) * h;
    return size;
}

bool WriteDib(const RasterImage& image, ByteStream* out, bool icon) {
    const uint32_t w = image.GetWidth(), h = image.GetHeight();
    const bool bgra = image.GetBpp() == 24 && image.HasAlpha();
    const uint8_t* alpha = image.GetAlphaPlane();
    const uint32_t maskRow = (w + 31) / 32 * 4;

    BitmapInfoHeader head = image.GetHeader();
    if (bgra) {
        head.biBitCount = 32;
        head.biCompression = kBiRgb;
        head.biSizeImage = w * 4 * h;
        head.biClrUsed = 0;
    }
    if (icon) {
        head.biHeight = static_cast<int32_t>(2 * h);
        head.biSizeImage += maskRow * h;
    }
    uint8_t raw[40];
    std::memcpy(raw, &head, 40);
    if (out->Write(raw, 1, 40) != 40) return false;

    if (!bgra) {
        // Palette and rows exactly as the block holds them.
        const uint8_t* block = image.GetDib() + 40;
        const size_t bytes = image.GetDibSize() - 40;
        if (bytes && out->Write(block, 1, bytes) != bytes) return false;
    } else {
        std::string buffer(static_cast<size_t>(w) * 4, '\0');
        auto* line = reinterpret_cast<uint8_t*>(buffer.data());
        for (uint32_t y = 0; y < h; ++y) {
            const uint8_t* src = image.RowPtr(y);
            const uint8_t* a = alpha + static_cast<size_t>(y) * w;
            for (uint32_t x = 0; x < w; ++x) {
                line[4 * x] = src[3 * x];
                line[4 * x + 1] = src[3 * x + 1];
                line[4 * x + 2] = src[3 * x + 2];
                line[4 * x + 3] = a[x];
            }
            if (out->Write(line, 1, buffer.size()) != buffer.size()) return false;
        }
    }

    if (icon) {
        std::string buffer(maskRow, '\0');
        auto* line = reinterpret_cast<uint8_t*>(buffer.data());
        for (uint32_t y = 0; y < h; ++y) {
            std::memset(line, 0, maskRow);
            if (alpha) {
                const uint8_t* a = alpha + static_cast<size_t>(y) * w;
                for (uint32_t x = 0; x < w; ++x)
                    if (a[x] < 128) line[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
            }
            if (out->Write(line, 1, maskRow) != maskRow) return false;
        }
    }
    return true;
}

}  // namespace sheetmend
