#include "layout/page_bitmap.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "layout/binarize.h"
#include "platform/console.h"

namespace sheetmend {

namespace {

uint32_t ReadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void WriteU32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// Lays out a page of width x height (both 1 .. 65535) from its bottom-up
// 1-bit rows, `row(r)` giving row r; rowBytes never exceeds a source row
// (16- versus 32-pixel padding).
template <class Row>
int32_t FillRows(PageBitmap& bitmap, int32_t width, int32_t height, Row row) {
    bitmap.width = static_cast<uint16_t>(width);
    bitmap.height = static_cast<uint16_t>(height);
    bitmap.depth = 1;
    const uint32_t rowBytes = bitmap.RowBytes();
    bitmap.size = static_cast<int32_t>(rowBytes * static_cast<uint32_t>(height));
    try {
        bitmap.bits.resize(static_cast<size_t>(bitmap.size));
    } catch (const std::bad_alloc&) {
        return kFillNoMemory;
    }
    for (int32_t r = 0; r < height; ++r)
        std::memcpy(bitmap.Row(static_cast<uint32_t>(height - 1 - r)), row(r), rowBytes);
    return kFillOk;
}

// FillFromDib on the block CopyToHandle would give, read in place.
int32_t FillFromRows(PageBitmap& bitmap, const RasterImage& image) {
    if (image.GetBpp() != 1) return kFillUnsupported;
    const auto width = static_cast<int64_t>(image.GetWidth());
    const auto height = static_cast<int64_t>(image.GetHeight());
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) return kFillUnsupported;
    return FillRows(bitmap, static_cast<int32_t>(width), static_cast<int32_t>(height),
                    [&](int32_t r) { return image.RowPtr(static_cast<uint32_t>(r)); });
}

}  // namespace

std::unique_ptr<PageBitmap> LoadPageBitmap(const std::string& path, bool adaptive) {
    RasterImage image;
    if (!image.Load(path.c_str(), kFormatUnknown)) return nullptr;
    return PageBitmapFromImage(image, adaptive);
}

std::unique_ptr<PageBitmap> PageBitmapFromImage(RasterImage& image, bool adaptive) {
    BinarizePage(image, adaptive);
    if (!image.IsValid()) return nullptr;
    // The rows go straight from the image, with the checks FillFromDib makes
    // on the same block.
    auto bitmap = std::make_unique<PageBitmap>();
    if (FillFromRows(*bitmap, image) != kFillOk) {
        // The message box of the desktop build becomes one line on standard error.
        ConsoleErrorf("Resource\n");
        ReleasePageBitmap(*bitmap);
        return nullptr;
    }
    return bitmap;
}

int32_t FillFromDib(PageBitmap& bitmap, const DibHandle& dib) {
    if (dib.size() < 40) return kFillUnsupported;
    const uint8_t* h = dib.data();
    const uint32_t headerSize = ReadU32(h);
    const auto width = static_cast<int32_t>(ReadU32(h + 4));
    const auto height = static_cast<int32_t>(ReadU32(h + 8));
    const uint32_t bitCount = static_cast<uint32_t>(h[14]) | (static_cast<uint32_t>(h[15]) << 8);
    const uint32_t compression = ReadU32(h + 16);
    const uint32_t coloursUsed = ReadU32(h + 32);
    if (compression != 0) return kFillCompressed;
    // The loader always delivers 1-bit pages; nothing else is laid out here.
    if (bitCount != 1 || headerSize < 40 || headerSize > dib.size()) return kFillUnsupported;
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) return kFillUnsupported;
    const uint64_t paletteBytes = coloursUsed ? static_cast<uint64_t>(coloursUsed) * 4 : 8;
    const uint64_t offset = headerSize + paletteBytes;
    const uint64_t stride = ((static_cast<uint64_t>(width) + 31) / 32) * 4;
    if (offset + stride * static_cast<uint64_t>(height) > dib.size()) return kFillUnsupported;

    const uint8_t* src = dib.data() + offset;
    return FillRows(bitmap, width, height,
                    [&](int32_t r) { return src + static_cast<size_t>(r) * stride; });
}

void NormalizeInkPolarity(PageBitmap& bitmap) {
    if (bitmap.bits.empty()) return;
    uint64_t zeros = 0, fulls = 0, mixed = 0;
    for (uint8_t b : bitmap.bits) {
        if (b == 0x00)
            ++zeros;
        else if (b == 0xFF)
            ++fulls;
        else
            ++mixed;
    }
    if (!((zeros + mixed) / 9 < fulls && 2 * zeros < fulls)) return;
    const uint32_t rowBytes = bitmap.RowBytes();
    const uint32_t whole = bitmap.width >> 3;
    for (uint32_t y = 0; y < bitmap.height; ++y) {
        uint8_t* row = bitmap.Row(y);
        for (uint32_t i = 0; i < whole; ++i) row[i] = static_cast<uint8_t>(~row[i]);
        std::memset(row + whole, 0, rowBytes - whole);
    }
    bitmap.inverted = !bitmap.inverted;
}

void ReleasePageBitmap(PageBitmap& bitmap) {
    bitmap.bits.clear();
    bitmap.bits.shrink_to_fit();
}

DibHandle PageBitmapToDib(const PageBitmap& bitmap) {
    const uint32_t stride = ((static_cast<uint32_t>(bitmap.width) + 31) >> 5) << 2;
    DibHandle dib;
    try {
        dib.assign(40 + 8 + static_cast<size_t>(bitmap.height) * stride, 0);
    } catch (const std::bad_alloc&) {
        return {};
    }
    uint8_t* h = dib.data();
    WriteU32(h, 40);
    WriteU32(h + 4, bitmap.width);
    WriteU32(h + 8, bitmap.height);
    h[12] = 1;  // planes
    h[14] = 1;  // bits per pixel
    WriteU32(h + 24, 900);
    WriteU32(h + 28, 900);
    WriteU32(h + 40, 0x00FFFFFF);  // colour 0 white
    WriteU32(h + 44, 0x00000000);  // colour 1 black
    const uint32_t rowBytes = bitmap.RowBytes();
    if (bitmap.bits.size() < static_cast<size_t>(rowBytes) * bitmap.height) return dib;
    for (uint32_t r = 0; r < bitmap.height; ++r)
        std::memcpy(h + 48 + static_cast<size_t>(r) * stride, bitmap.Row(bitmap.height - 1u - r),
                    rowBytes);
    return dib;
}

int32_t SavePageBitmap(const PageBitmap* bitmap, const std::string& path) {
    if (!bitmap || bitmap->bits.empty() || path.empty()) return 0;
    const uint32_t type = SaveFormatFromExtension(path);
    if (type == 0) return 0;
    DibHandle dib = PageBitmapToDib(*bitmap);
    if (dib.empty()) {
        ConsoleErrorf("Save to '%s' file failed.\n", path.c_str());
        return 0;
    }
    RasterImage image;
    if (!PageBitmapToImage(dib, image)) return 0;
    return image.Save(path.c_str(), type) ? 1 : 0;
}

bool PageBitmapToImage(const DibHandle& dib, RasterImage& image) {
    if (dib.empty() || !image.CreateFromHandle(dib)) return false;
    image.SetClrImportant(0);
    return true;
}

uint32_t SaveFormatFromExtension(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    std::string ext = dot == std::string::npos ? std::string() : path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    struct Entry {
        const char* ext;
        uint32_t code;
    };
    static const Entry kTable[] = {
        {"bmp", 1},  {"jpg", 3},  {"jpeg", 3}, {"gif", 2},  {"png", 4},  {"mng", 17}, {"jng", 17},
        {"ico", 5},  {"tiff", 6}, {"tif", 6},  {"tga", 7},  {"pcx", 8},  {"wbmp", 9}, {"wmf", 10},
        {"emf", 10}, {"jp2", 11}, {"j2k", 11}, {"jpc", 12}, {"j2c", 12}, {"pgx", 13}, {"ras", 15},
        {"pnm", 14}, {"pgm", 14}, {"ppm", 14}, {"pdf", 20},
    };
    for (const Entry& e : kTable)
        if (ext == e.ext) return e.code;
    return 0;
}

}  // namespace sheetmend
