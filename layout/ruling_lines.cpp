// Ruling-line detection. Horizontal strokes are runs of at least six full
// (0xFF) bytes in a row; vertical strokes are two-pixel columns that stay
// inked through whole 8-row steps. Each is looked for twice, the second time
// after short gaps have been bridged (vertically for horizontal strokes,
// along the row for vertical ones), so broken and slightly thick strokes are
// found too. Segments close to one another join into lines, long lines form
// groups by their centre, and the groups give a grid of rows and columns.
// Without two grid rows and two grid columns the page has no ruled
// structure and no lines are reported.
#include <algorithm>
#include <cmath>
#include <new>

#include "layout/segmentation_internal.h"

namespace sheetmend::layout_internal {

namespace {

// A stroke piece: along runs lo..hi (x for horizontal, y for vertical),
// across covers c0..c1.
struct Segment {
    int32_t lo, hi, c0, c1;
};

// Lines and groups keep the same four numbers: the box of their strokes.
using Stroke = Segment;

double Centre(const Stroke& s) {
    return 0.5 * (s.c0 + s.c1);
}
int32_t Thickness(const Stroke& s) {
    return s.c1 - s.c0 + 1;
}
int32_t Length(const Stroke& s) {
    return s.hi - s.lo;
}

constexpr int32_t kMinFullRun = 6;  // bytes

// Runs of full bytes in one row of the band.
void FullRuns(const uint8_t* row, int32_t count, int32_t firstByte, int32_t y,
              std::vector<Segment>& out) {
    int32_t i = 0;
    while (i < count) {
        if (row[i] != 0xFF) {
            ++i;
            continue;
        }
        int32_t j = i;
        while (j + 1 < count && row[j + 1] == 0xFF) ++j;
        if (j - i + 1 >= kMinFullRun)
            out.push_back(Segment{(firstByte + i) * 8 + 4, (firstByte + j) * 8 + 4, y, y});
        i = j + 1;
    }
}

void HorizontalSegments(const EngineContext& ctx, const Box& band, int32_t byte0, int32_t count,
                        std::vector<Segment>& out) {
    // The second pass bridges blank stretches of 2 to 7 rows in each byte
    // column with the ink of both ends together. Bridged rows are kept in a ring of
    // 16 rows: a bridge never reaches more than 7 rows back, so a row is
    // final once the row 7 below it has been read. Only rows that changed
    // are scanned again; the others give the first pass's segments.
    constexpr int32_t kRing = 16;
    std::vector<uint8_t> ring(static_cast<size_t>(kRing) * count);
    std::vector<uint8_t> changed(kRing, 0);
    std::vector<int32_t> lastInk(static_cast<size_t>(count), -100);
    auto ringRow = [&](int32_t y) { return ring.data() + static_cast<size_t>(y % kRing) * count; };

    auto finish = [&](int32_t y) {
        if (changed[y % kRing]) FullRuns(ringRow(y), count, byte0, y, out);
    };
    for (int32_t y = band.y0; y <= band.y1; ++y) {
        const uint8_t* row = ctx.Row(y) + byte0;
        FullRuns(row, count, byte0, y, out);
        uint8_t* r = ringRow(y);
        std::copy(row, row + count, r);
        changed[y % kRing] = 0;
        for (int32_t j = 0; j < count; ++j) {
            if (row[j] == 0) continue;
            const int32_t gap = y - lastInk[j] - 1;
            if (gap >= 2 && gap <= 7) {
                const uint8_t both = ctx.Row(lastInk[j])[byte0 + j] | row[j];
                for (int32_t q = lastInk[j] + 1; q < y; ++q) {
                    ringRow(q)[j] = both;
                    changed[q % kRing] = 1;
                }
            }
            lastInk[j] = y;
        }
        if (y - 7 >= band.y0) finish(y - 7);
    }
    for (int32_t y = std::max(band.y0, band.y1 - 6); y <= band.y1; ++y) finish(y);
}

// A byte with both bits of each two-pixel column set when either is: the
// AND of such bytes over a step keeps the columns inked in every row.
inline uint8_t PairsEither(uint8_t v) {
    return static_cast<uint8_t>(v | ((v & 0x55) << 1) | ((v & 0xAA) >> 1));
}

inline bool ColumnSet(const uint8_t* row, int32_t k) {
    return (row[k >> 2] & (0xC0 >> (2 * (k & 3)))) != 0;
}

// Column k of a row once runs of 2 to 5 clear columns between set ones are
// filled: set, or lying in such a run between its nearest set neighbours.
bool BridgedColumnSet(const uint8_t* row, int32_t n, int32_t k) {
    if (ColumnSet(row, k)) return true;
    int32_t l = -1, r = -1;
    for (int32_t d = 1; d <= 5 && k - d >= 0; ++d)
        if (ColumnSet(row, k - d)) {
            l = k - d;
            break;
        }
    if (l < 0) return false;
    for (int32_t d = 1; d <= 5 && k + d < n; ++d)
        if (ColumnSet(row, k + d)) {
            r = k + d;
            break;
        }
    if (r < 0) return false;
    const int32_t gap = r - l - 1;
    return gap >= 2 && gap <= 5;
}

// Each byte's four two-pixel columns as flags, with runs of 2 to 5 clear
// columns between set ones filled (the same as BridgedColumnSet, in one pass).
void BridgedFlags(const uint8_t* row, int32_t count, uint8_t* flags) {
    const int32_t n = 4 * count;
    for (int32_t k = 0; k < n; ++k) flags[k] = ColumnSet(row, k);
    int32_t last = -1;
    for (int32_t k = 0; k < n; ++k) {
        if (!flags[k]) continue;
        const int32_t gap = k - last - 1;
        if (last >= 0 && gap >= 2 && gap <= 5)
            for (int32_t q = last + 1; q < k; ++q) flags[q] = 1;
        last = k;
    }
}

void VerticalSegments(const EngineContext& ctx, const Box& band, int32_t byte0, int32_t count,
                      std::vector<Segment>& out) {
    const int32_t n = 4 * count;
    // The plain pass ANDs whole bytes over the step. The bridged pass keeps
    // the list of columns still set in every row so far, so only those are
    // looked at again in the step's later rows.
    std::vector<uint8_t> stepAnd(static_cast<size_t>(count));
    std::vector<int32_t> alive, next;
    std::vector<uint8_t> bridgedOn(static_cast<size_t>(n)), flags(static_cast<size_t>(n));
    // Columns on per byte and per pass, so bytes without ink and without a
    // running segment are passed over at the end of a step.
    std::vector<uint8_t> onInByte[2] = {std::vector<uint8_t>(count), std::vector<uint8_t>(count)};
    // Where each column went on (-1 while off), per pass. A segment runs
    // from the first row of its first inked step to the row before the step
    // in which it went off; it counts when it lasted more than 40 rows (30
    // on the bridged pass).
    std::vector<int32_t> onSince[2] = {std::vector<int32_t>(n, -1), std::vector<int32_t>(n, -1)};
    const int32_t minRows[2] = {40, 30};

    auto close = [&](int pass, int32_t k, int32_t row) {
        const int32_t start = onSince[pass][k];
        onSince[pass][k] = -1;
        if (row - start <= minRows[pass]) return;
        const int32_t x = (byte0 + k / 4) * 8 + 2 * (k % 4);
        out.push_back(Segment{start, row - 1, x, x + 1});
    };

    int32_t step = band.y0;
    for (; step + 7 <= band.y1; step += 8) {
        std::fill(stepAnd.begin(), stepAnd.end(), 0xFF);
        alive.clear();
        bool dead = false;
        for (int32_t y = step; y < step + 8; ++y) {
            const uint8_t* row = ctx.Row(y) + byte0;
            if (std::all_of(row, row + count, [](uint8_t b) { return b == 0; })) {
                dead = true;
                break;
            }
            for (int32_t i = 0; i < count; ++i) stepAnd[i] &= PairsEither(row[i]);
            if (y == step) {
                BridgedFlags(row, count, flags.data());
                for (int32_t k = 0; k < n; ++k)
                    if (flags[k]) alive.push_back(k);
            } else {
                next.clear();
                for (int32_t k : alive)
                    if (BridgedColumnSet(row, n, k)) next.push_back(k);
                alive.swap(next);
            }
        }
        if (dead) {
            std::fill(stepAnd.begin(), stepAnd.end(), 0);
            alive.clear();
        }
        for (int32_t k : alive) bridgedOn[k] = 1;
        for (int32_t i = 0; i < count; ++i) {
            const bool marked = (stepAnd[i] | onInByte[0][i] | onInByte[1][i]) != 0;
            if (!marked && !bridgedOn[4 * i] && !bridgedOn[4 * i + 1] && !bridgedOn[4 * i + 2] &&
                !bridgedOn[4 * i + 3])
                continue;
            for (int32_t k = 4 * i; k < 4 * i + 4; ++k) {
                const bool on[2] = {ColumnSet(stepAnd.data(), k), bridgedOn[k] != 0};
                for (int pass = 0; pass < 2; ++pass) {
                    if (on[pass] && onSince[pass][k] < 0) {
                        onSince[pass][k] = step;
                        ++onInByte[pass][i];
                    } else if (!on[pass] && onSince[pass][k] >= 0) {
                        close(pass, k, step);
                        --onInByte[pass][i];
                    }
                }
            }
        }
        for (int32_t k : alive) bridgedOn[k] = 0;
    }
    for (int pass = 0; pass < 2; ++pass)
        for (int32_t k = 0; k < n; ++k)
            if (onSince[pass][k] >= 0) close(pass, k, step);
}

// Joins segments into lines: a segment joins the first line thinner than 8
// pixels whose centre lies within the line's thickness + 2 of the segment's
// and that it overlaps (or touches) along its length. A joined line is the
// box of its segments, so its thickness is the spread across them.
std::vector<Stroke> JoinSegments(std::vector<Segment>& segs) {
    std::sort(segs.begin(), segs.end(), [](const Segment& a, const Segment& b) {
        return a.c0 != b.c0 ? a.c0 < b.c0 : a.lo < b.lo;
    });
    std::vector<Stroke> done, active;
    for (const Segment& s : segs) {
        // A line whose far side lies 10 or more before the segment can take
        // no later segment (they come in order of c0).
        std::erase_if(active, [&](const Stroke& l) {
            if (l.c1 >= s.c0 - 10) return false;
            done.push_back(l);
            return true;
        });
        bool joined = false;
        for (Stroke& l : active) {
            if (Thickness(l) >= 8) continue;
            if (std::fabs(Centre(s) - Centre(l)) > Thickness(l) + 2) continue;
            if (s.lo > l.hi + 1 || s.hi < l.lo - 1) continue;
            l.lo = std::min(l.lo, s.lo);
            l.hi = std::max(l.hi, s.hi);
            l.c0 = std::min(l.c0, s.c0);
            l.c1 = std::max(l.c1, s.c1);
            joined = true;
            break;
        }
        if (!joined) active.push_back(s);
    }
    done.insert(done.end(), active.begin(), active.end());
    return done;
}

bool InkAt(const EngineContext& ctx, int32_t x, int32_t y) {
    if (x < 0 || y < 0 || x >= ctx.rowBits || y >= ctx.height) return false;
    return (ctx.Row(y)[x >> 3] >> (7 - (x & 7))) & 1;
}

// A stroke with ink right beside it on both sides along most of its length
// is a piece of a dark area (a halftone, a solid patch), not a rule: every
// two-pixel column of such an area passes the stroke tests. A side counts as
// inked at a position when any of the three pixels beyond the stroke's box
// is ink there; every fourth position is looked at.
bool InsideDarkArea(const EngineContext& ctx, const Stroke& l, bool vertical) {
    int32_t looked = 0, both = 0;
    for (int32_t p = l.lo; p <= l.hi; p += 4) {
        bool before = false, after = false;
        for (int32_t d = 1; d <= 3; ++d) {
            before |= vertical ? InkAt(ctx, l.c0 - d, p) : InkAt(ctx, p, l.c0 - d);
            after |= vertical ? InkAt(ctx, l.c1 + d, p) : InkAt(ctx, p, l.c1 + d);
        }
        ++looked;
        both += before && after;
    }
    return 2 * both > looked;
}

std::vector<Stroke> WithoutDarkAreas(const EngineContext& ctx, std::vector<Stroke> lines,
                                     bool vertical) {
    std::erase_if(lines, [&](const Stroke& l) { return InsideDarkArea(ctx, l, vertical); });
    return lines;
}

struct Classes {
    std::vector<Stroke> longLines, shortLines;
};

Classes SortByLength(const std::vector<Stroke>& lines, int32_t dropBelow) {
    Classes c;
    for (const Stroke& l : lines) {
        if (Length(l) < dropBelow) continue;
        (Length(l) >= 200 ? c.longLines : c.shortLines).push_back(l);
    }
    auto order = [](const Stroke& a, const Stroke& b) {
        return Centre(a) != Centre(b) ? Centre(a) < Centre(b) : a.lo < b.lo;
    };
    std::sort(c.longLines.begin(), c.longLines.end(), order);
    std::sort(c.shortLines.begin(), c.shortLines.end(), order);
    return c;
}

// The group a line belongs to: centre within 14 pixels, gap along under maxGap.
Stroke* FindGroup(std::vector<Stroke>& groups, const Stroke& l, int32_t maxGap) {
    for (Stroke& g : groups) {
        if (std::fabs(Centre(l) - Centre(g)) > 14) continue;
        const int32_t gap = std::max(l.lo - g.hi, g.lo - l.hi);
        if (gap < maxGap) return &g;
    }
    return nullptr;
}

void Absorb(Stroke& g, const Stroke& l) {
    g.lo = std::min(g.lo, l.lo);
    g.hi = std::max(g.hi, l.hi);
    g.c0 = std::min(g.c0, l.c0);
    g.c1 = std::max(g.c1, l.c1);
}

std::vector<Stroke> GroupLines(const std::vector<Stroke>& lines, int32_t maxGap) {
    std::vector<Stroke> groups;
    for (const Stroke& l : lines) {
        Stroke* g = FindGroup(groups, l, maxGap);
        if (g)
            Absorb(*g, l);
        else
            groups.push_back(l);
    }
    return groups;
}

// Grid positions from group centres: positions 29 or less apart become one
// at the middle of the stretch they span.
std::vector<int32_t> GridPositions(const std::vector<Stroke>& groups) {
    std::vector<int32_t> centres;
    for (const Stroke& g : groups) centres.push_back(static_cast<int32_t>(std::lround(Centre(g))));
    std::sort(centres.begin(), centres.end());
    std::vector<int32_t> grid;
    int32_t first = 0, last = 0;
    for (size_t i = 0; i < centres.size(); ++i) {
        if (i > 0 && centres[i] - (first + last) / 2 <= 29) {
            last = centres[i];
            grid.back() = (first + last) / 2;
            continue;
        }
        first = last = centres[i];
        grid.push_back(centres[i]);
    }
    return grid;
}

// The far ends of the crossing lines add a position at either side when
// they lie more than 40 pixels outside the grid (or when there is none yet).
void AddOuterPositions(std::vector<int32_t>& grid, const std::vector<Stroke>& crossing) {
    if (crossing.empty()) return;
    int32_t lo = crossing.front().lo, hi = crossing.front().hi;
    for (const Stroke& g : crossing) {
        lo = std::min(lo, g.lo);
        hi = std::max(hi, g.hi);
    }
    if (grid.empty()) {
        grid.push_back(lo);
        if (hi - lo > 29) grid.push_back(hi);
        return;
    }
    if (lo < grid.front() - 40) grid.insert(grid.begin(), lo);
    if (hi > grid.back() + 40) grid.push_back(hi);
}

// Short lines stay when they cover enough of their grid cell: more than
// 4/16 of it to join a group they line up with, more than 9/16 to start a
// group of their own. A line outside the grid has no cell and is dropped.
void AttachShortLines(std::vector<Stroke>& groups, const std::vector<Stroke>& shortLines,
                      const std::vector<int32_t>& grid, int32_t maxGap) {
    for (const Stroke& l : shortLines) {
        const double mid = 0.5 * (l.lo + l.hi);
        auto it = std::upper_bound(grid.begin(), grid.end(), mid);
        if (it == grid.begin() || it == grid.end()) continue;
        const int32_t cell = *it - *(it - 1);
        if (cell <= 0) continue;
        const int64_t cover = int64_t{Length(l)} * 16 / cell;
        if (Stroke* g = FindGroup(groups, l, maxGap)) {
            if (cover > 4) Absorb(*g, l);
        } else if (cover > 9) {
            groups.push_back(l);
        }
    }
}

}  // namespace

bool FindRuleLines(Segmenter& s, const Box& band) {
    s.horizontalLines.clear();
    s.verticalLines.clear();
    if (band.x1 - band.x0 + 1 < 20 || band.y1 < band.y0) return true;
    if (s.failLineMemory) return false;
    try {
        const int32_t byte0 = band.x0 >> 3;
        const int32_t count = std::min(band.x1 >> 3, s.ctx.RowBytes() - 1) - byte0 + 1;
        std::vector<Segment> hSegs, vSegs;
        HorizontalSegments(s.ctx, band, byte0, count, hSegs);
        VerticalSegments(s.ctx, band, byte0, count, vSegs);

        Classes h = SortByLength(WithoutDarkAreas(s.ctx, JoinSegments(hSegs), false), 100);
        Classes v = SortByLength(WithoutDarkAreas(s.ctx, JoinSegments(vSegs), true), 160);
        std::vector<Stroke> hGroups = GroupLines(h.longLines, 33);
        std::vector<Stroke> vGroups = GroupLines(v.longLines, 17);

        std::vector<int32_t> columns = GridPositions(vGroups);
        std::vector<int32_t> rows = GridPositions(hGroups);
        AddOuterPositions(columns, hGroups);
        AddOuterPositions(rows, vGroups);
        if (columns.size() < 2 || rows.size() < 2) return true;

        AttachShortLines(hGroups, h.shortLines, columns, 33);
        AttachShortLines(vGroups, v.shortLines, rows, 17);
        for (const Stroke& g : hGroups)
            if (Length(g) > 50)
                InsertHorizontal(s.horizontalLines, RuleLine{g.lo, g.c0, g.hi, g.c1});
        for (const Stroke& g : vGroups)
            if (Length(g) > 30) InsertVertical(s.verticalLines, RuleLine{g.c0, g.lo, g.c1, g.hi});
    } catch (const std::bad_alloc&) {
        s.horizontalLines.clear();
        s.verticalLines.clear();
        return false;
    }
    return true;
}

}  // namespace sheetmend::layout_internal
