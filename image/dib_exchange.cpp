// Exchange of the whole DIB block with a DibHandle, the owned byte buffer that
// takes the place of a Windows global memory handle.
//
// CopyToHandle hands out an exact copy of the block. CreateFromHandle accepts
// the packed DIBs a Windows program hands over: 40-byte (and longer) info
// headers and 12-byte core headers, bottom-up or top-down rows, uncompressed
// 1/4/8/24 bits, RLE8 and RLE4, and 16 or 32 bits with or without colour masks
// (both made 24-bit). The block comes from outside, so every size and offset in
// it is checked against the bytes actually present before anything is
// allocated or read, and a refused block leaves the image empty.
#include <cmath>
#include <cstring>

#include "image/pixel_access.h"
#include "image/raster_image.h"

namespace sheetmend {

namespace {

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kRgb = 0;
constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;
constexpr uint32_t kBitFields = 3;

// Where everything sits in a packed DIB, as its header describes it.
struct DibLayout {
    uint32_t headerSize = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    bool topDown = false;
    uint32_t bitCount = 0;
    uint32_t compression = kRgb;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrImportant = 0;
    uint64_t paletteEntries = 0;
    uint32_t entrySize = 4;
    uint64_t maskOffset = 0;
    uint64_t paletteOffset = 0;
    uint64_t pixelOffset = 0;
};

// Reads and checks the header, the masks' and the palette's place; returns
// the message that refuses the block, or nullptr.
const char* ReadLayout(const uint8_t* src, size_t total, DibLayout* out) {
    DibLayout d;
    if (total < 4) return "CreateFromHandle: block too small for a header";
    d.headerSize = Le32(src);
    int64_t width;
    int64_t height;
    uint32_t clrUsed = 0;
    if (d.headerSize == kCoreHeaderSize) {
        if (total < kCoreHeaderSize) return "CreateFromHandle: header past the end of the block";
        // Core headers store unsigned 16-bit sizes and always run bottom-up.
        width = Le16(src + 4);
        height = Le16(src + 6);
        d.bitCount = Le16(src + 10);
        d.entrySize = 3;
        if (d.bitCount != 1 && d.bitCount != 4 && d.bitCount != 8 && d.bitCount != 24)
            return "CreateFromHandle: unsupported bit count";
    } else if (d.headerSize >= kInfoHeaderSize) {
        if (d.headerSize > total) return "CreateFromHandle: header past the end of the block";
        width = static_cast<int32_t>(Le32(src + 4));
        height = static_cast<int32_t>(Le32(src + 8));
        d.bitCount = Le16(src + 14);
        d.compression = Le32(src + 16);
        d.xPelsPerMeter = static_cast<int32_t>(Le32(src + 24));
        d.yPelsPerMeter = static_cast<int32_t>(Le32(src + 28));
        clrUsed = Le32(src + 32);
        d.clrImportant = Le32(src + 36);
        switch (d.bitCount) {
            case 1:
            case 24:
                if (d.compression != kRgb) return "CreateFromHandle: unsupported compression";
                break;
            case 4:
                if (d.compression != kRgb && d.compression != kRle4)
                    return "CreateFromHandle: unsupported compression";
                break;
            case 8:
                if (d.compression != kRgb && d.compression != kRle8)
                    return "CreateFromHandle: unsupported compression";
                break;
            case 16:
            case 32:
                if (d.compression != kRgb && d.compression != kBitFields)
                    return "CreateFromHandle: unsupported compression";
                break;
            default:
                return "CreateFromHandle: unsupported bit count";
        }
    } else {
        return "CreateFromHandle: unknown header size";
    }

    if (height < 0) {
        d.topDown = true;
        height = -height;
    }
    if (width <= 0 || height <= 0) return "CreateFromHandle: bad image dimensions";
    d.width = static_cast<uint32_t>(width);
    d.height = static_cast<uint32_t>(height);

    if (d.bitCount <= 8)
        d.paletteEntries = clrUsed != 0 ? clrUsed : (1u << d.bitCount);
    else
        d.paletteEntries = clrUsed;  // an optional table that goes unused

    // Masks follow a 40-byte header; longer headers carry them inside.
    uint64_t offset = d.headerSize;
    if (d.compression == kBitFields) {
        if (d.headerSize < 52) {
            d.maskOffset = d.headerSize;
            offset += 12;
        } else {
            d.maskOffset = kInfoHeaderSize;
        }
        if (offset > total) return "CreateFromHandle: colour masks past the end of the block";
    }
    d.paletteOffset = offset;
    d.pixelOffset = offset + d.paletteEntries * d.entrySize;
    if (d.pixelOffset > total) return "CreateFromHandle: palette past the end of the block";

    if (d.compression == kRgb || d.compression == kBitFields) {
        const uint64_t stride = (static_cast<uint64_t>(d.width) * d.bitCount + 31) / 32 * 4;
        if (d.height > (total - d.pixelOffset) / stride)
            return "CreateFromHandle: pixel data past the end of the block";
    }
    *out = d;
    return nullptr;
}

// One colour mask: where its field starts, how many bits it has, and for
// fields narrower than a byte the table that widens them.
struct Channel {
    uint32_t mask = 0;
    uint32_t shift = 0;
    uint32_t bits = 0;
    uint8_t widen[256] = {};
    explicit Channel(uint32_t m) : mask(m) {
        if (m == 0) return;
        while (!((m >> shift) & 1)) ++shift;
        for (uint32_t rest = m >> shift; rest; rest >>= 1) ++bits;
        if (bits >= 8) return;
        // Repeating the field's bits makes its largest value 255.
        for (uint32_t v = 0; v < (1u << bits); ++v) {
            int s = 8 - static_cast<int>(bits);
            uint32_t out = v << s;
            while (s > 0) {
                s -= static_cast<int>(bits);
                out |= s >= 0 ? v << s : v >> -s;
            }
            widen[v] = static_cast<uint8_t>(out);
        }
    }
    // The field as 8 bits: widened, or cut to its top 8 bits.
    uint8_t Get(uint32_t pixel) const {
        const uint32_t v = (pixel & mask) >> shift;
        return bits >= 8 ? static_cast<uint8_t>(v >> (bits - 8)) : widen[v];
    }
};

// Expands RLE8 or RLE4 data into the image's rows. Runs that go past the end
// of a row are cut there, moves outside the image drop what follows them, and
// data that ends before every row is reached (without an end-of-bitmap mark)
// is refused.
bool ExpandRle(const uint8_t* p, size_t n, bool rle4, const DibLayout& d, RasterImage& img) {
    const uint32_t bpp = rle4 ? 4 : 8;
    uint64_t x = 0;
    uint64_t y = 0;
    size_t i = 0;
    auto put = [&](uint8_t v) {
        if (x < d.width && y < d.height) {
            const uint32_t row =
                d.topDown ? d.height - 1 - static_cast<uint32_t>(y) : static_cast<uint32_t>(y);
            px::SetIndex(img.RowPtr(row), static_cast<uint32_t>(x), bpp, v);
        }
        ++x;
    };
    while (y < d.height) {
        if (n - i < 2) return false;
        const uint8_t count = p[i];
        const uint8_t value = p[i + 1];
        i += 2;
        if (count != 0) {
            for (uint32_t k = 0; k < count && x < d.width; ++k)
                put(rle4 ? static_cast<uint8_t>((k & 1) ? value & 15 : value >> 4) : value);
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            return true;
        } else if (value == 2) {
            if (n - i < 2) return false;
            x += p[i];
            y += p[i + 1];
            i += 2;
        } else {
            const size_t bytes = rle4 ? (value + 1u) / 2 : value;
            if (n - i < bytes) return false;
            for (uint32_t k = 0; k < value && x < d.width; ++k) {
                const uint8_t b = p[i + (rle4 ? k / 2 : k)];
                put(rle4 ? static_cast<uint8_t>((k & 1) ? b & 15 : b >> 4) : b);
            }
            // Literal runs are padded to a whole 16-bit word.
            const size_t padded = bytes + (bytes & 1);
            i += padded <= n - i ? padded : n - i;
        }
    }
    return true;
}

int32_t DpiFromPelsPerMeter(int32_t pels) {
    const double dpi = std::floor(static_cast<double>(pels) * 0.0254 + 0.5);
    return dpi > 2147483647.0 ? 2147483647 : static_cast<int32_t>(dpi);
}

}  // namespace

DibHandle RasterImage::CopyToHandle() const {
    if (!dib_) return {};
    return DibHandle(dib_, dib_ + GetDibSize());
}

bool RasterImage::CreateFromHandle(const DibHandle& handle) {
    if (!Destroy()) {
        SetLastError("CreateFromHandle: a ghost image cannot take a new block");
        return false;
    }
    if (handle.empty()) {
        SetLastError("CreateFromHandle: empty handle");
        return false;
    }
    const uint8_t* src = handle.data();
    const size_t total = handle.size();
    DibLayout d;
    if (const char* refusal = ReadLayout(src, total, &d)) {
        SetLastError(refusal);
        return false;
    }

    head_.biClrImportant = 0;
    if (!Create(d.width, d.height, d.bitCount, kFormatUnknown)) return false;
    SetXDpi(DpiFromPelsPerMeter(d.xPelsPerMeter));
    SetYDpi(DpiFromPelsPerMeter(d.yPelsPerMeter));

    if (d.bitCount <= 8) {
        RgbQuad palette[256] = {};
        const uint64_t count =
            d.paletteEntries < GetNumColors() ? d.paletteEntries : GetNumColors();
        for (uint64_t k = 0; k < count; ++k) {
            const uint8_t* e = src + d.paletteOffset + k * d.entrySize;
            palette[k] = RgbQuad{e[0], e[1], e[2], 0};
        }
        SetPalette(palette, static_cast<uint32_t>(count));
        SetClrImportant(d.clrImportant);
    }

    const uint8_t* pixels = src + d.pixelOffset;
    const uint32_t stride = px::EffWidth(d.width, d.bitCount);
    auto destRow = [&](uint32_t r) { return RowPtr(d.topDown ? d.height - 1 - r : r); };

    if (d.compression == kRle8 || d.compression == kRle4) {
        if (!ExpandRle(pixels, total - d.pixelOffset, d.compression == kRle4, d, *this)) {
            Destroy();
            SetLastError("CreateFromHandle: run-length data ends before the end of the bitmap");
            return false;
        }
    } else if (d.bitCount == 16 || d.bitCount == 32) {
        uint32_t masks[3];
        if (d.compression == kBitFields) {
            for (int k = 0; k < 3; ++k) masks[k] = Le32(src + d.maskOffset + 4 * k);
        } else if (d.bitCount == 16) {
            masks[0] = 0x7C00;
            masks[1] = 0x03E0;
            masks[2] = 0x001F;
        } else {
            masks[0] = 0x00FF0000;
            masks[1] = 0x0000FF00;
            masks[2] = 0x000000FF;
        }
        const Channel red(masks[0]), green(masks[1]), blue(masks[2]);
        const uint32_t step = d.bitCount / 8;
        for (uint32_t r = 0; r < d.height; ++r) {
            const uint8_t* s = pixels + static_cast<size_t>(r) * stride;
            uint8_t* o = destRow(r);
            for (uint32_t x = 0; x < d.width; ++x, s += step, o += 3) {
                const uint32_t v = step == 2 ? Le16(s) : Le32(s);
                o[0] = blue.Get(v);
                o[1] = green.Get(v);
                o[2] = red.Get(v);
            }
        }
    } else {
        // Rows are laid out as ours; copy the pixels and leave the padding
        // zero whatever the source carried there.
        const uint32_t used = px::UsedRowBytes(d.width, d.bitCount);
        const uint8_t lastMask = px::LastByteMask(d.width, d.bitCount);
        for (uint32_t r = 0; r < d.height; ++r) {
            uint8_t* o = destRow(r);
            std::memcpy(o, pixels + static_cast<size_t>(r) * stride, used);
            o[used - 1] &= lastMask;
        }
    }
    return true;
}

}  // namespace sheetmend
