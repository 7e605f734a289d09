// Margin trimming. The margins are searched on a black-and-white version of
// the page: from each side inwards, the first row (column) in which enough
// pixels differ from the margin colour is where the page begins. A 1-bit page
// is searched as it is. A deeper page is not converted whole: strips of rows
// and bands of columns are cut from it as the search reaches them and made
// black and white alone, by the same threshold and reduction the whole page
// would get (each pixel's result depends on that pixel alone), so only the
// margins and the first rows and columns of the page are read twice. The
// rectangle between the four edges is then cut from the page, which keeps its
// colours and its resolution.
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

// The same edges for a page deeper than 1 bit, read from strips of the page
// made black and white one at a time (see the top of the file). Rows come in
// strips of kStripRows, columns in bands of kBandColumns over the rows the
// column scan asks for; the last strip and band are kept for the next ask.
class StripScanner {
  public:
    StripScanner(RasterImage& page, ColorRef colour, int32_t level)
        : page_(page),
          colour_(colour),
          level_(level),
          width_(static_cast<int32_t>(page.GetWidth())),
          height_(static_cast<int32_t>(page.GetHeight())) {}

    int32_t RowCount(int32_t k) {
        if (rowStrip_.IsValid() && k >= rowFirst_ && k < rowFirst_ + kStripRows)
            return RowCount(rowStrip_, k - rowFirst_);
        rowFirst_ = k - k % kStripRows;
        rowStrip_ = Strip(0, rowFirst_, width_, std::min(height_, rowFirst_ + kStripRows));
        return RowCount(rowStrip_, k - rowFirst_);
    }

    int32_t ColumnCount(int32_t x, int32_t top, int32_t bottom) {
        if (bottom <= top) return 0;
        const int32_t first = x - x % kBandColumns;
        if (first != bandFirst_ || top != bandTop_ || bottom != bandBottom_) {
            bandFirst_ = first;
            bandTop_ = top;
            bandBottom_ = bottom;
            const int32_t end = std::min(width_, first + kBandColumns);
            const RasterImage band = Strip(first, top, end, bottom);
            bandCounts_.assign(static_cast<size_t>(end - first), 0);
            if (band.IsValid()) CountColumns(band, bandCounts_);
        }
        return bandCounts_[static_cast<size_t>(x - first)];
    }

  private:
    static constexpr int32_t kStripRows = 16;
    static constexpr int32_t kBandColumns = 32;

    // Rows top .. bottom - 1 and columns left .. right - 1 of the page (rows
    // counted from the top), black and white.
    RasterImage Strip(int32_t left, int32_t top, int32_t right, int32_t bottom) {
        RasterImage strip;
        if (!page_.Crop(left, top, right, bottom, &strip)) return strip;
        if (level_ > 0) strip.Threshold(static_cast<uint8_t>(level_));
        if (strip.GetBpp() > 1) strip.DecreaseBpp(1, false, nullptr, 0);
        return strip;
    }

    // The pixels of top-down row j of a strip that differ from the margin
    // colour. A strip that stayed deeper than 1 bit (its reduction failed) is
    // read through its colours, as such a page is.
    int32_t RowCount(const RasterImage& strip, int32_t j) const {
        if (!strip.IsValid()) return 0;
        const auto width = static_cast<int32_t>(strip.GetWidth());
        const auto y = static_cast<uint32_t>(static_cast<int32_t>(strip.GetHeight()) - 1 - j);
        if (strip.GetBpp() != 1) {
            int32_t n = 0;
            for (int32_t x = 0; x < width; ++x) n += Differs(strip, x, j);
            return n;
        }
        const bool zeroDiffers = !Matches(strip.GetPaletteColor(0), colour_);
        const bool oneDiffers = !Matches(strip.GetPaletteColor(1), colour_);
        if (zeroDiffers == oneDiffers) return zeroDiffers ? width : 0;
        const uint8_t* row = strip.RowPtr(y);
        const uint32_t used = px::UsedRowBytes(strip.GetWidth(), 1);
        int32_t ones = 0;
        for (uint32_t i = 0; i + 1 < used; ++i) ones += std::popcount(row[i]);
        ones += std::popcount(
            static_cast<uint8_t>(row[used - 1] & px::LastByteMask(strip.GetWidth(), 1)));
        return oneDiffers ? ones : width - ones;
    }

    // Adds the differing pixels of each column of a strip to counts.
    void CountColumns(const RasterImage& strip, std::vector<int32_t>& counts) const {
        const auto width = static_cast<int32_t>(strip.GetWidth());
        const auto height = static_cast<int32_t>(strip.GetHeight());
        if (strip.GetBpp() != 1) {
            for (int32_t j = 0; j < height; ++j)
                for (int32_t x = 0; x < width; ++x)
                    counts[static_cast<size_t>(x)] += Differs(strip, x, j);
            return;
        }
        const int32_t differs[2] = {!Matches(strip.GetPaletteColor(0), colour_),
                                    !Matches(strip.GetPaletteColor(1), colour_)};
        for (int32_t y = 0; y < height; ++y) {
            const uint8_t* row = strip.RowPtr(static_cast<uint32_t>(y));
            for (int32_t x = 0; x < width; ++x)
                counts[static_cast<size_t>(x)] +=
                    differs[px::GetBit(row, static_cast<uint32_t>(x))];
        }
    }

    bool Differs(const RasterImage& strip, int32_t x, int32_t j) const {
        const int32_t y = static_cast<int32_t>(strip.GetHeight()) - 1 - j;
        if (strip.GetBpp() != 1) return !Matches(strip.GetPixelColor(x, y, false), colour_);
        const uint8_t bit =
            px::GetBit(strip.RowPtr(static_cast<uint32_t>(y)), static_cast<uint32_t>(x));
        return !Matches(strip.GetPaletteColor(bit), colour_);
    }

    RasterImage& page_;  // Crop moves its progress counter
    ColorRef colour_;
    int32_t level_;
    int32_t width_, height_;
    RasterImage rowStrip_;
    int32_t rowFirst_ = 0;
    std::vector<int32_t> bandCounts_;
    int32_t bandFirst_ = -1, bandTop_ = 0, bandBottom_ = 0;
};

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

MarginEdges FindMarginEdgesInStrips(RasterImage& image, ColorRef colour, MarginLimits limits,
                                    int32_t level) {
    if (!image.IsValid()) return MarginEdges{};
    if (image.GetBpp() == 1) return ScanBitonal(image, colour, limits);
    StripScanner strips(image, colour, level);
    return Scan(
        static_cast<int32_t>(image.GetWidth()), static_cast<int32_t>(image.GetHeight()), limits,
        [&](int32_t k, int32_t) { return strips.RowCount(k); },
        [&](int32_t x, int32_t top, int32_t bottom, int32_t) {
            return strips.ColumnCount(x, top, bottom);
        });
}

bool LocateBorderAndCrop(const ToolOptions& options, RasterImage& image, RasterImage& result,
                         ColorRef colour) {
    if (!image.IsValid()) return false;
    const int32_t xDpi = image.GetXDpi(), yDpi = image.GetYDpi();
    const auto width = static_cast<int32_t>(image.GetWidth());
    const auto height = static_cast<int32_t>(image.GetHeight());
    const MarginLimits limits = MarginLimitsFor(options.fuzz, image.GetWidth(), image.GetHeight());

    int32_t level = 0;
    MarginEdges e;
    if (options.adaptive && image.GetBpp() > 1) {
        // The local threshold needs the whole page: the margins are searched
        // on a black-and-white copy, and the page keeps its pixels.
        RasterImage bitonal(image);
        bitonal.AdaptiveThreshold();
        e = FindMarginEdgesInStrips(bitonal, colour, limits, 0);
    } else {
        if (image.GetBpp() > 1) {
            level = image.OptimalThreshold(0, nullptr, nullptr);
            if (level > 0) {
                ConsolePrintf("[Message] OptimalThreshold=%d\n", level);
                RecordPageFact([&](PageFacts& f) { f.threshold = level; });
            }
        }
        e = FindMarginEdgesInStrips(image, colour, limits, level);
    }
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

    const bool cropped = image.Crop(e.left, e.top, e.right, e.bottom, &result);
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
