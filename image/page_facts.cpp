#include "image/page_facts.h"

#include "image/blank_page.h"
#include "image/raster_image.h"

namespace sheetmend {

namespace {
thread_local PageFacts* current = nullptr;
}  // namespace

PageFacts* CurrentPageFacts() {
    return current;
}

PageFactsScope::PageFactsScope(PageFacts& facts) : previous_(current) {
    current = &facts;
}

PageFactsScope::~PageFactsScope() {
    current = previous_;
}

void RecordLoadedPage(const RasterImage& page) {
    PageFacts* facts = current;
    if (!facts || facts->width || !page.IsValid()) return;
    facts->width = static_cast<int32_t>(page.GetWidth());
    facts->height = static_cast<int32_t>(page.GetHeight());
    facts->xDpi = page.GetXDpi();
    facts->yDpi = page.GetYDpi();
    facts->bitsIn = static_cast<int32_t>(page.GetBpp());
    const InkMeasure measure = MeasureInk(page);
    facts->ink = measure.ink;
    facts->blank = measure.blank;
}

}  // namespace sheetmend
