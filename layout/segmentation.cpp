// The layout engine's stages in order: content band, ruling lines, tables
// and frames, separator cuts with merges and rejoins, per-block analysis and
// the final typing. A page without a content band goes to the block analysis
// whole.
#include <algorithm>
#include <cstdio>

#include "layout/segmentation_internal.h"
#include "platform/error_box.h"

namespace sheetmend {

namespace layout_internal {

void InsertHorizontal(std::vector<RuleLine>& list, const RuleLine& line) {
    auto it = std::find_if(list.begin(), list.end(), [&](const RuleLine& l) {
        return HorizontalLength(l) < HorizontalLength(line);
    });
    list.insert(it, line);
}

void InsertVertical(std::vector<RuleLine>& list, const RuleLine& line) {
    auto it = std::find_if(list.begin(), list.end(), [&](const RuleLine& l) {
        return VerticalLength(l) < VerticalLength(line);
    });
    list.insert(it, line);
}

void InsertBlock(std::vector<PageBlock>& blocks, const PageBlock& block) {
    auto it = std::find_if(blocks.begin(), blocks.end(), [&](const PageBlock& b) {
        return b.y0 > block.y0 || (b.y0 == block.y0 && b.x0 >= block.x0);
    });
    blocks.insert(it, block);
}

bool RowBlank(const EngineContext& ctx, int32_t y, int32_t byte0, int32_t byte1) {
    if (y < 0 || y >= ctx.height) return true;
    byte0 = std::max(byte0, 0);
    byte1 = std::min(byte1, ctx.RowBytes() - 1);
    const uint8_t* row = ctx.Row(y);
    for (int32_t b = byte0; b <= byte1; ++b)
        if (row[b] != 0) return false;
    return true;
}

}  // namespace layout_internal

using namespace layout_internal;

namespace {

// The region clipped to the page; false when nothing of it is left.
bool ClipRegion(const EngineContext& ctx, Box& r) {
    if (ctx.rows == nullptr || ctx.rowBits <= 0 || ctx.height <= 0) return false;
    r.x0 = std::max(r.x0, 0);
    r.y0 = std::max(r.y0, 0);
    r.x1 = std::min(r.x1, ctx.rowBits - 1);
    r.y1 = std::min(r.y1, ctx.height - 1);
    return r.x0 <= r.x1 && r.y0 <= r.y1;
}

// Records with a coordinate of -1 carry no box and are left out.
void AppendRecords(std::vector<LayoutBlock>& out, const std::vector<BlockRecord>& records) {
    for (const BlockRecord& r : records) {
        if (r.x0 == -1 || r.y0 == -1 || r.x1 == -1 || r.y1 == -1) continue;
        out.push_back(LayoutBlock{r.x0, r.y0, r.x1, r.y1, r.type});
    }
}

}  // namespace

namespace layout_internal {

std::vector<LayoutBlock> ClassifyBlocks(Segmenter& s) {
    std::vector<LayoutBlock> out;
    for (const PageBlock& b : s.blocks) {
        if (b.isTable) {
            // Tables report their own type so that they are labelled as such.
            out.push_back(LayoutBlock{b.x0, b.y0, b.x1, b.y1, kTable});
            continue;
        }
        AppendRecords(out, AnalyzeBlock(s.ctx, b.x0, b.y0, b.x1, b.y1));
        ReleasePool(s.ctx);
    }
    return out;
}

}  // namespace layout_internal

namespace layout_internal {

std::vector<LayoutBlock> RunSegmentation(Segmenter& s) {
    EngineContext& ctx = s.ctx;
    const Box region = s.region;
    Box band;
    std::vector<LayoutBlock> results;
    if (!FindContentBand(ctx, region, &band)) {
        AppendRecords(results, AnalyzeBlock(ctx, region.x0, region.y0, region.x1, region.y1));
        ReleasePool(ctx);
        RetypeBlocks(ctx, results);
        return results;
    }
    s.blocks.assign(1, PageBlock{region.x0, region.y0, region.x1, region.y1, 0});
    if (!FindRuleLines(s, band)) ShowErrorBox(4, nullptr);
    FindRuleGroups(s);
    CutBlocksBySeparators(s);
    results = ClassifyBlocks(s);
    RetypeBlocks(ctx, results);
    return results;
}

}  // namespace layout_internal

std::vector<LayoutBlock> AnalyzeLayout(EngineContext& ctx, int32_t x0, int32_t y0, int32_t x1,
                                       int32_t y1) {
    Segmenter s(ctx);
    s.region = Box{x0, y0, x1, y1};
    if (!ClipRegion(ctx, s.region)) return {};
    return RunSegmentation(s);
}

std::vector<LayoutBlock> AnalyzeLayout(const uint8_t* rows, int32_t rowBits, int32_t height,
                                       int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    EngineContext ctx(rows, rowBits, height);
    return AnalyzeLayout(ctx, x0, y0, x1, y1);
}

}  // namespace sheetmend
