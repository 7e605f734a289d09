#include "pipeline/straighten.h"

#include <cmath>

#include "image/page_facts.h"
#include "image/raster_image.h"
#include "image/skew_turn.h"
#include "layout/page_skew.h"
#include "platform/console.h"

namespace sheetmend {

namespace {

// Below this the turn would move no line end by a pixel on most pages.
constexpr double kSmallestTurnDegrees = 0.05;

}  // namespace

bool StraightenPage(const ToolOptions& options, RasterImage& page) {
    if (!page.IsValid()) return false;
    const double range = options.skewrange > 0 ? options.skewrange : kDefaultSkewRangeDegrees;
    const PageSkew skew = MeasurePageSkew(page, range);
    // The report's confidence: the sharpness ratio taken to 0 .. 1.
    RecordPageFact([&](PageFacts& f) {
        f.confidence = skew.confidence > 1.0 ? 1.0 - 1.0 / skew.confidence : 0.0;
        if (skew.trusted) {
            f.skew = skew.degrees;
            f.rotated = 0.0;
        }
    });
    if (!skew.trusted) {
        ConsolePrintf("[Message] Straighten: page left as it is (%s).\n", skew.reason);
        return true;
    }
    if (std::fabs(skew.degrees) < kSmallestTurnDegrees) {
        ConsolePrintf("[Message] Straighten: skew %.2f degrees, page left as it is.\n",
                      PrintedDegrees(skew.degrees));
        return true;
    }
    if (!TurnToLevel(page, skew.degrees, EstimatePaper(page))) {
        ConsolePrintf("[ERROR] Straighten: the page could not be turned: %s\n",
                      page.GetLastError());
        return false;
    }
    RecordPageFact([&](PageFacts& f) { f.rotated = -skew.degrees; });
    // The turn counts as -rotate does, positive clockwise.
    ConsolePrintf("[Message] Straighten: skew %.2f degrees, page turned by %.2f degrees.\n",
                  skew.degrees, -skew.degrees);
    return true;
}

}  // namespace sheetmend
