// Block profile analysis: one block of a one-bit page is cut recursively by
// column and row projection profiles into groups of text lines; each group
// is typed as horizontal or vertical text, and a block without text lines
// is reported as a picture.
#pragma once

#include <cstdint>
#include <vector>

#include "layout/engine_context.h"

namespace sheetmend {

// Result types of the block analysis and of the layout engine.
enum BlockType : uint32_t {
    kHorizontalText = 0,
    kVerticalText = 1,
    kPicture = 2,
    kTable = 3,
};

// One result of AnalyzeBlock: a box inside the block (inclusive pixels,
// origin top-left) and its type (kHorizontalText, kVerticalText or kPicture).
struct BlockRecord {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    uint32_t type = kPicture;
};

// Sets up the analysis of the box (x0, y0, x1, y1) in the context's pool: the
// region's record and its profile arrays. False when the pool cannot supply
// them. Skew detection calls it for its own working memory.
bool BeginRegion(EngineContext& ctx, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// The records of one block, in the block's reading order; at least one.
std::vector<BlockRecord> AnalyzeBlock(EngineContext& ctx, int32_t x0, int32_t y0, int32_t x1,
                                      int32_t y1);

// Frees everything the analysis of the last block took from the pool.
void ReleasePool(EngineContext& ctx);

}  // namespace sheetmend
