// The content band: the rows between the first and the last stretch of at
// least 180 inked rows, sampled every second row. Ruling lines are only
// looked for inside it, which keeps page headers and footers out of the grid.
#include <vector>

#include "layout/segmentation_internal.h"

namespace sheetmend::layout_internal {

bool FindContentBand(const EngineContext& ctx, const Box& region, Box* band) {
    const int32_t byte0 = region.x0 >> 3, byte1 = region.x1 >> 3;
    const int32_t samples = (region.y1 - region.y0) / 2 + 1;
    std::vector<uint8_t> inked(static_cast<size_t>(samples));
    for (int32_t i = 0; i < samples; ++i)
        inked[i] = RowBlank(ctx, region.y0 + 2 * i, byte0, byte1) ? 0 : 1;

    // Downward: the first sample 180 rows below the last blank one.
    int32_t lastBlank = 0;
    bool found = false;
    for (int32_t i = 0; i < samples; ++i) {
        if (!inked[i]) {
            lastBlank = i;
        } else if (2 * (i - lastBlank) >= 180) {
            found = true;
            break;
        }
    }
    if (!found) return false;
    const int32_t top = 2 * lastBlank;

    // Upward from the last sample, the same test from below.
    int32_t remembered = samples - 1;
    for (int32_t i = samples - 1; i >= 0 && 2 * i - top > 180; --i) {
        if (!inked[i]) remembered = i;
        if (2 * (remembered - i) >= 180) break;
    }
    const int32_t bottom = 2 * remembered;

    band->x0 = region.x0;
    band->x1 = region.x1;
    band->y0 = std::max(region.y0, region.y0 + top - 40);
    band->y1 = std::min(region.y1, region.y0 + bottom + 8);
    return true;
}

}  // namespace sheetmend::layout_internal
