#include "pipeline/clean_pass.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "image/raster_image.h"
#include "image/skew_turn.h"
#include "layout/page_skew.h"
#include "pipeline/clean_specks.h"
#include "platform/console.h"

namespace sheetmend {

namespace {

constexpr double kSmallestTurnDegrees = 0.05;

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
