// CleanPage: loads the page black and white, despeckles it, measures and
// turns back its skew, and saves it.
#include "pipeline/clean_page.h"

#include <cmath>
#include <cstdio>

#include "image/page_facts.h"

#include "layout/skew.h"
#include "platform/console.h"

namespace sheetmend {

namespace {
constexpr int32_t kDefaultSpeckleSize = 20;

// The angle measured and the turn applied, in degrees; RotatePage leaves
// angles outside its range alone, so those pages are turned by 0.
void RecordDeskew(PageFacts& facts, float angle) {
    const double measured = static_cast<double>(angle);
    const double magnitude = std::fabs(measured);
    const bool turned = magnitude >= 0.0001 && magnitude <= 0.05;
    facts.skew = measured * 180.0 / M_PI;
    facts.rotated = turned ? -*facts.skew : 0.0;
}
}  // namespace

int32_t PaddedRowBits(const PageBitmap& page) {
    return static_cast<int32_t>(page.RowBytes() * 8);
}

void CleanPageBitmap(PageBitmap& page, bool despeckle, int32_t speckleSize, bool deskew) {
    if (despeckle)
        Despeckle(page.bits.data(), page.width, page.height,
                  speckleSize > 0 ? speckleSize : kDefaultSpeckleSize);
    if (deskew) {
        const float angle = DetectSkew(page.bits.data(), PaddedRowBits(page), page.height, 0, 0,
                                       page.width - 1, page.height - 1);
        if (angle != 0) RotatePage(page, -static_cast<double>(angle));
        RecordPageFact([&](PageFacts& f) { RecordDeskew(f, angle); });
    }
}

}  // namespace sheetmend
