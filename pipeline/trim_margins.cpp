// Margin trimming. The margins are searched on a black-and-white version of
// the page: from each side inwards, the first row (column) in which enough
// pixels differ from the margin colour is where the page begins. The rectangle
// between the four edges is then cut from an untouched copy, so the trimmed
// page keeps its colours and its resolution.
#include "pipeline/trim_margins.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <vector>

#include "image/page_facts.h"
#include "image/pixel_access.h"
#include "pipeline/image_files.h"
#include "platform/console.h"

namespace sheetmend {

namespace {

bool Matches(RgbQuad c, ColorRef colour) {
    return c.red == (colour & 0xFF) && c.green == ((colour >> 8) & 0xFF) &&
           c.blue == ((colour >> 16) & 0xFF);
}

// The four scans, shared by both counting methods. `rowCount(k, limit)` counts
// the differing pixels of top-down row k, `columnCount(x, top, bottom,
// limit)` those of column x in rows top .. bottom - 1; both may stop once
// they reach the limit.
template <class RowCount, class ColumnCount>
MarginEdges Scan(int32_t width, int32_t height, MarginLimits limits, RowCount rowCount,
                 ColumnCount columnCount) {
    MarginEdges e{0, 0, width, height};
    for (int32_t k = 0; k < height; ++k)
        if (rowCount(k, limits.row) >= limits.row) {
            e.top = k;
            break;
        }
    for (int32_t k = height - 1; k >= e.top; --k)
        if (rowCount(k, limits.row) >= limits.row) {
            e.bottom = k;
            break;
        }
    for (int32_t x = 0; x < width; ++x)
        if (columnCount(x, e.top, e.bottom, limits.column) >= limits.column) {
            e.left = x;
            break;
        }
    for (int32_t x = width - 1; x >= 0; --x)
        if (columnCount(x, e.top, e.bottom, limits.column) >= limits.column) {
            e.right = x;
            break;
        }
    return e;
}

// A 1-bit page: which of the two palette entries differ from the colour
// decides what is counted, a byte of pixels at a time along rows.
MarginEdges ScanBitonal(const RasterImage& image, ColorRef colour, MarginLimits limits) {
    const auto width = static_cast<int32_t>(image.GetWidth());
    const auto height = static_cast<int32_t>(image.GetHeight());
    const bool zeroDiffers = !Matches(image.GetPaletteColor(0), colour);
    const bool oneDiffers = !Matches(image.GetPaletteColor(1), colour);
    const uint32_t usedBytes = px::UsedRowBytes(image.GetWidth(), 1);
    const uint8_t lastMask = px::LastByteMask(image.GetWidth(), 1);
    auto row = [&](int32_t k) { return image.RowPtr(static_cast<uint32_t>(height - 1 - k)); };

    auto rowCount = [&](int32_t k, int32_t) {
        if (!zeroDiffers && !oneDiffers) return 0;
        if (zeroDiffers && oneDiffers) return width;
        const uint8_t* r = row(k);
        int32_t ones = 0;
        for (uint32_t i = 0; i + 1 < usedBytes; ++i) ones += std::popcount(r[i]);
        ones += std::popcount(static_cast<uint8_t>(r[usedBytes - 1] & lastMask));
        return oneDiffers ? ones : width - ones;
    };
    auto columnCount = [&](int32_t x, int32_t top, int32_t bottom, int32_t limit) {
        if (!zeroDiffers && !oneDiffers) return 0;
        if (zeroDiffers && oneDiffers) return bottom > top ? bottom - top : 0;
        const uint8_t wanted = oneDiffers ? 1 : 0;
        int32_t n = 0;
        for (int32_t k = top; k < bottom && n < limit; ++k)
            n += px::GetBit(row(k), static_cast<uint32_t>(x)) == wanted;
        return n;
    };
    return Scan(width, height, limits, rowCount, columnCount);
}

// The box Crop keeps of the edges: up to, not including, the right and
// bottom edges, within the page.
PageBox CroppedBox(const MarginEdges& e, int32_t width, int32_t height) {
    auto clamp = [](int32_t v, int32_t hi) { return v < 0 ? 0 : (v > hi ? hi : v); };
    const int32_t x0 = clamp(e.left, width), x1 = clamp(e.right, width);
    const int32_t y0 = clamp(e.top, height), y1 = clamp(e.bottom, height);
    return PageBox{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)};
}

}  // namespace

MarginLimits MarginLimitsFor(double fuzz, uint32_t width, uint32_t height) {
    const double f = (std::isnan(fuzz) || fuzz < 0.0 || fuzz > 100.0) ? 80.0 : fuzz;
    auto limit = [f](uint32_t length) {
        const auto n = static_cast<int32_t>((100.0 - f) * length * 0.01);
        return n < 1 ? 1 : n;
    };
    return MarginLimits{limit(width), limit(height)};
}

MarginEdges FindMarginEdgesByPixel(const RasterImage& image, ColorRef colour, MarginLimits limits) {
    const auto width = static_cast<int32_t>(image.GetWidth());
    const auto height = static_cast<int32_t>(image.GetHeight());
    auto differs = [&](int32_t x, int32_t k) {
        return !Matches(image.GetPixelColor(x, height - 1 - k, false), colour);
    };
    auto rowCount = [&](int32_t k, int32_t limit) {
        int32_t n = 0;
        for (int32_t x = 0; x < width && n < limit; ++x) n += differs(x, k);
        return n;
    };
    auto columnCount = [&](int32_t x, int32_t top, int32_t bottom, int32_t limit) {
        int32_t n = 0;
        for (int32_t k = top; k < bottom && n < limit; ++k) n += differs(x, k);
        return n;
    };
    return Scan(width, height, limits, rowCount, columnCount);
}

MarginEdges FindMarginEdges(const RasterImage& image, ColorRef colour, MarginLimits limits) {
    if (!image.IsValid()) return MarginEdges{};
    if (image.GetBpp() == 1) return ScanBitonal(image, colour, limits);
    return FindMarginEdgesByPixel(image, colour, limits);
}

bool LocateBorderAndCrop(const ToolOptions& options, RasterImage& image, RasterImage& result,
                         ColorRef colour) {
    if (!image.IsValid()) return false;
    const int32_t xDpi = image.GetXDpi(), yDpi = image.GetYDpi();
    const auto width = static_cast<int32_t>(image.GetWidth());
    const auto height = static_cast<int32_t>(image.GetHeight());
    RasterImage page(image);
    const MarginLimits limits = MarginLimitsFor(options.fuzz, image.GetWidth(), image.GetHeight());

    if (options.adaptive && image.GetBpp() > 1) image.AdaptiveThreshold();
    if (image.GetBpp() > 1) {
        const int32_t level = image.OptimalThreshold(0, nullptr, nullptr);
        if (level > 0) {
            ConsolePrintf("[Message] OptimalThreshold=%d\n", level);
            RecordPageFact([&](PageFacts& f) { f.threshold = level; });
            image.Threshold(static_cast<uint8_t>(level));
        }
        if (image.GetBpp() > 1) image.DecreaseBpp(1, false, nullptr, 0);
    }

    const MarginEdges e = FindMarginEdges(image, colour, limits);
    if (e.left == 0 && e.top == 0) {
        const char* where = nullptr;
        if (e.right == width - 1 && e.bottom == height - 1)
            where = "image";
        else if (e.right == 0 && e.bottom == 0)
            where = "a full color image";
        if (where) {
            ConsolePrintf("[Error] Failed to locate border [RGB(%02X,%02X,%02X)] in %s.\n",
                          colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF, where);
            return false;
        }
    }

    const bool cropped = page.Crop(e.left, e.top, e.right, e.bottom, &result);
    RecordPageFact([&](PageFacts& f) {
        f.border = PageBox{e.left, e.top, e.right + 1, e.bottom + 1};
    });
    if (cropped) RecordPageFact([&](PageFacts& f) { f.crop = CroppedBox(e, width, height); });
    if (cropped) {
        if (xDpi >= 1 && xDpi <= 9999) result.SetXDpi(xDpi);
        if (yDpi >= 1 && yDpi <= 9999) result.SetYDpi(yDpi);
    }
    ConsolePrintf("[%s] Locate border (%d, %d, %d, %d) from image.\n", cropped ? "OK" : "Error",
                  e.left, e.top, e.right, e.bottom);
    return cropped;
}

}  // namespace sheetmend
