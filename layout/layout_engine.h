// The layout segmentation engine: divides a region of a one-bit page into
// rectangular blocks of horizontal text, vertical text, pictures and ruled
// tables. Ruling lines are found first and give tables, frames and
// separators; the page is cut along them, the pieces are merged and
// rejoined, and every block that is not a table goes to the block analysis.
#pragma once

#include <cstdint>
#include <vector>

#include "layout/block_analysis.h"
#include "layout/engine_context.h"

namespace sheetmend {

// One result block: inclusive pixels, origin top-left; type is a BlockType
// (kHorizontalText, kVerticalText, kPicture, kTable).
struct LayoutBlock {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    uint32_t type = kPicture;
    friend bool operator==(const LayoutBlock&, const LayoutBlock&) = default;
};

// Analyses the region (x0, y0, x1, y1) of the page rows held by `ctx` (rows
// top first, MSB leftmost, set bit = ink). The blocks come in the engine's
// order; an empty list when nothing was found. The page is only read.
std::vector<LayoutBlock> AnalyzeLayout(EngineContext& ctx, int32_t x0, int32_t y0, int32_t x1,
                                       int32_t y1);

// The same with a context of its own for this one call.
std::vector<LayoutBlock> AnalyzeLayout(const uint8_t* rows, int32_t rowBits, int32_t height,
                                       int32_t x0, int32_t y0, int32_t x1, int32_t y1);

}  // namespace sheetmend
