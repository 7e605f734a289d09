// TIFF encoding of one page: the tags, the compression, and the rows.
//
// 1-bit pages are written min-is-white (so fax and scan tools see ink as 1),
// grey palettes as min-is-black, other palettes with a colour map, 24-bit
// images as RGB and 24-bit images with alpha as RGBA. Without a compression
// chosen by the caller, the depth decides: CCITT Group 4 for 1 bit, LZW for 4
// and 8 bits (with horizontal differencing from 8 bits up), PackBits for
// colour. The page is one strip written top line first.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/codecs/group4.h"
#include "image/codecs/tiff_codec.h"
#include "image/pixel_access.h"

namespace sheetmend {

namespace {

// The palette is the n-bit grey ramp a min-is-black file stands for.
bool IsGreyRamp(const RasterImage& image) {
    const uint32_t count = image.GetNumColors();
    const RgbQuad* pal = image.GetPalette();
    if (!pal || count < 2) return false;
    const uint32_t step = 255 / (count - 1);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t v = i * step;
        if (pal[i].red != v || pal[i].green != v || pal[i].blue != v) return false;
    }
    return true;
}

uint16_t ClampToU16(int32_t v) {
    if (v < 0) return 0;
    if (v > 65535) return 65535;
    return static_cast<uint16_t>(v);
}

// A growing byte buffer that libtiff writes a file into.
struct MemoryFile {
    std::vector<uint8_t> bytes;
    uint64_t position = 0;
    std::string error;
};

tmsize_t MemoryRead(thandle_t handle, void* buffer, tmsize_t size) {
    auto* f = static_cast<MemoryFile*>(handle);
    if (size <= 0 || f->position >= f->bytes.size()) return 0;
    const uint64_t n =
        std::min<uint64_t>(static_cast<uint64_t>(size), f->bytes.size() - f->position);
    std::memcpy(buffer, f->bytes.data() + f->position, n);
    f->position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t MemoryWrite(thandle_t handle, void* buffer, tmsize_t size) {
    auto* f = static_cast<MemoryFile*>(handle);
    if (size <= 0) return 0;
    const uint64_t end = f->position + static_cast<uint64_t>(size);
    if (end > f->bytes.size()) f->bytes.resize(end);
    std::memcpy(f->bytes.data() + f->position, buffer, static_cast<size_t>(size));
    f->position = end;
    return size;
}

toff_t MemorySeek(thandle_t handle, toff_t offset, int whence) {
    auto* f = static_cast<MemoryFile*>(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = f->position;
    else if (whence == SEEK_END)
        base = f->bytes.size();
    else if (whence != SEEK_SET)
        return static_cast<toff_t>(-1);
    f->position = base + offset;
    return f->position;
}

int MemoryClose(thandle_t) {
    return 0;
}
toff_t MemorySize(thandle_t handle) {
    return static_cast<MemoryFile*>(handle)->bytes.size();
}
int NoMap(thandle_t, void**, toff_t*) {
    return 0;
}
void NoUnmap(thandle_t, void*, toff_t) {}

int KeepMemoryError(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
    char text[256];
    std::vsnprintf(text, sizeof text, fmt, ap);
    static_cast<MemoryFile*>(user)->error = text;
    return 1;
}

int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

}  // namespace

// The page goes through libtiff into a TIFF file in memory, whose single
// strip is then the Group 4 data. Fill order 1 keeps the bits as fax readers
// expect them.
bool EncodeGroup4Strip(const RasterImage& page, bool invert, std::vector<uint8_t>& out,
                       std::string& error) {
    out.clear();
    if (!page.IsValid() || page.GetBpp() != 1) {
        error = "Group 4 needs a 1-bit image";
        return false;
    }
    const uint32_t width = page.GetWidth();
    const uint32_t height = page.GetHeight();
    MemoryFile file;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) {
        error = "Out of memory";
        return false;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, KeepMemoryError, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreWarning, nullptr);
    TIFF* tif = TIFFClientOpenExt("Group 4", "w", &file, MemoryRead, MemoryWrite, MemorySeek,
                                  MemoryClose, MemorySize, NoMap, NoUnmap, options);
    TIFFOpenOptionsFree(options);
    if (!tif) {
        error = file.error.empty() ? "Group 4 coder could not start" : file.error;
        return false;
    }
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) &&
              TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) &&
              TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height) &&
              TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
    const size_t lineBytes = px::UsedRowBytes(width, 1);
    const uint8_t lastMask = px::LastByteMask(width, 1);
    std::vector<uint8_t> line(lineBytes);
    for (uint32_t r = 0; ok && r < height; ++r) {
        const uint8_t* src = page.RowPtr(height - 1 - r);
        if (invert) {
            for (size_t i = 0; i < lineBytes; ++i) line[i] = static_cast<uint8_t>(~src[i]);
            line[lineBytes - 1] &= lastMask;
        } else {
            std::memcpy(line.data(), src, lineBytes);
        }
        ok = TIFFWriteScanline(tif, line.data(), r, 0) >= 0;
    }
    uint64_t* offsets = nullptr;
    uint64_t* counts = nullptr;
    ok = ok && TIFFFlushData(tif) && TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets) &&
         TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts) && offsets && counts &&
         TIFFNumberOfStrips(tif) == 1 && offsets[0] + counts[0] <= file.bytes.size();
    if (ok)
        out.assign(file.bytes.begin() + static_cast<ptrdiff_t>(offsets[0]),
                   file.bytes.begin() + static_cast<ptrdiff_t>(offsets[0] + counts[0]));
    TIFFClose(tif);
    if (!ok) error = file.error.empty() ? "Group 4 coding failed" : file.error;
    return ok;
}

void TiffImage::PutLightEntryFirst() {
    const RgbQuad first = GetPaletteColor(0);
    const RgbQuad second = GetPaletteColor(1);
    if (px::Luminance(first.red, first.green, first.blue) >=
        px::Luminance(second.red, second.green, second.blue))
        return;
    // Write through the image this one borrows, when it is a ghost, so the
    // owner's nearest-colour cache is cleared along with the swap.
    RasterImage* owner = ghost_ ? const_cast<RasterImage*>(ghost_) : this;
    owner->SetPaletteColor(0, second);
    owner->SetPaletteColor(1, first);
    ClearNearestCache();
    const uint32_t width = GetWidth();
    const uint32_t used = px::UsedRowBytes(width, 1);
    const uint8_t lastMask = px::LastByteMask(width, 1);
    for (uint32_t y = 0; y < GetHeight(); ++y) {
        uint8_t* row = RowPtr(y);
        for (uint32_t i = 0; i < used; ++i) row[i] = static_cast<uint8_t>(~row[i]);
        row[used - 1] &= lastMask;  // the padding stays zero
    }
}

bool TiffImage::EncodePage(TIFF* tif, int32_t page, int32_t total) {
    const uint32_t width = GetWidth();
    const uint32_t height = GetHeight();
    const uint32_t bpp = GetBpp();
    const uint8_t* alpha = GetAlphaPlane();

    uint32_t depth = bpp;
    uint16_t samples = bpp == 24 ? 3 : 1;
    uint16_t bitsPerSample = static_cast<uint16_t>(bpp / samples);
    if (bpp == 24 && alpha) {
        depth = 32;
        samples = 4;
    } else if (bpp == 8 && alpha) {
        samples = 2;  // index and alpha, 8 bits each
    } else {
        alpha = nullptr;
    }

    uint16_t photometric;
    if (bpp == 1) {
        PutLightEntryFirst();
        photometric = PHOTOMETRIC_MINISWHITE;
    } else if (bpp == 4 || bpp == 8) {
        photometric = IsGreyRamp(*this) ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_PALETTE;
    } else {
        photometric = PHOTOMETRIC_RGB;
    }

    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bitsPerSample) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height) &&
              TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB) &&
              TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
              TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(GetXDpi())) &&
              TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(GetYDpi()));
    if (!ok) return false;

    if (multipage_) {
        char name[32];
        std::snprintf(name, sizeof name, "Page %d", page);
        ok = TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) &&
             TIFFSetField(tif, TIFFTAG_PAGENUMBER, ClampToU16(page - 1), ClampToU16(total)) &&
             TIFFSetField(tif, TIFFTAG_PAGENAME, name);
    } else {
        ok = TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
    }
    if (!ok) return false;

    if (photometric == PHOTOMETRIC_PALETTE) {
        uint16_t red[256] = {}, green[256] = {}, blue[256] = {};
        const RgbQuad* pal = GetPalette();
        for (uint32_t i = 0; i < GetNumColors() && i < 256; ++i) {
            red[i] = static_cast<uint16_t>(pal[i].red * 257);
            green[i] = static_cast<uint16_t>(pal[i].green * 257);
            blue[i] = static_cast<uint16_t>(pal[i].blue * 257);
        }
        if (!TIFFSetField(tif, TIFFTAG_COLORMAP, red, green, blue)) return false;
    }

    uint32_t compression = GetCodecOption(kFormatTiff);
    if (compression == 0) {
        switch (depth) {
            case 1:
                compression = COMPRESSION_CCITTFAX4;
                break;
            case 4:
            case 8:
                compression = COMPRESSION_LZW;
                break;
            case 24:
            case 32:
                compression = COMPRESSION_PACKBITS;
                break;
            default:
                compression = COMPRESSION_NONE;
                break;
        }
    }
    if (compression > 0xFFFF ||
        !TIFFSetField(tif, TIFFTAG_COMPRESSION, static_cast<uint16_t>(compression)))
        return false;
    if (compression == COMPRESSION_CCITTFAX3 && depth == 1) {
        if (!TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_FILLBITS) ||
            !TIFFSetField(tif, TIFFTAG_FAXMODE, FAXMODE_NORTC))
            return false;
    }
    if (compression == COMPRESSION_LZW && depth >= 8) {
        if (!TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL)) return false;
    }
    if (compression == COMPRESSION_JPEG) {
        if (!TIFFSetField(tif, TIFFTAG_JPEGQUALITY, static_cast<int>(GetJpegQuality())) ||
            !TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, ((height + 7) / 8) * 8))
            return false;
    }

    // Each row goes through a scratch line: libtiff's predictor works in
    // place on what it is given, and colour rows change channel order.
    const size_t lineBytes = (static_cast<size_t>(width) * bitsPerSample * samples + 7) / 8;
    std::vector<uint8_t> line(lineBytes);
    for (uint32_t r = 0; r < height; ++r) {
        const uint32_t y = height - 1 - r;
        const uint8_t* src = RowPtr(y);
        const uint8_t* a = alpha ? alpha + static_cast<size_t>(y) * width : nullptr;
        uint8_t* dst = line.data();
        if (bpp == 24 && a) {
            for (uint32_t x = 0; x < width; ++x) {
                dst[4 * x] = src[3 * x + 2];
                dst[4 * x + 1] = src[3 * x + 1];
                dst[4 * x + 2] = src[3 * x];
                dst[4 * x + 3] = a[x];
            }
        } else if (bpp == 24) {
            for (uint32_t x = 0; x < width; ++x) {
                dst[3 * x] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x];
            }
        } else if (a) {
            for (uint32_t x = 0; x < width; ++x) {
                dst[2 * x] = src[x];
                dst[2 * x + 1] = a[x];
            }
        } else {
            std::memcpy(dst, src, lineBytes);
        }
        if (TIFFWriteScanline(tif, dst, r, 0) < 0) return false;
    }
    return true;
}

}  // namespace sheetmend
