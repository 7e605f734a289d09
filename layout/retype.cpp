// Final typing of the result blocks by their size: narrow tall blocks are
// vertical text unless they are solid vertical rules, which are dropped;
// low blocks are horizontal text unless they are solid horizontal rules.
#include <algorithm>

#include "layout/segmentation_internal.h"

namespace sheetmend::layout_internal {

namespace {

// Byte range of a block, clipped to the row.
void ByteRange(const EngineContext& ctx, const LayoutBlock& b, int32_t* first, int32_t* last) {
    *first = std::max(b.x0 >> 3, 0);
    *last = std::min(b.x1 >> 3, ctx.RowBytes() - 1);
}

}  // namespace

bool IsVerticalRule(const EngineContext& ctx, const LayoutBlock& b) {
    int32_t first, last;
    ByteRange(ctx, b, &first, &last);
    const int32_t y0 = std::max(b.y0, 0), y1 = std::min(b.y1, ctx.height - 1);
    if (y1 < y0) return false;
    int64_t inked = 0;
    for (int32_t y = y0; y <= y1; ++y)
        if (!RowBlank(ctx, y, first, last)) ++inked;
    return static_cast<double>(inked) > 0.98 * static_cast<double>(b.y1 - b.y0 + 1);
}

bool IsHorizontalRule(const EngineContext& ctx, const LayoutBlock& b) {
    int32_t first, last;
    ByteRange(ctx, b, &first, &last);
    if (last < first) return false;
    std::vector<uint8_t> profile(static_cast<size_t>(last - first + 1), 0);
    const int32_t y0 = std::max(b.y0, 0), y1 = std::min(b.y1, ctx.height - 1);
    for (int32_t y = y0; y <= y1; ++y) {
        const uint8_t* row = ctx.Row(y);
        for (int32_t i = first; i <= last; ++i) profile[i - first] |= row[i];
    }
    int64_t bits = 0;
    for (uint8_t v : profile) bits += kBitCount[v];
    return static_cast<double>(bits) > 0.98 * 8.0 * static_cast<double>(profile.size());
}

void RetypeBlocks(const EngineContext& ctx, std::vector<LayoutBlock>& blocks) {
    std::vector<LayoutBlock> kept;
    kept.reserve(blocks.size());
    for (LayoutBlock b : blocks) {
        const int32_t w = b.x1 - b.x0, h = b.y1 - b.y0;
        if (h >= 100 && w >= 100) {
        } else if (h >= 100) {
            if (w < 60 && IsVerticalRule(ctx, b)) continue;
            b.type = kVerticalText;
        } else {
            if (h < 60 && IsHorizontalRule(ctx, b)) continue;
            b.type = kHorizontalText;
        }
        kept.push_back(b);
    }
    blocks = std::move(kept);
}

}  // namespace sheetmend::layout_internal
