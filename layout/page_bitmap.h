// PageBitmap: a one-bit page for analysis. Rows are stored top row first,
// each padded to a multiple of 16 pixels (rowBytes = ((width + 15) >> 4) * 2),
// most significant bit leftmost, a set bit is ink (black).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/raster_image.h"

namespace sheetmend {

struct PageBitmap {
    uint16_t width = 0;
    uint16_t height = 0;
    uint8_t depth = 0;  // always 1
    int32_t size = 0;   // height * rowBytes
    std::vector<uint8_t> bits;
    int32_t inverted = 0;  // toggled by NormalizeInkPolarity

    uint32_t RowBytes() const { return ((static_cast<uint32_t>(width) + 15) >> 4) * 2; }
    uint8_t* Row(uint32_t y) { return bits.data() + static_cast<size_t>(y) * RowBytes(); }
    const uint8_t* Row(uint32_t y) const {
        return bits.data() + static_cast<size_t>(y) * RowBytes();
    }
};

// Results of FillFromDib.
enum FillResult : int32_t {
    kFillOk = 0,
    kFillUnsupported = 3,
    kFillCompressed = 4,
    kFillNoMemory = 5,
};

// Loads any readable image file as a black-and-white page with ink as the
// minority colour. nullptr when the file cannot be read (silently) or the
// page cannot be held ("Resource" on standard error).
// `adaptive` chooses the local threshold (ConvertToMonochrome).
std::unique_ptr<PageBitmap> LoadPageBitmap(const std::string& path, bool adaptive = false);

// The same for a page already in memory; `image` is made black and white.
std::unique_ptr<PageBitmap> PageBitmapFromImage(RasterImage& image, bool adaptive = false);

// Fills the rows from a packed 1-bit DIB (header, colour table, bottom-up rows).
int32_t FillFromDib(PageBitmap& bitmap, const DibHandle& dib);

// Inverts a page whose bytes are mostly full (0xFF), clearing the partly
// used last byte and the padding of each row; toggles `inverted`.
void NormalizeInkPolarity(PageBitmap& bitmap);

void ReleasePageBitmap(PageBitmap& bitmap);

// A packed 1-bit DIB of the page: 900 pixels per metre, colour 0 white and
// colour 1 black, rows bottom-up. Empty on failure.
DibHandle PageBitmapToDib(const PageBitmap& bitmap);

// Saves in the format the extension names. 1 on success, 0 otherwise.
int32_t SavePageBitmap(const PageBitmap* bitmap, const std::string& path);

// The image SavePageBitmap saves: the DIB of PageBitmapToDib, with no
// colour marked important. False when the DIB is empty or cannot be taken.
bool PageBitmapToImage(const DibHandle& dib, RasterImage& image);

// The format code for saving by the path's extension (case ignored); 0 when unknown.
uint32_t SaveFormatFromExtension(const std::string& path);

}  // namespace sheetmend
