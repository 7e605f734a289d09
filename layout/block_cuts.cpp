// Cutting the page block along separator lines and around tables and
// frames, then merging pieces that fit together again, dropping pieces with
// almost no ink, and moving the seam between neighbouring pieces to a blank
// row where no ruling line stands along it.
#include <algorithm>
#include <cstdlib>

#include "layout/segmentation_internal.h"

namespace sheetmend::layout_internal {

namespace {

// The horizontal split is written once; the vertical one runs it on
// transposed boxes (x and y exchanged).
template <class T>
T Transposed(const T& b, bool transpose) {
    if (!transpose) return b;
    T t = b;
    t.x0 = b.y0;
    t.y0 = b.x0;
    t.x1 = b.y1;
    t.y1 = b.x1;
    return t;
}

bool SplitAlongLine(const Segmenter& s, const RuleLine& line, PageBlock& block,
                    std::vector<PageBlock>& pieces, bool vertical) {
    const RuleLine L = Transposed(line, vertical);
    PageBlock B = Transposed(block, vertical);
    auto small = [&](PageBlock p) {
        p = Transposed(p, vertical);
        return IsSmallPiece(s, p.x0, p.y0, p.x1, p.y1);
    };
    const int32_t w = B.x1 - B.x0;
    const int32_t c = std::max(L.x0, B.x0), b = std::min(L.x1, B.x1);
    const int32_t ov = b - c;
    const int32_t minOverlap = vertical ? 400 : 600;
    if (ov < minOverlap && ov < 0.8 * w) return false;

    if (L.y0 < B.y0 + 100) {  // line near the top (left)
        if (ov <= 0.85 * w) return false;
        PageBlock trimmed{B.x0, std::max(L.y1 + 11, B.y0), B.x1, B.y1, B.isTable};
        if (small(trimmed)) return false;
        B.y0 = trimmed.y0;
        block = Transposed(B, vertical);
        return false;
    }
    if (B.y1 < L.y1 + 100) {  // line near the bottom (right)
        if (ov <= 0.85 * w) return false;
        PageBlock trimmed{B.x0, B.y0, B.x1, std::min(B.y1, L.y0 - 11), B.isTable};
        if (small(trimmed)) return false;
        B.y1 = trimmed.y1;
        block = Transposed(B, vertical);
        return false;
    }

    const double t = 0.1 * w;
    const bool startsLeft = c - B.x0 < t, endsRight = B.x1 - b < t;
    std::vector<PageBlock> test, cut;
    if (startsLeft && endsRight) {
        test = {{B.x0, B.y0, B.x1, L.y0 - 1}, {B.x0, L.y1 + 1, B.x1, B.y1}};
        cut = {{B.x0, B.y0, B.x1, L.y0 - 11}, {B.x0, L.y1 + 11, B.x1, B.y1}};
    } else if (startsLeft) {
        test = {{B.x0, B.y0, L.x1, L.y0 - 1},
                {B.x0, L.y1 + 1, L.x1, B.y1},
                {L.x1 + 1, B.y0, B.x1, B.y1}};
        cut = {{B.x0, B.y0, L.x1, L.y0 - 11},
               {B.x0, L.y1 + 11, L.x1, B.y1},
               {L.x1 + 1, B.y0, B.x1, B.y1}};
    } else if (endsRight) {
        test = {{B.x0, B.y0, L.x0 - 1, B.y1},
                {L.x0, B.y0, B.x1, L.y0 - 1},
                {L.x0, L.y1 + 1, B.x1, B.y1}};
        cut = {{B.x0, B.y0, L.x0 - 1, B.y1},
               {L.x0, B.y0, B.x1, L.y0 - 11},
               {L.x0, L.y1 + 11, B.x1, B.y1}};
    } else {
        return false;
    }
    for (const PageBlock& p : test)
        if (small(p)) return false;
    for (PageBlock p : cut) {
        p.isTable = B.isTable;
        pieces.push_back(Transposed(p, vertical));
    }
    return true;
}

}  // namespace

bool SplitByHorizontalLine(const Segmenter& s, const RuleLine& line, PageBlock& block,
                           std::vector<PageBlock>& pieces) {
    return SplitAlongLine(s, line, block, pieces, false);
}

bool SplitByVerticalLine(const Segmenter& s, const RuleLine& line, PageBlock& block,
                         std::vector<PageBlock>& pieces) {
    return SplitAlongLine(s, line, block, pieces, true);
}

int32_t InkRunAbove(const EngineContext& ctx, const Box& box, const PageBlock& block) {
    for (int32_t r = box.y0 - 1; r >= block.y0 && r >= 0 && box.y0 - r < 100; --r)
        if (RowBlank(ctx, r, block.x0 >> 3, block.x1 >> 3)) return box.y0 - r;
    return 10;
}

int32_t InkRunBelow(const EngineContext& ctx, const Box& box, const PageBlock& block) {
    for (int32_t r = box.y1 + 1; r <= block.y1 && r < ctx.height && r - box.y1 < 100; ++r)
        if (RowBlank(ctx, r, block.x0 >> 3, block.x1 >> 3)) return r - box.y1;
    return 10;
}

bool SplitAroundBox(const Segmenter& s, const Box& T, PageBlock& B, std::vector<PageBlock>& pieces,
                    int32_t* above, int32_t* below) {
    const int32_t b = std::max(T.x0, B.x0), c = std::max(T.y0, B.y0);
    const int32_t e = std::min(T.x1, B.x1), g = std::min(T.y1, B.y1);
    if (e - B.x0 <= 9) {
        B.x0 = e + 11;
        return false;
    }
    if (B.x1 - b <= 9) {
        B.x1 = b - 11;
        return false;
    }
    if (g - B.y0 <= 9) {
        B.y0 = g + 11;
        return false;
    }
    if (B.y1 - c <= 9) {
        B.y1 = c - 11;
        return false;
    }
    const int32_t up = InkRunAbove(s.ctx, T, B), down = InkRunBelow(s.ctx, T, B);
    *above = up;
    *below = down;
    auto add = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        pieces.push_back(PageBlock{x0, y0, x1, y1, 0});
    };
    if (b - B.x0 > 60) add(B.x0, std::max(B.y0, c - up), b - 11, std::min(g + down, B.y1));
    if (c - up - B.y0 - 1 > 30) add(B.x0, B.y0, B.x1, c - up - 1);
    if (B.x1 - e > 60) add(e + 11, std::max(B.y0, c - up), B.x1, std::min(g + down, B.y1));
    if (B.y1 - g - down - 1 > 30) add(B.x0, g + down + 1, B.x1, B.y1);
    return true;
}

namespace {

bool Empty(const PageBlock& b) {
    return b.x1 < b.x0 || b.y1 < b.y0;
}

// Offers each block that `offer` accepts to `split`; blocks that split are
// replaced by their pieces (inserted in list order), trimmed ones stay where
// they are. A block trimmed to nothing is dropped: it could only give
// nonsense boxes later.
template <class Offer, class Split>
void ReplaceSplitBlocks(std::vector<PageBlock>& blocks, Offer offer, Split split) {
    std::vector<PageBlock> kept, pieces;
    kept.reserve(blocks.size());
    for (PageBlock b : blocks) {
        if (offer(b)) {
            std::vector<PageBlock> mine;
            if (split(b, mine)) {
                pieces.insert(pieces.end(), mine.begin(), mine.end());
                continue;
            }
        }
        if (!Empty(b)) kept.push_back(b);
    }
    blocks = std::move(kept);
    for (const PageBlock& p : pieces)
        if (!Empty(p)) InsertBlock(blocks, p);
}

}  // namespace

void SplitBlocksAroundBox(Segmenter& s, const Box& box, int32_t* above, int32_t* below) {
    *above = 10;
    *below = 10;
    ReplaceSplitBlocks(
        s.blocks, [&](const PageBlock& b) { return !b.isTable && StrictlyOverlaps(b, box); },
        [&](PageBlock& b, std::vector<PageBlock>& pieces) {
            int32_t up = 10, down = 10;
            if (!SplitAroundBox(s, box, b, pieces, &up, &down)) return false;
            if (up != 10) *above = up;
            if (down != 10) *below = down;
            return true;
        });
}

void CutBlocksBySeparators(Segmenter& s) {
    // Every block a separator crosses (tables aside) is split by it; the
    // separator then counts as used.
    auto cutBy = [&s](std::vector<RuleLine>& separators, auto split) {
        for (const RuleLine& line : separators) {
            ReplaceSplitBlocks(
                s.blocks,
                [&](const PageBlock& b) { return !b.isTable && StrictlyOverlaps(b, line); },
                [&](PageBlock& b, std::vector<PageBlock>& pieces) {
                    return split(s, line, b, pieces);
                });
            s.usedLines.insert(s.usedLines.begin(), line);
        }
        separators.clear();
    };
    cutBy(s.horizontalSeparators, SplitByHorizontalLine);
    MergeSideBySide(s.blocks);
    cutBy(s.verticalSeparators, SplitByVerticalLine);
    PlaceTables(s);
    MergeStacked(s.blocks);
    MergeSideBySide(s.blocks);
    DropSparseBlocks(s.ctx, s.blocks);
    RejoinNeighbours(s);
}

void PlaceTables(Segmenter& s) {
    for (const RuleGroup& t : s.tables) {
        const Box box{t.x0, t.y0, t.x1, t.y1};
        int32_t above = 10, below = 10;
        SplitBlocksAroundBox(s, box, &above, &below);
        InsertBlock(
            s.blocks,
            PageBlock{std::max(s.region.x0, t.x0 - 10), std::max(s.region.y0, t.y0 - above),
                      std::min(t.x1 + 10, s.region.x1), std::min(t.y1 + below, s.region.y1), 1});
    }
    s.tables.clear();
}

void MergeSideBySide(std::vector<PageBlock>& blocks) {
    for (size_t i = 0; i < blocks.size();) {
        const PageBlock a = blocks[i];
        bool joined = false;
        if (!a.isTable) {
            for (size_t j = i + 1; j < blocks.size(); ++j) {
                PageBlock& c = blocks[j];
                if (c.isTable) continue;
                if (std::abs(a.y0 - c.y0) < 5 && std::abs(a.y1 - c.y1) < 5 && a.x1 + 1 == c.x0) {
                    c = PageBlock{a.x0, std::min(a.y0, c.y0), c.x1, std::max(a.y1, c.y1), 0};
                    joined = true;
                    break;
                }
            }
        }
        if (joined)
            blocks.erase(blocks.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
}

void MergeStacked(std::vector<PageBlock>& blocks) {
    for (size_t i = 0; i < blocks.size();) {
        const PageBlock a = blocks[i];
        bool joined = false;
        if (!a.isTable) {
            for (size_t j = i + 1; j < blocks.size(); ++j) {
                PageBlock& c = blocks[j];
                if (c.isTable) continue;
                if (std::abs(a.x0 - c.x0) < 5 && std::abs(a.x1 - c.x1) < 5 && a.y1 + 1 == c.y0) {
                    c = PageBlock{std::min(a.x0, c.x0), a.y0, std::max(a.x1, c.x1), c.y1, 0};
                    joined = true;
                    break;
                }
            }
        }
        if (joined)
            blocks.erase(blocks.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
}

void DropSparseBlocks(const EngineContext& ctx, std::vector<PageBlock>& blocks) {
    std::erase_if(blocks, [&](const PageBlock& b) {
        if (b.isTable) return false;
        const int32_t first = std::max((b.x0 + 7) / 8, 0);
        const int32_t last = std::min(b.x1 >> 3, ctx.RowBytes() - 1);
        const int32_t y0 = std::max(b.y0, 0), y1 = std::min(b.y1, ctx.height - 1);
        int32_t bits = 0;
        for (int32_t y = y0; y <= y1 && bits <= 1000; ++y) {
            const uint8_t* row = ctx.Row(y);
            for (int32_t i = first; i <= last; ++i) bits += kBitCount[row[i]];
        }
        return bits <= 1000;
    });
}

int32_t FindBlankRow(const EngineContext& ctx, const Box& box, int32_t start, bool down) {
    const int32_t first = (box.x0 >> 3) + 2, last = (box.x1 >> 3) - 2;
    for (int32_t i = 0; i < 100; ++i) {
        const int32_t r = down ? start + i : start - i;
        if (down ? r > box.y1 : r < box.y0) break;
        if (RowBlank(ctx, r, first, last)) return r;
    }
    return start;
}

namespace {

// True when no used line runs along the seam at column x from ya to yb.
bool SeamFree(const Segmenter& s, int32_t x, int32_t ya, int32_t yb) {
    for (const RuleLine& l : s.usedLines) {
        if (!(l.x0 < x + 10 && x - 10 < l.x1 && l.y0 < yb - 20 && ya + 20 < l.y1)) continue;
        const int32_t overlap = std::min(l.y1, yb) - std::max(ya, l.y0);
        if (overlap > 0.7 * (yb - ya)) return false;
    }
    return true;
}

Box Union(const PageBlock& a, const PageBlock& c) {
    return Box{std::min(a.x0, c.x0), std::min(a.y0, c.y0), std::max(a.x1, c.x1),
               std::max(a.y1, c.y1)};
}

}  // namespace

void RejoinNeighbours(Segmenter& s) {
    std::vector<PageBlock>& blocks = s.blocks;
    for (size_t i = 0; i < blocks.size(); ++i) {
        if (blocks[i].isTable) continue;
        for (size_t j = i + 1; j < blocks.size(); ++j) {
            PageBlock& A = blocks[i];
            PageBlock& C = blocks[j];
            if (C.isTable) continue;
            if (A.x0 == C.x1 + 1 && A.y1 == C.y1) {
                if (SeamFree(s, A.x0, C.y0, A.y1)) {
                    const int32_t r = FindBlankRow(s.ctx, Union(A, C), C.y0, true);
                    A.y1 = r - 1;
                    C.y0 = r;
                    C.x1 = A.x1;
                }
                break;
            }
            if (C.x0 == A.x1 + 1) {
                if (A.y0 < C.y0 && A.y1 == C.y1) {
                    if (SeamFree(s, A.x1, C.y0, C.y1)) {
                        const int32_t r = FindBlankRow(s.ctx, Union(A, C), C.y0, true);
                        A.y1 = r - 1;
                        C.y0 = r;
                        C.x0 = A.x0;
                    }
                    break;
                }
                if (A.y1 > C.y1 && A.y0 >= C.y0) {
                    if (SeamFree(s, A.x1, A.y0, C.y1)) {
                        const int32_t r = FindBlankRow(s.ctx, Union(A, C), C.y1, false);
                        const PageBlock old = A;
                        A = PageBlock{old.x0, old.y0, C.x1, r, 0};
                        C = PageBlock{old.x0, r + 1, old.x1, old.y1, 0};
                    }
                    break;
                }
                if (C.y1 > A.y1 && A.y0 >= C.y0) {
                    if (SeamFree(s, A.x1, A.y0, A.y1)) {
                        const int32_t r = FindBlankRow(s.ctx, Union(A, C), A.y1, false);
                        A.y1 = r;
                        A.x1 = C.x1;
                        C.y0 = r + 1;
                    }
                    break;
                }
            }
        }
    }
    std::erase_if(blocks, [](const PageBlock& b) { return Empty(b); });
}

}  // namespace sheetmend::layout_internal
