// Internals shared by the stages of the layout engine (segmentation.cpp,
// content_band.cpp, ruling_lines.cpp, rule_groups.cpp, block_cuts.cpp,
// retype.cpp) and by their tests.
#pragma once

#include <cstdint>
#include <vector>

#include "layout/block_analysis.h"
#include "layout/engine_context.h"
#include "layout/layout_engine.h"

namespace sheetmend::layout_internal {

// A ruling line as the box it covers (inclusive pixels). Its length is
// x1 - x0 for a horizontal line and y1 - y0 for a vertical one.
struct RuleLine {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    friend bool operator==(const RuleLine&, const RuleLine&) = default;
};

// A set of crossing lines: a ruled table once classified.
struct RuleGroup {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    std::vector<RuleLine> verticals;    // tallest first
    std::vector<RuleLine> horizontals;  // widest first
};

struct PageBlock {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    uint32_t isTable = 0;
    friend bool operator==(const PageBlock&, const PageBlock&) = default;
};

struct Box {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    friend bool operator==(const Box&, const Box&) = default;
};

// Everything one analysis works on besides the page context.
struct Segmenter {
    explicit Segmenter(EngineContext& c) : ctx(c) {}
    EngineContext& ctx;
    Box region;
    std::vector<RuleLine> horizontalLines, verticalLines;            // longest first
    std::vector<RuleLine> horizontalSeparators, verticalSeparators;  // longest first
    std::vector<RuleLine> usedLines;                                 // newest first
    std::vector<RuleGroup> tables;                                   // by y0, then x0
    std::vector<PageBlock> blocks;                                   // by y0, then x0
    // Makes the ruling-line detection fail as if memory had run out.
    bool failLineMemory = false;
};

inline int32_t HorizontalLength(const RuleLine& l) {
    return l.x1 - l.x0;
}
inline int32_t VerticalLength(const RuleLine& l) {
    return l.y1 - l.y0;
}

// Inserts after every line at least as long, keeping the list longest first.
void InsertHorizontal(std::vector<RuleLine>& list, const RuleLine& line);
void InsertVertical(std::vector<RuleLine>& list, const RuleLine& line);
// Inserts before the first block with a larger y0, or the same y0 and a
// larger or equal x0.
void InsertBlock(std::vector<PageBlock>& blocks, const PageBlock& block);

// Strict overlap of two boxes (touching edges do not overlap).
template <class A, class B>
bool StrictlyOverlaps(const A& a, const B& b) {
    return a.x0 < b.x1 && b.x0 < a.x1 && a.y0 < b.y1 && b.y0 < a.y1;
}

// True when no byte from x0 >> 3 to x1 >> 3 of row y has ink.
bool RowBlank(const EngineContext& ctx, int32_t y, int32_t byte0, int32_t byte1);

// ---- content band ----
// The rows of the region that hold its content: false when the region has
// no stretch of 180 inked rows (sampled every second row).
bool FindContentBand(const EngineContext& ctx, const Box& region, Box* band);

// ---- ruling lines ----
// Fills horizontalLines and verticalLines from the band. False (and both
// lists empty) when memory ran out.
bool FindRuleLines(Segmenter& s, const Box& band);

// ---- tables and frames ----
void FindRuleGroups(Segmenter& s);
void ClassifyRuleGroup(Segmenter& s, const RuleLine& v, const RuleLine& h);
bool IsSmallPiece(const Segmenter& s, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// ---- cuts, merges and rejoins ----
// Each split returns true when the block splits into `pieces`; otherwise the
// block may have been trimmed in place.
bool SplitByHorizontalLine(const Segmenter& s, const RuleLine& line, PageBlock& block,
                           std::vector<PageBlock>& pieces);
bool SplitByVerticalLine(const Segmenter& s, const RuleLine& line, PageBlock& block,
                         std::vector<PageBlock>& pieces);
// `above` and `below` receive the ink runs used when the block splits.
bool SplitAroundBox(const Segmenter& s, const Box& box, PageBlock& block,
                    std::vector<PageBlock>& pieces, int32_t* above, int32_t* below);
int32_t InkRunAbove(const EngineContext& ctx, const Box& box, const PageBlock& block);
int32_t InkRunBelow(const EngineContext& ctx, const Box& box, const PageBlock& block);
// Offers every block strictly overlapping `box` to SplitAroundBox; split
// blocks are replaced by their pieces. Table blocks are left whole: a frame
// or table next to a table must not cut it. Returns the last above/below values
// other than 10 (10 each by default).
void SplitBlocksAroundBox(Segmenter& s, const Box& box, int32_t* above, int32_t* below);
void CutBlocksBySeparators(Segmenter& s);
void PlaceTables(Segmenter& s);
void MergeSideBySide(std::vector<PageBlock>& blocks);
void MergeStacked(std::vector<PageBlock>& blocks);
void DropSparseBlocks(const EngineContext& ctx, std::vector<PageBlock>& blocks);
void RejoinNeighbours(Segmenter& s);
// The first blank row within 100 rows of `start` (downward when down, else
// upward) over the box's bytes less two at each side; `start` when none.
int32_t FindBlankRow(const EngineContext& ctx, const Box& box, int32_t start, bool down);

// Every stage in order over s.region (already clipped to the page).
std::vector<LayoutBlock> RunSegmentation(Segmenter& s);

// ---- typing ----
std::vector<LayoutBlock> ClassifyBlocks(Segmenter& s);
bool IsVerticalRule(const EngineContext& ctx, const LayoutBlock& b);
bool IsHorizontalRule(const EngineContext& ctx, const LayoutBlock& b);
void RetypeBlocks(const EngineContext& ctx, std::vector<LayoutBlock>& blocks);

}  // namespace sheetmend::layout_internal
