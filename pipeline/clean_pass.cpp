#include "pipeline/clean_pass.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "image/pixel_access.h"
#include "image/raster_image.h"
#include "image/skew_turn.h"
#include "layout/page_skew.h"
#include "pipeline/bit_rows.h"
#include "pipeline/clean_page.h"
#include "platform/console.h"

namespace sheetmend {

namespace {

constexpr int32_t kDefaultSpeckleSize = 20;
constexpr double kSmallestTurnDegrees = 0.05;

// Goes through the 8-connected components of `erased` (clearing them as it
// goes). A component with ink of `kept` within `guard` pixels of its box is
// punctuation or the dot of an i beside its letter, not a speck on the
// paper: its pixels go back into `kept`. Returns the number of components
// that stay erased.
int32_t KeepSpecksNearInk(std::vector<uint8_t>& erased, std::vector<uint8_t>& kept,
                          int32_t rowBytes, int32_t width, int32_t height, int32_t guard) {
    int32_t count = 0;
    std::vector<int64_t> stack, pixels;
    auto at = [&](std::vector<uint8_t>& bits, int32_t y) {
        return bits.data() + static_cast<size_t>(y) * rowBytes;
    };
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = bit_rows::NextSetBit(at(erased, y), 0, width - 1); x >= 0;
             x = bit_rows::NextSetBit(at(erased, y), x, width - 1)) {
            int32_t left = x, right = x, top = y, bottom = y;
            pixels.clear();
            stack.push_back(static_cast<int64_t>(y) * width + x);
            bit_rows::FillBits(at(erased, y), x, x, false);
            while (!stack.empty()) {
                const int64_t p = stack.back();
                stack.pop_back();
                pixels.push_back(p);
                const auto py = static_cast<int32_t>(p / width),
                           pxl = static_cast<int32_t>(p % width);
                left = std::min(left, pxl), right = std::max(right, pxl);
                top = std::min(top, py), bottom = std::max(bottom, py);
                for (int32_t ny = std::max(0, py - 1); ny <= std::min(height - 1, py + 1); ++ny)
                    for (int32_t nx = std::max(0, pxl - 1); nx <= std::min(width - 1, pxl + 1);
                         ++nx)
                        if (bit_rows::TestBit(at(erased, ny), nx)) {
                            bit_rows::FillBits(at(erased, ny), nx, nx, false);
                            stack.push_back(static_cast<int64_t>(ny) * width + nx);
                        }
            }
            bool nearInk = false;
            const int32_t x0 = std::max(0, left - guard), x1 = std::min(width - 1, right + guard);
            for (int32_t ny = std::max(0, top - guard);
                 !nearInk && ny <= std::min(height - 1, bottom + guard); ++ny)
                nearInk = bit_rows::NextSetBit(at(kept, ny), x0, x1) >= 0;
            if (!nearInk) {
                ++count;
                continue;
            }
            for (const int64_t p : pixels) {
                const auto py = static_cast<int32_t>(p / width),
                           pxl = static_cast<int32_t>(p % width);
                bit_rows::FillBits(at(kept, py), pxl, pxl, true);
            }
        }
    }
    return count;
}

// Whether the paper of a grey or colour page is uneven or not white, so
// that flattening would change it: the light level of each tile (its 90th
// percentile of luminance, sampled every 4th pixel of every 4th row) must
// all lie within kEvenSpread of each other and at or above kWhitePaper for
// the page to be left as it is.
constexpr int32_t kTile = 64, kSample = 4, kEvenSpread = 12, kWhitePaper = 215;

bool NeedsFlattening(const RasterImage& page) {
    const auto width = static_cast<int32_t>(page.GetWidth());
    const auto height = static_cast<int32_t>(page.GetHeight());
    const uint32_t bpp = page.GetBpp();
    uint8_t lut[256] = {};
    if (bpp == 8)
        for (uint32_t i = 0; i < 256; ++i) {
            const RgbQuad c = page.GetPaletteColor(static_cast<uint8_t>(i));
            lut[i] = static_cast<uint8_t>((c.red * 299 + c.green * 587 + c.blue * 114) / 1000);
        }
    const int32_t tilesX = (width + kTile - 1) / kTile, step = static_cast<int32_t>(bpp / 8);
    std::vector<std::vector<uint8_t>> tiles(static_cast<size_t>(tilesX));
    int32_t lightest = 0, darkest = 255;
    auto close = [&](std::vector<uint8_t>& t) {
        if (t.size() < 16) return t.clear();
        auto nth = t.begin() + static_cast<std::ptrdiff_t>(t.size() * 9 / 10);
        std::nth_element(t.begin(), nth, t.end());
        lightest = std::max<int32_t>(lightest, *nth);
        darkest = std::min<int32_t>(darkest, *nth);
        t.clear();
    };
    for (int32_t y = 0; y < height; y += kSample) {
        const uint8_t* row = page.RowPtr(static_cast<uint32_t>(y));
        for (int32_t x = 0; x < width; x += kSample) {
            const uint8_t* p = row + static_cast<size_t>(x) * step;
            tiles[x / kTile].push_back(
                bpp == 8 ? lut[*p]
                         : static_cast<uint8_t>((p[2] * 299 + p[1] * 587 + p[0] * 114) / 1000));
        }
        if ((y + kSample) % kTile < kSample || y + kSample >= height)
            for (auto& t : tiles) close(t);
    }
    return lightest - darkest > kEvenSpread || darkest < kWhitePaper;
}

}  // namespace

int32_t RemoveSpecks(RasterImage& page, int32_t speckleSize) {
    if (!page.IsValid() || page.GetBpp() != 1) return 0;
    const auto width = static_cast<int32_t>(page.GetWidth());
    const auto height = static_cast<int32_t>(page.GetHeight());
    const RgbQuad c0 = page.GetPaletteColor(0), c1 = page.GetPaletteColor(1);
    const bool inkIsOne = c1.red + c1.green + c1.blue <= c0.red + c0.green + c0.blue;
    // The despeckle works on rows padded to 16 pixels, top row first, with
    // set bits for ink.
    const int32_t rowBytes = ((width + 15) >> 4) * 2;
    const auto used = static_cast<int32_t>(px::UsedRowBytes(page.GetWidth(), 1));
    const uint8_t lastMask = px::LastByteMask(page.GetWidth(), 1);
    std::vector<uint8_t> ink(static_cast<size_t>(rowBytes) * height, 0);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* src = page.RowPtr(static_cast<uint32_t>(height - 1 - y));
        uint8_t* dst = ink.data() + static_cast<size_t>(y) * rowBytes;
        for (int32_t i = 0; i < used; ++i)
            dst[i] = inkIsOne ? src[i] : static_cast<uint8_t>(~src[i]);
        dst[used - 1] &= lastMask;
    }
    std::vector<uint8_t> erased = ink;
    const int32_t size = speckleSize > 0 ? speckleSize : kDefaultSpeckleSize;
    Despeckle(ink.data(), width, height, size);
    bool changed = false;
    for (size_t i = 0; i < erased.size(); ++i) {
        erased[i] = static_cast<uint8_t>(erased[i] & ~ink[i]);
        changed |= erased[i] != 0;
    }
    if (!changed) return 0;
    const int32_t removed =
        KeepSpecksNearInk(erased, ink, rowBytes, width, height, std::max(1, size / 10));
    if (removed == 0) return 0;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* dst = page.RowPtr(static_cast<uint32_t>(height - 1 - y));
        const uint8_t* src = ink.data() + static_cast<size_t>(y) * rowBytes;
        for (int32_t i = 0; i < used; ++i)
            dst[i] = inkIsOne ? src[i] : static_cast<uint8_t>(~src[i]);
        dst[used - 1] &= lastMask;
    }
    return removed;
}

void CleanBeforeOrient(const ToolOptions& options, RasterImage& page, CleanRecord& record) {
    if (!page.IsValid()) return;
    record.border = RemovePageBorder(page);
    const uint32_t bpp = page.GetBpp();
    if (!options.flatten && (bpp == 8 || bpp == 24 || bpp == 32) && NeedsFlattening(page))
        record.flattened = page.FlattenBackground();
}

void CleanStraighten(const ToolOptions& options, RasterImage& page, CleanRecord& record) {
    if (!page.IsValid()) return;
    const double range = options.skewrange > 0 ? options.skewrange : kDefaultSkewRangeDegrees;
    const PageSkew skew = MeasurePageSkew(page, range);
    if (!skew.trusted) return;
    record.measured = true;
    record.skewDegrees = skew.degrees;
    if (std::fabs(skew.degrees) < kSmallestTurnDegrees) return;
    record.turned = TurnToLevel(page, skew.degrees, EstimatePaper(page));
}

void CleanAfterConversion(const ToolOptions& options, RasterImage& page, CleanRecord& record) {
    if (page.IsValid() && page.GetBpp() == 1)
        record.specks = RemoveSpecks(page, options.specklesize);
    char border[96] = "no border";
    if (record.border.Found())
        std::snprintf(border, sizeof border,
                      "border removed (left %d, top %d, right %d, bottom %d)", record.border.left,
                      record.border.top, record.border.right, record.border.bottom);
    char angle[64] = "skew not measured";
    if (record.turned)
        std::snprintf(angle, sizeof angle, "turned by %.2f degrees", -record.skewDegrees);
    else if (record.measured)
        std::snprintf(angle, sizeof angle, "level (skew %.2f degrees)",
                      PrintedDegrees(record.skewDegrees));
    char specks[48] = "";
    if (record.specks >= 0)
        std::snprintf(specks, sizeof specks, ", %d specks removed", record.specks);
    ConsolePrintf("[Message] Clean: %s, %s%s%s.\n", border,
                  record.flattened ? "background flattened, " : "", angle, specks);
}

}  // namespace sheetmend
