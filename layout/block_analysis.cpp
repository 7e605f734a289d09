// Block profile analysis. A block is cut by the projection profile of its
// byte columns into column groups, each group by its row profile into groups
// of text lines, and so on alternately until a region holds one kind of line:
// stacked lines become horizontal-text records, side-by-side bands of at most
// 72 pixels that look like lines of characters vertical-text records, and a region no cut divides
// and that is not a single line becomes a non-text record. The records are then joined into the
// block's final list, in reading order; a block without text records is one picture.
#include "layout/block_analysis.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "layout/band_statistics.h"
#include "layout/block_analysis_internal.h"
#include "platform/console.h"

namespace sheetmend {

// ---------------------------------------------------------------------------
// Joining rules of the final list.

bool Encloses(const TextRecord& a, const TextRecord& b) {
    const int32_t d0 = b.x0 - a.x0, d1 = b.y0 - a.y0, d2 = b.x1 - a.x1, d3 = b.y1 - a.y1;
    return (d0 < -9 && d2 >= 10 && d1 <= 4 && d3 > -5) ||
           (d0 >= 10 && d2 < -9 && d1 >= -4 && d3 <= 4) ||
           (d1 < -9 && d3 >= 10 && d0 <= 4 && d2 > -5) ||
           (d1 >= 10 && d3 < -9 && d0 >= -4 && d2 <= 4);
}

bool WithinHorizontally(const TextRecord& a, const TextRecord& b) {
    if (!(160 <= a.W() && a.W() <= b.W() && a.H() < 160)) return false;
    return (a.x0 >= b.x0 && a.x1 <= b.x1) || (IsSimilar(a.x0, b.x0) && a.x1 <= b.x1) ||
           (IsSimilar(a.x1, b.x1) && a.x0 >= b.x0);
}

bool WithinVertically(const TextRecord& a, const TextRecord& b) {
    if (!(160 <= a.H() && a.H() <= b.H() && a.W() < 160)) return false;
    return (a.y0 >= b.y0 && a.y1 <= b.y1 && a.H() >= b.H() / 2) ||
           (IsSimilar(a.y0, b.y0) && a.y1 <= b.y1) || (IsSimilar(a.y1, b.y1) && a.y0 >= b.y0);
}

namespace {

// Blank rows (or columns) between two boxes, negative when they overlap.
// Measured both ways: a record far above another is not its neighbour.
int32_t RowDistance(const TextRecord& a, const TextRecord& b) {
    return std::max(b.y0 - a.y1, a.y0 - b.y1);
}
int32_t ColumnDistance(const TextRecord& a, const TextRecord& b) {
    return std::max(b.x0 - a.x1, a.x0 - b.x1);
}

}  // namespace

bool IsPartner(const TextRecord& p, const TextRecord& r) {
    if (Encloses(p, r) || Encloses(r, p)) return true;
    if (p.orientation == kOrientHorizontal && r.orientation == kOrientHorizontal) {
        return RowDistance(p, r) < 40 && ((IsSimilar(r.x0, p.x0) && IsSimilar(r.x1, p.x1)) ||
                                          WithinHorizontally(r, p) || WithinHorizontally(p, r));
    }
    if (p.orientation == kOrientVertical && r.orientation == kOrientVertical) {
        return ColumnDistance(p, r) < 40 && ((IsSimilar(r.y0, p.y0) && IsSimilar(r.y1, p.y1)) ||
                                             WithinVertically(r, p) || WithinVertically(p, r));
    }
    return false;
}

namespace {

int64_t Area(const TextRecord& r) {
    return int64_t{r.W()} * r.H();
}

// The union of two records. Records of one orientation keep it; a union of
// mixed orientations is horizontal when it is clearly wider than tall. (Taking
// the shape rule for every union would turn a tall column of horizontal text
// into vertical text.)
TextRecord Union(const TextRecord& a, const TextRecord& b) {
    TextRecord u = a;
    u.x0 = std::min(a.x0, b.x0);
    u.y0 = std::min(a.y0, b.y0);
    u.x1 = std::max(a.x1, b.x1);
    u.y1 = std::max(a.y1, b.y1);
    u.lines = a.lines + b.lines;
    if (a.orientation != b.orientation) {
        u.orientation =
            int64_t{u.W()} * 3 > int64_t{u.H()} * 4 ? kOrientHorizontal : kOrientVertical;
    }
    return u;
}

bool Intersects(const TextRecord& a, const TextRecord& b) {
    return a.x0 <= b.x1 && b.x0 <= a.x1 && a.y0 <= b.y1 && b.y0 <= a.y1;
}

}  // namespace

void AddRecord(std::vector<TextRecord>& list, const TextRecord& r) {
    if ((r.lines <= 1 && r.W() < 160 && r.H() < 160) || (r.lines <= 3 && r.W() < 80 && r.H() < 80))
        return;
    size_t at = 0;
    while (at < list.size() && !IsPartner(list[at], r)) ++at;
    if (at == list.size()) {
        list.push_back(r);
        return;
    }
    bool big = Area(r) * 6 / 5 >= Area(list[at]);
    TextRecord moving = Union(list[at], r);
    list.erase(list.begin() + static_cast<ptrdiff_t>(at));
    size_t home = at;
    for (;;) {
        size_t q = 0;
        while (q < list.size() && !IsPartner(list[q], moving)) ++q;
        if (q == list.size()) break;
        big = Area(moving) * 6 / 5 >= Area(list[q]);
        moving = Union(list[q], moving);
        list.erase(list.begin() + static_cast<ptrdiff_t>(q));
        home = q;
    }
    if (big || home > list.size()) {
        list.push_back(moving);
    } else {
        list.insert(list.begin() + static_cast<ptrdiff_t>(home), moving);
    }
}

// ---------------------------------------------------------------------------
// Profiles.

namespace {

inline uint8_t FirstMask(int32_t x0) {
    return static_cast<uint8_t>(0xFFu >> (x0 & 7));
}
inline uint8_t LastMask(int32_t x1) {
    return static_cast<uint8_t>(0xFFu << (7 - (x1 & 7)));
}

// Set bits of n bytes, eight bytes at a time.
inline int32_t CountBits(const uint8_t* p, int32_t n) {
    int32_t total = 0;
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, p + i, 8);
        total += __builtin_popcountll(w);
    }
    for (; i < n; ++i) total += kBitCount[p[i]];
    return total;
}

struct Box {
    int32_t x0, y0, x1, y1;
    int32_t W() const { return x1 - x0 + 1; }
    int32_t H() const { return y1 - y0 + 1; }
};

// Set bits per byte column of the box; out[i] is byte column (x0 >> 3) + i.
void ColumnProfile(const EngineContext& ctx, const Box& b, int32_t* out) {
    const int32_t bx0 = b.x0 >> 3, bx1 = b.x1 >> 3, n = bx1 - bx0 + 1;
    std::fill(out, out + n, 0);
    const uint8_t m0 = FirstMask(b.x0), m1 = LastMask(b.x1);
    for (int32_t y = b.y0; y <= b.y1; ++y) {
        const uint8_t* row = ctx.Row(y) + bx0;
        if (n == 1) {
            out[0] += kBitCount[row[0] & m0 & m1];
            continue;
        }
        out[0] += kBitCount[row[0] & m0];
        // Pages are mostly paper: blank words of eight bytes are skipped.
        int32_t i = 1;
        for (; i + 8 <= n - 1; i += 8) {
            uint64_t w;
            std::memcpy(&w, row + i, 8);
            if (w == 0) continue;
            for (int32_t k = 0; k < 8; ++k) out[i + k] += kBitCount[row[i + k]];
        }
        for (; i < n - 1; ++i) out[i] += kBitCount[row[i]];
        out[n - 1] += kBitCount[row[n - 1] & m1];
    }
}

// Set bits per row of the box; out[i] is row y0 + i.
void RowProfile(const EngineContext& ctx, const Box& b, int32_t* out) {
    const int32_t bx0 = b.x0 >> 3, bx1 = b.x1 >> 3, n = bx1 - bx0 + 1;
    const uint8_t m0 = FirstMask(b.x0), m1 = LastMask(b.x1);
    for (int32_t y = b.y0; y <= b.y1; ++y) {
        const uint8_t* row = ctx.Row(y) + bx0;
        if (n == 1) {
            out[y - b.y0] = kBitCount[row[0] & m0 & m1];
        } else {
            out[y - b.y0] = kBitCount[row[0] & m0] + kBitCount[row[n - 1] & m1] +
                            (n > 2 ? CountBits(row + 1, n - 2) : 0);
        }
    }
}

// The box's rows OR-ed together, one byte per byte column, edges masked.
void OrRows(const EngineContext& ctx, const Box& b, uint8_t* out) {
    const int32_t bx0 = b.x0 >> 3, bx1 = b.x1 >> 3, n = bx1 - bx0 + 1;
    std::memset(out, 0, static_cast<size_t>(n));
    for (int32_t y = b.y0; y <= b.y1; ++y) {
        const uint8_t* row = ctx.Row(y) + bx0;
        int32_t i = 0;
        for (; i + 8 <= n; i += 8) {
            uint64_t w, o;
            std::memcpy(&w, row + i, 8);
            std::memcpy(&o, out + i, 8);
            o |= w;
            std::memcpy(out + i, &o, 8);
        }
        for (; i < n; ++i) out[i] |= row[i];
    }
    out[0] &= FirstMask(b.x0);
    out[n - 1] &= LastMask(b.x1);
}

inline bool OrBit(const uint8_t* bits, int32_t bx0, int32_t x) {
    return (bits[(x >> 3) - bx0] >> (7 - (x & 7))) & 1;
}

// ---------------------------------------------------------------------------
// The recursive cuts.

struct Region {
    Box box;
    int32_t level = 0;
    int32_t sampling = 90;
    bool wholeFromColumns = false;  // a column cut left it undivided
    bool wholeFromRows = false;     // a row cut left it undivided
    bool pixelPrecise = false;      // the column cut counts pixel columns
    bool retry = false;             // lies inside a pixel-precise retry
    int32_t vgroup = -1;            // slot of the group for its vertical records
    int32_t hgroup = -1;            // slot of the group for its horizontal records
};

// Below this the sampling value (reduced by a quarter per level) stops the
// recursion: about 14 levels, far more than real pages need.
constexpr int32_t kMinSampling = 4;

// The median of the values (the upper one of the middle two); 0 for none.
int32_t MedianOf(std::vector<int32_t> v) {
    if (v.empty()) return 0;
    const auto mid = v.begin() + static_cast<ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

class Analyzer {
  public:
    Analyzer(const EngineContext& ctx, AnalysisRegion& block) : ctx_(ctx), block_(block) {}

    void Run() {
        Region r;
        r.box = Box{block_.x0, block_.y0, block_.x1, block_.y1};
        r.sampling = block_.sampling;
        CutColumns(r);
    }

    std::vector<BlockRecord> Finish();

  private:
    int32_t NewGroup(std::vector<Group>& groups) {
        groups.emplace_back();
        return static_cast<int32_t>(groups.size()) - 1;
    }
    // A slot names the group that sibling regions share; the group itself is
    // made when its first record arrives, so groups stand in the order their
    // first records were found, which is reading order.
    int32_t NewSlot() {
        slots_.push_back(-1);
        return static_cast<int32_t>(slots_.size()) - 1;
    }
    Group& GroupOf(int32_t slot, std::vector<Group>& groups) {
        if (slot < 0) return groups[static_cast<size_t>(NewGroup(groups))];
        int32_t& g = slots_[static_cast<size_t>(slot)];
        if (g < 0) g = NewGroup(groups);
        return groups[static_cast<size_t>(g)];
    }
    void Emit(const Region& r, const TextRecord& rec) {
        if (rec.orientation == kOrientVertical) {
            GroupOf(r.vgroup, vgroups_).records.push_back(rec);
        } else {
            GroupOf(r.hgroup, hgroups_).records.push_back(rec);
        }
    }
    void NonText(const Box& b) {
        TextRecord rec{b.x0, b.y0, b.x1, b.y1, kOrientNone, 0, 0, 0};
        nonText_.push_back(rec);
    }

    // The box narrowed to the pixel columns with ink in its rows; false when
    // it has none.
    bool TrimColumns(Box& b) {
        uint8_t* bits = block_.scratch;
        OrRows(ctx_, b, bits);
        const int32_t bx0 = b.x0 >> 3, n = (b.x1 >> 3) - bx0 + 1;
        int32_t first = 0, last = n - 1;
        while (first < n && bits[first] == 0) ++first;
        if (first == n) return false;
        while (bits[last] == 0) --last;
        const int32_t x0 = (bx0 + first) * 8 + __builtin_clz(uint32_t{bits[first]}) - 24;
        const int32_t x1 = (bx0 + last) * 8 + 7 - __builtin_ctz(uint32_t{bits[last]});
        b.x0 = x0;
        b.x1 = x1;
        return true;
    }

    // Widest blank run between ink inside the box, in pixels.
    int32_t WidestInnerGap(const Box& b) {
        uint8_t* bits = block_.scratch;
        OrRows(ctx_, b, bits);
        const int32_t bx0 = b.x0 >> 3;
        int32_t widest = 0, run = 0;
        bool seenInk = false;
        for (int32_t x = b.x0; x <= b.x1; ++x) {
            if (OrBit(bits, bx0, x)) {
                if (seenInk) widest = std::max(widest, run);
                seenInk = true;
                run = 0;
            } else {
                ++run;
            }
        }
        return widest;
    }

    // The row bands of the box.
    std::vector<Band> RowBands(const Box& b) {
        RowProfile(ctx_, b, block_.rowProfile);
        const size_t k =
            FindBands(block_.rowProfile, b.H(), ProfileUnit::kRows, b.y0, block_.bands, kMaxBands);
        return std::vector<Band>(block_.bands, block_.bands + k);
    }

    // Number of runs of pixel columns with ink in the box; blanks of one
    // pixel are counted in (strokes of one glyph that nearly touch).
    int32_t InkRuns(const Box& b) {
        uint8_t* bits = block_.scratch;
        OrRows(ctx_, b, bits);
        const int32_t bx0 = b.x0 >> 3;
        int32_t runs = 0, lastInk = INT32_MIN / 2;
        for (int32_t x = b.x0; x <= b.x1; ++x) {
            if (!OrBit(bits, bx0, x)) continue;
            if (x - lastInk - 1 >= 2) ++runs;
            lastInk = x;
        }
        return runs;
    }

    // Whether side-by-side column bands (spans) are vertical lines of
    // characters. Tightly set horizontal text (a narrow column, a list, a
    // table of figures) has lines as close as the characters of vertical
    // lines, so closeness alone does not decide. Every band must be at most
    // 72 pixels wide and read as one vertical line: either
    // - it is about one character wide: no wider than 3/2 of the median
    //   height of its own row bands (a character of a vertical line, or a
    //   line of horizontal text); or
    // - its row bands are single glyphs (most of them one run of ink across,
    //   as a rotated letter) and do not stand at the same rows as those of
    //   its neighbours: vertical lines of unequal glyphs do not align, the
    //   lines of a table of figures (whose digits may touch) do. A lone band
    //   needs the first test.
    // The width judged is that of the widest run of ink in a band (see
    // WidestInkRun), since a byte band may hold two close vertical lines.
    bool LooksLikeVerticalLines(const std::vector<Box>& spans) {
        if (spans.empty()) return false;
        const size_t n = spans.size();
        std::vector<std::vector<Band>> rows(n);
        std::vector<bool> characterWide(n);
        for (size_t i = 0; i < n; ++i) {
            const Box& s = spans[i];
            const int32_t width = WidestInkRun(s);
            if (width > 72) return false;
            rows[i] = RowBands(s);
            std::vector<int32_t> heights(rows[i].size());
            for (size_t j = 0; j < rows[i].size(); ++j) heights[j] = rows[i][j].width;
            characterWide[i] = 2 * width <= 3 * MedianOf(heights);
            if (characterWide[i]) continue;
            std::vector<int32_t> runs(rows[i].size());
            for (size_t j = 0; j < rows[i].size(); ++j) {
                const Band& row = rows[i][j];
                runs[j] = InkRuns(Box{s.x0, row.start, s.x1, row.start + row.width - 1});
            }
            if (runs.empty() || MedianOf(runs) > 1) return false;
        }
        for (size_t i = 0; i < n; ++i) {
            if (characterWide[i]) continue;
            if (n == 1) return false;
            if (i > 0 && SharesRows(rows[i], rows[i - 1])) return false;
            if (i + 1 < n && SharesRows(rows[i], rows[i + 1])) return false;
        }
        return true;
    }

    // Whether at least two thirds of the row bands of one column band stand
    // at the rows of a band of the other (start and end within 2 pixels):
    // the lines of a table or of text columns, not vertical lines.
    static bool SharesRows(const std::vector<Band>& a, const std::vector<Band>& b) {
        if (a.empty()) return false;
        size_t shared = 0, k = 0;
        for (const Band& r : a) {
            while (k < b.size() && b[k].start + b[k].width < r.start + r.width - 2) ++k;
            if (k < b.size() && std::abs(b[k].start - r.start) <= 2 &&
                std::abs(b[k].width - r.width) <= 2) {
                ++shared;
            }
        }
        return 3 * shared >= 2 * a.size();
    }

    // Width of the widest run of pixel columns with ink in the box, blanks
    // narrower than 8 pixels counted in: the width of one vertical line even
    // when a byte band holds two close ones, but the whole width of a column
    // of figures, whose digits stand a few pixels apart.
    int32_t WidestInkRun(const Box& b) {
        uint8_t* bits = block_.scratch;
        OrRows(ctx_, b, bits);
        const int32_t bx0 = b.x0 >> 3;
        int32_t widest = 0, start = -1, lastInk = -1;
        for (int32_t x = b.x0; x <= b.x1; ++x) {
            if (!OrBit(bits, bx0, x)) continue;
            if (start < 0 || x - lastInk - 1 >= 8) start = x;
            lastInk = x;
            widest = std::max(widest, x - start + 1);
        }
        return widest;
    }

    // The byte-column bands of the box, held to it, over its rows.
    std::vector<Box> ColumnSpans(const Box& b) {
        int32_t* prof = block_.columnProfile;
        ColumnProfile(ctx_, b, prof);
        const int32_t bx0 = b.x0 >> 3, nb = (b.x1 >> 3) - bx0 + 1;
        const size_t n =
            FindBands(prof, nb, ProfileUnit::kByteColumns, bx0, block_.bands, kMaxBands);
        std::vector<Box> spans;
        for (size_t i = 0; i < n; ++i) {
            const Band& band = block_.bands[i];
            const int32_t s = std::max(band.start, b.x0);
            const int32_t e = std::min(band.start + band.width, b.x1 + 1);
            if (e > s) spans.push_back(Box{s, b.y0, e - 1, b.y1});
        }
        return spans;
    }

    // The column bands first..last of the region as boxes over its rows.
    static std::vector<Box> SpansOf(const std::vector<Band>& bands, size_t first, size_t last,
                                    const Box& b) {
        std::vector<Box> spans;
        for (size_t i = first; i <= last; ++i) {
            spans.push_back(Box{bands[i].start, b.y0, bands[i].start + bands[i].width - 1, b.y1});
        }
        return spans;
    }

    void CutColumns(Region r);
    void CutRows(Region r);
    void Undivided(Region r, bool columnCut);
    void EmitLineGroup(const Region& r, const Band* lines, size_t count, bool wholeRegion);
    TextRecord BandRecord(const Box& b);

    const EngineContext& ctx_;
    AnalysisRegion& block_;
    std::vector<Group> hgroups_, vgroups_;
    std::vector<int32_t> slots_;  // group index per slot, -1 until used
    std::vector<TextRecord> nonText_;
};

void Analyzer::CutColumns(Region r) {
    r.sampling -= r.sampling / 4;
    if (r.sampling < kMinSampling) {
        NonText(r.box);
        return;
    }
    Box& b = r.box;
    if (b.W() <= 0 || b.H() <= 0) return;

    // A band of one line's height reads as one line of words; its word gaps
    // must not be taken for columns.
    if (!r.pixelPrecise && !r.wholeFromRows && b.H() >= 21 && b.H() <= 63 && b.W() > 3 * b.H()) {
        r.wholeFromColumns = true;
        CutRows(r);
        return;
    }

    std::vector<Band> bands;
    if (r.pixelPrecise) {
        if (!TrimColumns(b)) return;
        const uint8_t* bits = block_.scratch;
        OrRows(ctx_, b, block_.scratch);  // again, for the trimmed box
        const int32_t bx0 = b.x0 >> 3;
        int32_t* prof = block_.columnProfile;
        for (int32_t x = b.x0; x <= b.x1; ++x) prof[x - b.x0] = OrBit(bits, bx0, x);
        const size_t n =
            FindBands(prof, b.W(), ProfileUnit::kPixelColumns, b.x0, block_.bands, kMaxBands);
        bands.assign(block_.bands, block_.bands + n);
    } else {
        int32_t* prof = block_.columnProfile;
        ColumnProfile(ctx_, b, prof);
        const int32_t bx0 = b.x0 >> 3, nb = (b.x1 >> 3) - bx0 + 1;
        for (int32_t i = 0; i < nb; ++i) {
            if (prof[i] <= 10) prof[i] = 0;
        }
        int32_t first = 0, last = nb - 1;
        while (first < nb && prof[first] == 0) ++first;
        if (first == nb) return;
        while (prof[last] == 0) --last;
        const size_t n = FindBands(prof + first, last - first + 1, ProfileUnit::kByteColumns,
                                   bx0 + first, block_.bands, kMaxBands);
        bands.assign(block_.bands, block_.bands + n);
        // Byte bands may start before or end after the box.
        for (Band& band : bands) {
            const int32_t s = std::max(band.start, b.x0);
            const int32_t e = std::min(band.start + band.width, b.x1 + 1);
            band.start = s;
            band.width = e - s;
        }
        for (size_t i = 0; i + 1 < bands.size(); ++i)
            bands[i].gap = bands[i + 1].start - (bands[i].start + bands[i].width);
    }
    if (bands.empty()) return;  // only specks
    b.x0 = bands.front().start;
    b.x1 = bands.back().start + bands.back().width - 1;

    if (bands.size() == 1) {
        if (r.wholeFromRows || r.pixelPrecise) {
            Undivided(r, true);
        } else {
            r.wholeFromColumns = true;
            r.pixelPrecise = false;
            CutRows(r);
        }
        return;
    }

    const size_t n = bands.size();
    std::vector<int32_t> widths(n), gaps(n - 1);
    int32_t maxWidth = 0;
    for (size_t i = 0; i < n; ++i) {
        widths[i] = bands[i].width;
        maxWidth = std::max(maxWidth, widths[i]);
        if (i + 1 < n) gaps[i] = bands[i].gap;
    }
    const bool byteMode = !r.pixelPrecise;
    const BandStats ws =
        BandStatistics(false, kColumnBandKind, widths.data(), n, b.W(), byteMode, r.level == 0);
    const BandStats gs =
        BandStatistics(true, kColumnBandKind, gaps.data(), n - 1, b.W(), byteMode, r.level == 0);
    int32_t gapThreshold = gs.threshold;
    if (gapThreshold == kNoGapThreshold || gapThreshold <= 0) {
        gapThreshold = b.H() < 64 ? 32 : b.H() < 128 ? 24 : b.H() < 200 ? 16 : 8;
    }
    gapThreshold = std::min(gapThreshold, 32);
    const int32_t widthThreshold = ws.threshold == kNoSizeThreshold ? INT32_MAX : ws.threshold;
    const int32_t typicalGap = gs.typical;

    if (r.vgroup < 0) r.vgroup = NewSlot();

    // Narrow bands side by side are vertical text lines. They must also be
    // clearly taller than wide, or a row of short words would qualify.
    // And each must be about one character wide (see LooksLikeVerticalLines):
    // the columns of a table of figures are narrow too.
    const bool narrow = n == 2 ? (widths[0] + widths[1]) / 2 <= 72 : maxWidth <= 72;
    if (narrow && b.H() > 63 && b.H() >= 2 * maxWidth &&
        LooksLikeVerticalLines(SpansOf(bands, 0, n - 1, b))) {
        TextRecord rec = BandRecord(b);
        rec.orientation = kOrientVertical;
        rec.lines = static_cast<int32_t>(n);
        int64_t sw = 0, sg = 0;
        for (size_t i = 0; i < n; ++i) sw += widths[i];
        for (size_t i = 0; i + 1 < n; ++i) sg += gaps[i];
        rec.meanSize = static_cast<int32_t>(sw / int64_t(n));
        rec.meanGap = static_cast<int32_t>(sg / int64_t(n - 1));
        Emit(r, rec);
        return;
    }

    // Group the bands from left to right.
    std::vector<std::pair<size_t, size_t>> groups;
    size_t start = 0;
    int64_t meanWidth = widths[0], meanGap = 0;
    int32_t gapCount = 0;
    for (size_t i = 1; i < n; ++i) {
        const int32_t gap = gaps[i - 1];
        const bool split =
            (n <= 4 && gap >= 64) ||
            ((widths[i - 1] > widthThreshold || widths[i] > widthThreshold) &&
             gap > typicalGap / 2) ||
            (!IsSimilar(widths[i], static_cast<int32_t>(meanWidth)) && gap >= gapThreshold) ||
            (bands[i].start + bands[i].width - bands[i - 1].start >= 1000) ||
            (gapCount > 0 && !IsSimilar(gap, static_cast<int32_t>(meanGap)) && gap >= gapThreshold);
        if (split) {
            groups.emplace_back(start, i - 1);
            start = i;
            meanWidth = widths[i];
            meanGap = 0;
            gapCount = 0;
        } else {
            const int64_t k = static_cast<int64_t>(i - start) + 1;
            meanWidth = (meanWidth * (k - 1) + widths[i]) / k;
            meanGap = (meanGap * gapCount + gap) / (gapCount + 1);
            ++gapCount;
        }
    }
    groups.emplace_back(start, n - 1);

    // A very long group is divided again at its large gaps.
    std::vector<std::pair<size_t, size_t>> pieces;
    for (auto [g0, g1] : groups) {
        const int32_t span = bands[g1].start + bands[g1].width - bands[g0].start;
        if (span < 2400) {
            pieces.emplace_back(g0, g1);
            continue;
        }
        size_t s = g0;
        for (size_t i = g0; i < g1; ++i) {
            if (gaps[i] >= gapThreshold) {
                pieces.emplace_back(s, i);
                s = i + 1;
            }
        }
        pieces.emplace_back(s, g1);
    }

    const bool whole = pieces.size() == 1;
    for (auto [g0, g1] : pieces) {
        // A group of narrow bands is vertical text lines by the same test
        // as a whole region of them.
        if (g1 > g0) {
            const size_t k = g1 - g0 + 1;
            int32_t widest = 0;
            for (size_t i = g0; i <= g1; ++i) widest = std::max(widest, widths[i]);
            const bool narrowGroup = k == 2 ? (widths[g0] + widths[g1]) / 2 <= 72 : widest <= 72;
            if (narrowGroup && b.H() > 63 && b.H() >= 2 * widest &&
                LooksLikeVerticalLines(SpansOf(bands, g0, g1, b))) {
                const Box gb{bands[g0].start, b.y0, bands[g1].start + bands[g1].width - 1, b.y1};
                TextRecord rec = BandRecord(gb);
                rec.orientation = kOrientVertical;
                Emit(r, rec);
                continue;
            }
        }
        Region child;
        child.box = Box{bands[g0].start, b.y0, bands[g1].start + bands[g1].width - 1, b.y1};
        child.level = r.level + 1;
        child.sampling = r.sampling;
        child.wholeFromColumns = whole;
        child.retry = r.retry || r.pixelPrecise;
        child.vgroup = r.vgroup;
        CutRows(child);
    }
}

void Analyzer::CutRows(Region r) {
    r.sampling -= r.sampling / 4;
    if (r.sampling < kMinSampling) {
        NonText(r.box);
        return;
    }
    Box& b = r.box;
    if (b.W() <= 0 || b.H() <= 0) return;
    int32_t* prof = block_.rowProfile;
    RowProfile(ctx_, b, prof);
    int32_t first = 0, last = b.H() - 1;
    while (first <= last && prof[first] == 0) ++first;
    if (first > last) return;
    while (prof[last] == 0) --last;
    const size_t count = FindBands(prof + first, last - first + 1, ProfileUnit::kRows, b.y0 + first,
                                   block_.bands, kMaxBands);
    if (count == 0) return;  // only specks
    std::vector<Band> lines(block_.bands, block_.bands + count);
    b.y0 = lines.front().start;
    b.y1 = lines.back().start + lines.back().width - 1;

    if (count == 1) {
        if (r.wholeFromColumns) {
            Undivided(r, false);
        } else {
            r.wholeFromRows = true;
            r.level += 1;
            CutColumns(r);
        }
        return;
    }

    const size_t n = count;
    std::vector<int32_t> heights(n), gaps(n - 1);
    int32_t largest = 0;
    for (size_t i = 0; i < n; ++i) {
        heights[i] = lines[i].width;
        largest = std::max(largest, heights[i]);
        if (i + 1 < n) gaps[i] = lines[i].gap;
    }
    const BandStats hs =
        BandStatistics(false, kRowBandKind, heights.data(), n, b.H(), true, r.level == 0);
    const BandStats gs =
        BandStatistics(true, kRowBandKind, gaps.data(), n - 1, b.H(), true, r.level == 0);
    int32_t gapThreshold = gs.threshold;
    if (gapThreshold == kNoGapThreshold || gapThreshold <= 0) {
        gapThreshold = b.W() < 64 ? 20 : b.W() < 128 ? 16 : 9;
    }
    gapThreshold = std::min(gapThreshold, 32);
    const int32_t typicalGap = gs.typical;
    const int32_t heightThreshold = hs.threshold == kNoSizeThreshold ? INT32_MAX : hs.threshold;
    // The start of the highest run of heights, unless the typical height
    // is itself in that run.
    const int32_t largestTypical =
        hs.runCount == 0 ? hs.high : (hs.modeRun != hs.runCount - 1 ? hs.high : INT32_MAX);

    if (r.hgroup < 0) r.hgroup = NewSlot();

    std::vector<std::pair<size_t, size_t>> groups;
    if (IsSimilar(hs.typical, largest)) {
        // Uniform lines: one group. Columns side by side within it are found
        // by the word-gap test when the group is emitted.
        groups.emplace_back(0, n - 1);
    } else {
        size_t start = 0;
        int64_t meanHeight = heights[0], meanGap = 0;
        int32_t gapCount = 0;
        for (size_t i = 1; i < n; ++i) {
            const int32_t gap = gaps[i - 1];
            const int32_t hp = heights[i - 1], hi = heights[i];
            const int32_t reach = lines[i].start + lines[i].width - lines[start].start;
            const bool split = ((hp > heightThreshold || hi > heightThreshold) &&
                                gap > std::max(4, typicalGap / 2)) ||
                               ((hp >= largestTypical || hi >= largestTypical) &&
                                gap > std::max(2, typicalGap / 3)) ||
                               hp > 1200 || gap > 80 ||
                               ((!IsSimilar(hi, static_cast<int32_t>(meanHeight)) || hi >= 160) &&
                                (gap >= gapThreshold || reach >= 1600)) ||
                               (gapCount > 0 && !IsSimilar(gap, static_cast<int32_t>(meanGap)) &&
                                gap >= gapThreshold);
            if (split) {
                groups.emplace_back(start, i - 1);
                start = i;
                meanHeight = hi;
                meanGap = 0;
                gapCount = 0;
            } else {
                const int64_t k = static_cast<int64_t>(i - start) + 1;
                meanHeight = (meanHeight * (k - 1) + hi) / k;
                meanGap = (meanGap * gapCount + gap) / (gapCount + 1);
                ++gapCount;
            }
        }
        groups.emplace_back(start, n - 1);
    }

    const bool whole = groups.size() == 1;
    for (auto [g0, g1] : groups) EmitLineGroup(r, lines.data() + g0, g1 - g0 + 1, whole);
}

// A group of lines from a row cut becomes horizontal text, vertical text or
// a region for a further column cut.
void Analyzer::EmitLineGroup(const Region& r, const Band* lines, size_t count, bool wholeRegion) {
    Box g{r.box.x0, lines[0].start, r.box.x1, lines[count - 1].start + lines[count - 1].width - 1};
    if (!TrimColumns(g)) return;
    int32_t tallest = 0;
    int64_t sumHeight = 0, sumGap = 0;
    for (size_t i = 0; i < count; ++i) {
        tallest = std::max(tallest, lines[i].width);
        sumHeight += lines[i].width;
        if (i + 1 < count) sumGap += lines[i].gap;
    }
    const int32_t meanHeight = static_cast<int32_t>(sumHeight / int64_t(count));
    const int32_t meanGap = count > 1 ? static_cast<int32_t>(sumGap / int64_t(count - 1)) : 0;
    // The group is the region a column cut could not divide: cutting it by
    // columns again would only repeat that cut.
    const bool settled = wholeRegion && r.wholeFromColumns;

    Region sub;
    sub.box = g;
    sub.level = r.level + 1;
    sub.sampling = r.sampling;
    sub.retry = r.retry;
    sub.vgroup = r.vgroup;
    sub.hgroup = r.hgroup;

    // Lines taller than 200 pixels are no text lines: a picture, or several
    // columns whose lines do not align.
    if (tallest > 200) {
        if (settled) {
            sub.wholeFromColumns = true;
            Undivided(sub, false);
        } else {
            sub.wholeFromRows = wholeRegion;
            sub.hgroup = -1;
            CutColumns(sub);
        }
        return;
    }

    // A blank wider than a word gap runs through every line: columns.
    const int32_t firstHeight = lines[0].width;
    const int32_t wordGapMax = (count > 1 || firstHeight > 200) ? 40 : 25;
    const int32_t wordGap = std::clamp(meanHeight, 25, wordGapMax);
    if (!settled && WidestInnerGap(g) >= wordGap) {
        sub.wholeFromRows = wholeRegion;
        sub.hgroup = -1;
        CutColumns(sub);
        return;
    }

    // Lines this close are the characters of vertical lines side by side
    // only when the group's column bands look like vertical lines (close
    // lines alone are also any tightly set horizontal text); lines no wider
    // than two characters are a single column of stacked characters.
    if (count > 1 && ((meanGap < 8 && g.W() < 1200 && LooksLikeVerticalLines(ColumnSpans(g))) ||
                      g.W() <= 2 * tallest)) {
        TextRecord rec = BandRecord(g);
        if (rec.lines > 1 || rec.W() <= 3 * rec.H()) {
            rec.orientation = kOrientVertical;
            Emit(r, rec);
            return;
        }
    }

    // Horizontal text, emitted whole below 1600 pixels, else in pieces.
    size_t s = 0;
    while (s < count) {
        size_t e = s;
        while (e + 1 < count && lines[e + 1].start + lines[e + 1].width - lines[s].start < 1600) {
            ++e;
        }
        Box piece{g.x0, lines[s].start, g.x1, lines[e].start + lines[e].width - 1};
        if (TrimColumns(piece)) {
            TextRecord rec{piece.x0, piece.y0, piece.x1, piece.y1, kOrientHorizontal, 0, 0, 0};
            rec.lines = static_cast<int32_t>(e - s + 1);
            int64_t sh = 0, sg = 0;
            for (size_t i = s; i <= e; ++i) {
                sh += lines[i].width;
                if (i < e) sg += lines[i].gap;
            }
            rec.meanSize = static_cast<int32_t>(sh / rec.lines);
            rec.meanGap = rec.lines > 1 ? static_cast<int32_t>(sg / (rec.lines - 1)) : 0;
            if (rec.lines == 1 && 2 * rec.W() < rec.H()) rec.orientation = kOrientVertical;
            Emit(r, rec);
        }
        s = e + 1;
    }
}

// A record over the box whose lines are its byte-column bands; the
// orientation is set by the caller.
TextRecord Analyzer::BandRecord(const Box& b) {
    int32_t* prof = block_.columnProfile;
    ColumnProfile(ctx_, b, prof);
    const int32_t bx0 = b.x0 >> 3, nb = (b.x1 >> 3) - bx0 + 1;
    const size_t n = FindBands(prof, nb, ProfileUnit::kByteColumns, bx0, block_.bands, kMaxBands);
    Box ink = b;
    if (!TrimColumns(ink)) ink = b;
    TextRecord rec{ink.x0, b.y0, ink.x1, b.y1, kOrientVertical, 0, 0, 0};
    rec.lines = static_cast<int32_t>(std::max<size_t>(n, 1));
    int64_t sw = 0, sg = 0;
    for (size_t i = 0; i < n; ++i) {
        sw += block_.bands[i].width;
        if (i + 1 < n) sg += block_.bands[i].gap;
    }
    rec.meanSize = n > 0 ? static_cast<int32_t>(sw / int64_t(n)) : b.W();
    rec.meanGap = n > 1 ? static_cast<int32_t>(sg / int64_t(n - 1)) : 0;
    // Trim the rows to the ink.
    RowProfile(ctx_, b, block_.rowProfile);
    int32_t first = 0, last = b.H() - 1;
    while (first < last && block_.rowProfile[first] == 0) ++first;
    while (last > first && block_.rowProfile[last] == 0) --last;
    rec.y0 = b.y0 + first;
    rec.y1 = b.y0 + last;
    return rec;
}

// A region that neither cut divides: a single line, a pixel-precise retry
// of the column cut, or a non-text record.
void Analyzer::Undivided(Region r, bool columnCut) {
    // Byte-column bands may reach a few blank pixels past the ink.
    if (!TrimColumns(r.box)) return;
    const Box& b = r.box;
    const int32_t w = b.W(), h = b.H();
    if (columnCut && w >= 21 && w <= 63 && h > w) {
        Emit(r, TextRecord{b.x0, b.y0, b.x1, b.y1, kOrientVertical, 1, w, 0});
        return;
    }
    if (!columnCut && h >= 21 && h <= 63 && w > h) {
        Emit(r, TextRecord{b.x0, b.y0, b.x1, b.y1, kOrientHorizontal, 1, h, 0});
        return;
    }
    const bool smallRetry = r.retry && w < block_.retryWidth && h < block_.retryHeight;
    if (!r.pixelPrecise && w >= 96 && h >= 96 && !smallRetry) {
        Region retry = r;
        retry.pixelPrecise = true;
        retry.retry = true;
        retry.wholeFromRows = true;
        retry.level += 1;
        size_t recordsBefore = 0;
        for (const Group& g : hgroups_) recordsBefore += g.records.size();
        for (const Group& g : vgroups_) recordsBefore += g.records.size();
        CutColumns(retry);
        size_t recordsAfter = 0;
        for (const Group& g : hgroups_) recordsAfter += g.records.size();
        for (const Group& g : vgroups_) recordsAfter += g.records.size();
        // Nothing readable inside: the whole region is one non-text record
        // (the pieces the retry called non-text are folded into it).
        if (recordsAfter == recordsBefore) {
            while (!nonText_.empty() && nonText_.back().x0 >= b.x0 && nonText_.back().x1 <= b.x1 &&
                   nonText_.back().y0 >= b.y0 && nonText_.back().y1 <= b.y1) {
                nonText_.pop_back();
            }
            NonText(b);
        }
        return;
    }
    NonText(b);
}

// ---------------------------------------------------------------------------
// The final list.

Box GroupBox(const Group& g) {
    Box b{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
    for (const TextRecord& r : g.records) {
        b.x0 = std::min(b.x0, r.x0);
        b.y0 = std::min(b.y0, r.y0);
        b.x1 = std::max(b.x1, r.x1);
        b.y1 = std::max(b.y1, r.y1);
    }
    return b;
}

void DropEmpty(std::vector<Group>& groups) {
    groups.erase(std::remove_if(groups.begin(), groups.end(),
                                [](const Group& g) { return g.records.empty(); }),
                 groups.end());
}

size_t RecordCount(const std::vector<Group>& groups) {
    size_t n = 0;
    for (const Group& g : groups) n += g.records.size();
    return n;
}

}  // namespace

// Records of the minority orientation that have the shape of the leading one
// (at most two lines, and wider than tall for horizontal text, taller than
// wide for vertical) change orientation and form one new group of it.
void ReexamineMinority(std::vector<Group>& minority, std::vector<Group>& leading,
                       uint32_t leadingOrientation) {
    Group moved;
    for (Group& g : minority) {
        auto keep = g.records.begin();
        for (auto it = g.records.begin(); it != g.records.end(); ++it) {
            const bool fits =
                it->lines <= 2 &&
                (leadingOrientation == kOrientHorizontal ? it->W() > it->H() : it->H() > it->W());
            if (fits) {
                TextRecord rec = *it;
                rec.orientation = leadingOrientation;
                moved.records.push_back(rec);
            } else {
                *keep++ = *it;
            }
        }
        g.records.erase(keep, g.records.end());
    }
    DropEmpty(minority);
    if (!moved.records.empty()) leading.push_back(std::move(moved));
}

namespace {

// Narrow groups in a corner of the block: joined and taken as vertical text.
void NarrowGroups(std::vector<Group>& groups, const AnalysisRegion& blk, bool horizontal,
                  std::vector<TextRecord>& list) {
    for (Group& g : groups) {
        if (g.records.empty()) continue;
        const Box box = GroupBox(g);
        const bool candidate = horizontal ? (box.x0 >= blk.x1 - blk.width / 4 &&
                                             box.y0 <= blk.y0 + blk.height / 2 && box.W() < 220)
                                          : (box.x1 <= blk.x1 - blk.width / 3 &&
                                             box.y1 <= blk.y0 + blk.height / 3 && box.W() < 220);
        if (!candidate) continue;
        TextRecord joined = g.records[0];
        size_t next = 1;
        while (next < g.records.size()) {
            const TextRecord& q = g.records[next];
            if (!(q.y0 - joined.y1 < 120 && IsSimilar(joined.W(), q.W()))) break;
            joined.y1 = std::max(joined.y1, q.y1);
            joined.x0 = std::min(joined.x0, q.x0);
            joined.x1 = std::max(joined.x1, q.x1);
            joined.lines += q.lines;
            ++next;
        }
        joined.orientation = kOrientVertical;
        AddRecord(list, joined);
        g.records.erase(g.records.begin(), g.records.begin() + static_cast<ptrdiff_t>(next));
    }
    DropEmpty(groups);
}

// Walks each group's records in order, joining a record into the one before
// it while `joins` says so (`absorb` widens the box), and adds the results.
template <typename Joins, typename Absorb>
void MergeRuns(std::vector<Group>& groups, std::vector<TextRecord>& list, Joins joins,
               Absorb absorb) {
    for (Group& g : groups) {
        if (g.records.empty()) continue;
        TextRecord p = g.records[0];
        for (size_t i = 1; i < g.records.size(); ++i) {
            const TextRecord& q = g.records[i];
            if (joins(p, q)) {
                absorb(p, q);
                p.lines += q.lines;
            } else {
                AddRecord(list, p);
                p = q;
            }
        }
        AddRecord(list, p);
        g.records.clear();
    }
    DropEmpty(groups);
}

void StackedMerge(std::vector<Group>& groups, std::vector<TextRecord>& list) {
    MergeRuns(
        groups, list,
        [](const TextRecord& p, const TextRecord& q) {
            return q.y0 - p.y1 < 40 && ((IsSimilar(p.x0, q.x0) && IsSimilar(p.x1, q.x1)) ||
                                        WithinHorizontally(p, q) || WithinHorizontally(q, p));
        },
        [](TextRecord& p, const TextRecord& q) {
            p.y1 = std::max(p.y1, q.y1);
            p.x0 = std::min(p.x0, q.x0);
            p.x1 = std::max(p.x1, q.x1);
        });
}

void SideBySideMerge(std::vector<Group>& groups, std::vector<TextRecord>& list) {
    MergeRuns(
        groups, list,
        [](const TextRecord& p, const TextRecord& q) {
            return p.x0 - q.x1 < 40 && ((IsSimilar(p.y0, q.y0) && IsSimilar(p.y1, q.y1)) ||
                                        WithinVertically(p, q) || WithinVertically(q, p));
        },
        [](TextRecord& p, const TextRecord& q) {
            p.x0 = std::min(p.x0, q.x0);
            p.y0 = std::min(p.y0, q.y0);
            p.y1 = std::max(p.y1, q.y1);
        });
}

}  // namespace

// Text records lying across a non-text record are taken out of their groups
// and added to the list one collection per non-text record.
void NonTextRecords(std::vector<Group>& hgroups, std::vector<Group>& vgroups,
                    const std::vector<TextRecord>& nonText, const AnalysisRegion& blk,
                    std::vector<TextRecord>& list) {
    std::vector<std::vector<TextRecord>> collections;
    for (const TextRecord& nt : nonText) {
        std::vector<TextRecord> c;
        for (std::vector<Group>* groups : {&hgroups, &vgroups}) {
            for (Group& g : *groups) {
                auto keep = g.records.begin();
                for (auto it = g.records.begin(); it != g.records.end(); ++it) {
                    if (Intersects(*it, nt)) {
                        c.push_back(*it);
                    } else {
                        *keep++ = *it;
                    }
                }
                g.records.erase(keep, g.records.end());
            }
        }
        if (!c.empty()) collections.push_back(std::move(c));
    }
    DropEmpty(hgroups);
    DropEmpty(vgroups);
    if (collections.empty()) return;

    int32_t verticalFirst = 0, otherFirst = 0;
    for (const auto& c : collections) {
        (c.front().orientation == kOrientVertical ? verticalFirst : otherFirst) += 1;
    }
    auto width = [](const std::vector<TextRecord>& c) {
        int32_t x0 = INT32_MAX, x1 = INT32_MIN;
        for (const TextRecord& r : c) {
            x0 = std::min(x0, r.x0);
            x1 = std::max(x1, r.x1);
        }
        return x1 - x0 + 1;
    };
    if (verticalFirst > 1 && otherFirst * 3 / 2 < verticalFirst &&
        width(collections.front()) < width(collections.back()) &&
        collections.front().front().orientation == kOrientVertical &&
        collections.back().front().orientation == kOrientVertical) {
        std::reverse(collections.begin(), collections.end());
    }
    for (const auto& c : collections) {
        for (const TextRecord& r : c) {
            const bool middle = r.y0 > blk.y0 + blk.height / 3 && r.y1 < blk.y1 - blk.height / 3;
            const bool side = r.x1 < blk.x0 + blk.width / 5 || r.x0 > blk.x1 - blk.width / 5;
            if (r.orientation == kOrientHorizontal && middle && side) continue;
            AddRecord(list, r);
        }
    }
}

namespace {

// A single line that a column cut divided at a word gap (a heading over a
// gutter) is one line for a reader: single-line horizontal records on the
// same rows less than a line height apart are joined, in the first's place.
void JoinLinePieces(std::vector<TextRecord>& list) {
    for (size_t i = 0; i < list.size(); ++i) {
        for (size_t j = i + 1; j < list.size();) {
            const TextRecord& a = list[i];
            const TextRecord& b = list[j];
            const bool pieces = a.orientation == kOrientHorizontal &&
                                b.orientation == kOrientHorizontal && a.lines == 1 &&
                                b.lines == 1 && IsSimilar(a.y0, b.y0) && IsSimilar(a.y1, b.y1) &&
                                ColumnDistance(a, b) < (a.H() + b.H()) / 2;
            if (pieces) {
                list[i] = Union(a, b);
                list[i].lines = 1;
                list.erase(list.begin() + static_cast<ptrdiff_t>(j));
                j = i + 1;
            } else {
                ++j;
            }
        }
    }
}

std::vector<BlockRecord> Analyzer::Finish() {
    DropEmpty(hgroups_);
    DropEmpty(vgroups_);
    // Reading order inside groups: stacked records top to bottom, side-by-side
    // records (vertical text) from right to left; vertical groups likewise.
    for (Group& g : hgroups_) {
        std::stable_sort(g.records.begin(), g.records.end(),
                         [](const TextRecord& a, const TextRecord& b) {
                             return a.y0 != b.y0 ? a.y0 < b.y0 : a.x0 < b.x0;
                         });
    }
    for (Group& g : vgroups_) {
        std::stable_sort(g.records.begin(), g.records.end(),
                         [](const TextRecord& a, const TextRecord& b) {
                             return a.x1 != b.x1 ? a.x1 > b.x1 : a.y0 < b.y0;
                         });
    }
    std::stable_sort(vgroups_.begin(), vgroups_.end(), [](const Group& a, const Group& b) {
        const Box ba = GroupBox(a), bb = GroupBox(b);
        return ba.x1 != bb.x1 ? ba.x1 > bb.x1 : ba.y0 < bb.y0;
    });

    const size_t h = RecordCount(hgroups_), v = RecordCount(vgroups_);
    if (h > v + 1) {
        ReexamineMinority(vgroups_, hgroups_, kOrientHorizontal);
    } else if (v > h + 1) {
        ReexamineMinority(hgroups_, vgroups_, kOrientVertical);
    }

    std::vector<TextRecord> list;
    if (v < h) {
        NarrowGroups(vgroups_, block_, false, list);
        NonTextRecords(hgroups_, vgroups_, nonText_, block_, list);
        StackedMerge(hgroups_, list);
        SideBySideMerge(vgroups_, list);
    } else {
        NarrowGroups(hgroups_, block_, true, list);
        NonTextRecords(hgroups_, vgroups_, nonText_, block_, list);
        SideBySideMerge(vgroups_, list);
        StackedMerge(hgroups_, list);
    }

    JoinLinePieces(list);

    std::vector<BlockRecord> out;
    auto clampRecord = [&](const TextRecord& r, uint32_t type) {
        BlockRecord b{
            std::clamp(r.x0, block_.x0, block_.x1), std::clamp(r.y0, block_.y0, block_.y1),
            std::clamp(r.x1, block_.x0, block_.x1), std::clamp(r.y1, block_.y0, block_.y1), type};
        return b;
    };
    if (list.empty()) {
        out.push_back(BlockRecord{block_.x0, block_.y0, block_.x1, block_.y1, kPicture});
        return out;
    }
    for (const TextRecord& r : list) {
        out.push_back(
            clampRecord(r, r.orientation == kOrientVertical ? kVerticalText : kHorizontalText));
    }
    // A sizeable non-text region beside the text is a picture: it is reported
    // too, before the first record that starts below its top and shares
    // columns with it, so a reader meets it in place.
    for (const TextRecord& nt : nonText_) {
        if (nt.W() < 100 || nt.H() < 100) continue;
        bool overlaps = false;
        for (const TextRecord& r : list) overlaps = overlaps || Intersects(r, nt);
        if (overlaps) continue;
        const BlockRecord pic = clampRecord(nt, kPicture);
        auto at = std::find_if(out.begin(), out.end(), [&](const BlockRecord& b) {
            return b.y0 > pic.y0 && b.x0 <= pic.x1 && pic.x0 <= b.x1;
        });
        out.insert(at, pic);
    }
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Interface.

bool BeginRegion(EngineContext& ctx, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    const int64_t w = int64_t{x1} - x0 + 1, h = int64_t{y1} - y0 + 1;
    if (w <= 0 || h <= 0 || w > INT32_MAX / 2 || h > INT32_MAX / 2) return false;
    auto* region = ctx.pool.AllocateArray<AnalysisRegion>(1);
    if (region == nullptr) {
        ConsoleErrorf("Iniatial fmalloc fail.\n");  // the message box

        return false;
    }
    region->x0 = x0;
    region->y0 = y0;
    region->x1 = x1;
    region->y1 = y1;
    region->width = static_cast<int32_t>(w);
    region->height = static_cast<int32_t>(h);
    region->sampling = 90;
    region->retryWidth = static_cast<int32_t>(w * 2 / 5);
    region->retryHeight = static_cast<int32_t>(h * 2 / 5);
    // Byte columns the box touches; the pixel-precise profile needs one
    // entry per pixel column.
    const int64_t byteColumns = (int64_t{x1} >> 3) - (int64_t{x0} >> 3) + 1;
    region->byteColumns = static_cast<int32_t>(byteColumns);
    region->columnProfile = ctx.pool.AllocateArray<int32_t>(static_cast<size_t>(w + 8));
    region->rowProfile = ctx.pool.AllocateArray<int32_t>(static_cast<size_t>(h));
    region->scratch = ctx.pool.AllocateArray<uint8_t>(static_cast<size_t>(byteColumns + 8));
    region->bands = ctx.pool.AllocateArray<Band>(kMaxBands);
    if (!region->columnProfile || !region->rowProfile || !region->scratch || !region->bands) {
        ConsolePrintf("\n\aIniatial malloc fail.");
        ConsoleFlush();
        return false;
    }
    ctx.region = region;
    return true;
}

std::vector<BlockRecord> AnalyzeBlock(EngineContext& ctx, int32_t x0, int32_t y0, int32_t x1,
                                      int32_t y1) {
    const BlockRecord whole{x0, y0, x1, y1, kPicture};
    // Only the part of the box that lies on the page is read.
    const int32_t cx0 = std::max(x0, 0), cy0 = std::max(y0, 0);
    const int32_t cx1 = std::min(x1, ctx.rowBits - 1), cy1 = std::min(y1, ctx.height - 1);
    if (ctx.rows == nullptr || cx0 > cx1 || cy0 > cy1) return {whole};
    // Without its working memory the block cannot be analysed; it is still
    // reported, as a picture, so the page keeps every block.
    if (!BeginRegion(ctx, cx0, cy0, cx1, cy1)) return {whole};
    Analyzer analyzer(ctx, *ctx.region);
    analyzer.Run();
    std::vector<BlockRecord> out = analyzer.Finish();
    if (out.size() == 1 && out[0].type == kPicture && out[0].x0 == cx0 && out[0].y0 == cy0 &&
        out[0].x1 == cx1 && out[0].y1 == cy1) {
        out[0] = whole;
    }
    return out;
}

void ReleasePool(EngineContext& ctx) {
    ctx.region = nullptr;
    ctx.pool.Release();
}

}  // namespace sheetmend
