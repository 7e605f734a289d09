#include "layout/block_analysis.h"

namespace sheetmend {

// Placeholder until the profile analysis lands: every block is one picture.
bool BeginRegion(EngineContext& ctx, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const int64_t w = int64_t{x1} - x0 + 1, h = int64_t{y1} - y0 + 1;
    if (w <= 0 || h <= 0) return false;
    return ctx.pool.AllocateArray<int32_t>(static_cast<size_t>(w + h)) != nullptr;
}

std::vector<BlockRecord> AnalyzeBlock(EngineContext& ctx, int32_t x0, int32_t y0, int32_t x1,
                                      int32_t y1) {
    BeginRegion(ctx, x0, y0, x1, y1);
    return {BlockRecord{x0, y0, x1, y1, kPicture}};
}

void ReleasePool(EngineContext& ctx) { ctx.pool.Release(); }

}  // namespace sheetmend
