#include "pipeline/clean_specks.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "image/pixel_access.h"
#include "image/raster_image.h"
#include "pipeline/bit_rows.h"
#include "pipeline/clean_page.h"

namespace sheetmend {

namespace {

constexpr int32_t kDefaultSpeckleSize = 20;

struct Box {
    int32_t left, top, right, bottom;
    int32_t Width() const { return right - left + 1; }
    int32_t Height() const { return bottom - top + 1; }
};

// Rows of a page's bits, top row first, `rowBytes` apart.
struct BitRows {
    std::vector<uint8_t>& bits;
    int32_t rowBytes, width, height;
    uint8_t* Row(int32_t y) const { return bits.data() + static_cast<size_t>(y) * rowBytes; }
    // Whether any bit is set in the box (clipped to the page).
    bool AnyIn(int32_t x0, int32_t y0, int32_t x1, int32_t y1) const {
        x0 = std::max(0, x0), x1 = std::min(width - 1, x1);
        for (int32_t y = std::max(0, y0); x0 <= x1 && y <= std::min(height - 1, y1); ++y)
            if (bit_rows::NextSetBit(Row(y), x0, x1) >= 0) return true;
        return false;
    }
};

// A run of set bits on row y, from column a to column b.
struct InkRun {
    int32_t y, a, b;
};

// Takes the 8-connected components of `rows` one by one, clearing them, and
// calls visit(box, runs) for each. The fill goes a run at a time, so what it
// holds grows with the runs of a component, not with its pixels.
template <class Visit>
void TakeComponents(const BitRows& rows, Visit visit) {
    std::vector<InkRun> stack, runs;
    const int32_t width = rows.width, height = rows.height;
    Box box{};
    // Clears the run of set bits through (x, y) and puts it on the stack.
    auto take = [&](int32_t x, int32_t y) {
        uint8_t* row = rows.Row(y);
        int32_t a = x;
        while (a > 0 && bit_rows::TestBit(row, a - 1)) --a;
        const int32_t b = bit_rows::NextClearBit(row, x, width) - 1;
        bit_rows::FillBits(row, a, b, false);
        box = {std::min(box.left, a), std::min(box.top, y), std::max(box.right, b),
               std::max(box.bottom, y)};
        stack.push_back({y, a, b});
    };
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = bit_rows::NextSetBit(rows.Row(y), 0, width - 1); x >= 0;
             x = bit_rows::NextSetBit(rows.Row(y), x, width - 1)) {
            box = {x, y, x, y};
            runs.clear();
            take(x, y);
            while (!stack.empty()) {
                const InkRun r = stack.back();
                stack.pop_back();
                runs.push_back(r);
                const int32_t x0 = std::max(0, r.a - 1), x1 = std::min(width - 1, r.b + 1);
                for (const int32_t ny : {r.y - 1, r.y + 1}) {
                    if (ny < 0 || ny >= height) continue;
                    for (int32_t nx = bit_rows::NextSetBit(rows.Row(ny), x0, x1); nx >= 0;
                         nx = bit_rows::NextSetBit(rows.Row(ny), nx, x1))
                        take(nx, ny);
                }
            }
            visit(box, runs);
        }
    }
}

// How high the page's letters are: the median height of its components of 4
// pixels and more (and below an eighth of the page); the default speck size
// when there are fewer than 20 of them.
int32_t TextHeight(std::vector<uint8_t> bits, int32_t rowBytes, int32_t width, int32_t height) {
    std::vector<int32_t> heights;
    TakeComponents(BitRows{bits, rowBytes, width, height},
                   [&](const Box& box, const std::vector<InkRun>&) {
                       if (box.Height() >= 4 && box.Height() <= height / 8)
                           heights.push_back(box.Height());
                   });
    if (heights.size() < 20) return kDefaultSpeckleSize;
    auto mid = heights.begin() + static_cast<std::ptrdiff_t>(heights.size() / 2);
    std::nth_element(heights.begin(), mid, heights.end());
    return *mid;
}

// Whether the dot `b` stands over the stem of an i or j: the first row of
// ink within twice its height below it lies under the dot, a pixel wider at
// most on either side (the top of a wider letter reaches farther).
bool StemBelow(const BitRows& ink, const Box& b) {
    for (int32_t y = b.bottom + 1; y <= b.bottom + 2 * b.Height() + 1; ++y)
        if (ink.AnyIn(b.left - 1, y, b.right + 1, y))
            return !ink.AnyIn(b.left - 2, y, b.left - 2, y) &&
                   !ink.AnyIn(b.right + 2, y, b.right + 2, y);
    return false;
}

constexpr int32_t kScreenReach = 6, kScreenCrowd = 4, kSparseReach = 12, kSparseCrowd = 8;

// Goes through the components of `erased` (clearing it). A component that
// belongs to the text is drawn back into `kept`:
// - one with other ink within `guard` pixels of its box;
// - one of `dot` pixels across or more (the dots of type are about a sixth
//   of its letters' height, dust beside a letter is smaller; the caller
//   passes 0.14 of it) that is the dot of an i or j over its stem
//   (StemBelow), or a full stop, comma or colon on the baseline right after
//   a letter: the letter's foot within twice the dot's width on its left, at
//   its bottom row, and nothing of the letter lower. On type of a few pixels
//   (a `dot` below 3) any ink right below it within twice its height, or
//   beside it on the left at its height, will do;
// - a dot of a leader: specks of its size on its line at equal gaps of at
//   most four times its size on both sides (the ends of a leader are kept
//   as the neighbours of the dots inside it);
// - a dot of a halftone or dithered picture: kScreenCrowd other specks
//   centred within kScreenReach pixels across and down, or, in its light
//   parts, kSparseCrowd within kSparseReach. Dust, even at 2% of the page,
//   has one neighbour in two within the first and two within the second.
// Returns the number of components that stay erased.
int32_t KeepTextSpecks(std::vector<uint8_t>& erased, std::vector<uint8_t>& kept, int32_t rowBytes,
                       int32_t width, int32_t height, int32_t guard, int32_t dot) {
    const BitRows ink{kept, rowBytes, width, height};
    std::vector<Box> boxes;
    std::vector<InkRun> runs;
    std::vector<size_t> firstRun;
    TakeComponents(BitRows{erased, rowBytes, width, height},
                   [&](const Box& b, const std::vector<InkRun>& own) {
                       boxes.push_back(b);
                       firstRun.push_back(runs.size());
                       runs.insert(runs.end(), own.begin(), own.end());
                   });
    firstRun.push_back(runs.size());
    // Type of a few pixels is set so tight that its dots have letters all
    // round them.
    const bool tiny = dot < 3;
    auto byInk = [&](size_t i) {
        const Box& b = boxes[i];
        const int32_t w = b.Width(), h = b.Height(), x0 = b.left - 2 * w - 1, x1 = b.left - 1;
        if (ink.AnyIn(b.left - guard, b.top - guard, b.right + guard, b.bottom + guard))
            return true;
        if (std::max(w, h) < dot) return false;
        if (tiny)
            return ink.AnyIn(b.left - 1, b.bottom + 1, b.right + 1, b.bottom + 2 * h + 1) ||
                   ink.AnyIn(x0, b.top, x1, b.bottom);
        // A full stop stands on the baseline: the letter before it ends there.
        return StemBelow(ink, b) || (ink.AnyIn(x0, b.bottom - 1, x1, b.bottom) &&
                                     !ink.AnyIn(x0, b.bottom + 1, x1, b.bottom + h));
    };
    std::vector<uint8_t> keep(boxes.size());
    for (size_t i = 0; i < boxes.size(); ++i) keep[i] = byInk(i);

    // Middles and centres are kept doubled, in half pixels.
    auto middle = [&](size_t i) { return boxes[i].top + boxes[i].bottom; };
    auto centre = [&](size_t i) { return boxes[i].left + boxes[i].right; };

    // Screens: the specks counted in a grid of cells as wide as the larger
    // reach, so each speck looks only at the 3 x 3 cells about it (a dithered
    // page has millions of specks).
    constexpr int32_t cell = 2 * kSparseReach + 1;  // half pixels
    const int32_t cellsX = 2 * width / cell + 1, cellsY = 2 * height / cell + 1;
    auto cellOf = [&](size_t i) {
        return static_cast<size_t>(middle(i) / cell) * static_cast<size_t>(cellsX) +
               static_cast<size_t>(centre(i) / cell);
    };
    std::vector<uint32_t> first(static_cast<size_t>(cellsX) * cellsY + 1, 0), inCell(boxes.size());
    for (size_t i = 0; i < boxes.size(); ++i) ++first[cellOf(i) + 1];
    for (size_t c = 1; c < first.size(); ++c) first[c] += first[c - 1];
    std::vector<uint32_t> fill(first.begin(), first.end() - 1);
    for (size_t i = 0; i < boxes.size(); ++i) inCell[fill[cellOf(i)]++] = static_cast<uint32_t>(i);
    for (size_t i = 0; i < boxes.size(); ++i) {
        if (keep[i]) continue;
        const int32_t cx = centre(i) / cell, cy = middle(i) / cell;
        int32_t crowd = 0, sparse = 0;
        for (int32_t y = std::max(0, cy - 1); y <= std::min(cellsY - 1, cy + 1); ++y)
            for (int32_t x = std::max(0, cx - 1); x <= std::min(cellsX - 1, cx + 1); ++x) {
                const size_t c = static_cast<size_t>(y) * cellsX + x;
                for (uint32_t n = first[c]; n < first[c + 1]; ++n) {
                    const size_t o = inCell[n];
                    const int32_t across = std::abs(centre(o) - centre(i)),
                                  down = std::abs(middle(o) - middle(i));
                    crowd += o != i && across <= 2 * kScreenReach && down <= 2 * kScreenReach;
                    sparse += o != i && across <= 2 * kSparseReach && down <= 2 * kSparseReach;
                }
            }
        keep[i] = crowd >= kScreenCrowd || sparse >= kSparseCrowd;
    }

    // Leaders: the specks in order of their middle row, then of their left;
    // each looks along the rows within a pixel of its own for the nearest
    // like speck on either side.
    std::vector<size_t> order(boxes.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return std::pair(middle(a), boxes[a].left) < std::pair(middle(b), boxes[b].left);
    });
    int32_t widest = 0;
    for (const Box& b : boxes) widest = std::max(widest, b.Width());
    for (const size_t i : order) {
        const Box& b = boxes[i];
        const int32_t reach = 4 * std::max(b.Width(), b.Height()) + 4;
        size_t left = SIZE_MAX, right = SIZE_MAX;
        int32_t leftGap = reach + 1, rightGap = reach + 1;
        auto look = [&](size_t o) {
            if (std::abs(boxes[o].Width() - b.Width()) > 1 ||
                std::abs(boxes[o].Height() - b.Height()) > 1)
                return;
            if (const int32_t gap = b.left - boxes[o].right - 1; gap >= 1 && gap < leftGap)
                left = o, leftGap = gap;
            if (const int32_t gap = boxes[o].left - b.right - 1; gap >= 1 && gap < rightGap)
                right = o, rightGap = gap;
        };
        for (int32_t m = middle(i) - 2; m <= middle(i) + 2; ++m) {
            auto at = std::lower_bound(order.begin(), order.end(), std::pair(m, b.left),
                                       [&](size_t o, const std::pair<int32_t, int32_t>& key) {
                                           return std::pair(middle(o), boxes[o].left) < key;
                                       });
            for (auto j = at;
                 j != order.end() && middle(*j) == m && boxes[*j].left - b.right - 1 <= reach; ++j)
                if (*j != i) look(*j);
            for (auto j = at; j != order.begin() && middle(*(j - 1)) == m &&
                              b.left - boxes[*(j - 1)].left <= reach + widest;
                 --j)
                if (*(j - 1) != i) look(*(j - 1));
        }
        if (left != SIZE_MAX && right != SIZE_MAX && std::abs(leftGap - rightGap) <= 1)
            keep[i] = keep[left] = keep[right] = 1;
    }

    // Kept specks go back to the ink, and the others are judged again against
    // it: a letter broken into specks keeps its accent or its dot once its
    // pieces are back.
    std::vector<uint8_t> back(boxes.size());
    for (int32_t round = 0; round < 4; ++round) {
        bool more = false;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (back[i] || !(keep[i] || (round > 0 && byInk(i)))) continue;
            keep[i] = back[i] = 1;
            more = true;
            for (size_t r = firstRun[i]; r < firstRun[i + 1]; ++r)
                bit_rows::FillBits(ink.Row(runs[r].y), runs[r].a, runs[r].b, true);
        }
        if (!more) break;
    }
    return static_cast<int32_t>(std::count(keep.begin(), keep.end(), 0));
}

}  // namespace

int32_t RemoveSpecks(RasterImage& page, int32_t speckleSize) {
    if (!page.IsValid() || page.GetBpp() != 1) return 0;
    const auto width = static_cast<int32_t>(page.GetWidth());
    const auto height = static_cast<int32_t>(page.GetHeight());
    const RgbQuad c0 = page.GetPaletteColor(0), c1 = page.GetPaletteColor(1);
    const bool inkIsOne = c1.red + c1.green + c1.blue <= c0.red + c0.green + c0.blue;
    // The despeckle works on rows padded to 16 pixels, top row first, with
    // set bits for ink.
    const int32_t rowBytes = ((width + 15) >> 4) * 2;
    const auto used = static_cast<int32_t>(px::UsedRowBytes(page.GetWidth(), 1));
    const uint8_t lastMask = px::LastByteMask(page.GetWidth(), 1);
    std::vector<uint8_t> ink(static_cast<size_t>(rowBytes) * height, 0);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* src = page.RowPtr(static_cast<uint32_t>(height - 1 - y));
        uint8_t* dst = ink.data() + static_cast<size_t>(y) * rowBytes;
        for (int32_t i = 0; i < used; ++i)
            dst[i] = inkIsOne ? src[i] : static_cast<uint8_t>(~src[i]);
        dst[used - 1] &= lastMask;
    }
    std::vector<uint8_t> erased = ink;
    // Without a size given, a speck stays below half a letter of the page: on
    // a small or low-resolution page the default would take whole letters.
    const int32_t text = TextHeight(ink, rowBytes, width, height);
    const int32_t size = speckleSize > 0 ? speckleSize : std::clamp(text, 4, kDefaultSpeckleSize);
    Despeckle(ink.data(), width, height, size);
    bool changed = false;
    for (size_t i = 0; i < erased.size(); ++i) {
        erased[i] = static_cast<uint8_t>(erased[i] & ~ink[i]);
        changed |= erased[i] != 0;
    }
    if (!changed) return 0;
    const int32_t removed = KeepTextSpecks(erased, ink, rowBytes, width, height,
                                           std::max(1, size / 10), (text * 7 + 49) / 50);
    if (removed == 0) return 0;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* dst = page.RowPtr(static_cast<uint32_t>(height - 1 - y));
        const uint8_t* src = ink.data() + static_cast<size_t>(y) * rowBytes;
        for (int32_t i = 0; i < used; ++i)
            dst[i] = inkIsOne ? src[i] : static_cast<uint8_t>(~src[i]);
        dst[used - 1] &= lastMask;
    }
    return removed;
}

}  // namespace sheetmend
