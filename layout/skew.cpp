// Skew detection from character boxes.
//
// Every column of the region keeps the stretch of ink it is under: the row
// where it began (top) and how many of its rows were ink (depth). When a row
// leaves a column without ink, the neighbouring columns that still carry a
// stretch are examined together: tiny specks are dropped, and a stretch that
// is large or stands free of active neighbours becomes a character box. The
// boxes gather into a chain ordered by x while their rows overlap their
// neighbours'; a box that fits nowhere ends the chain, which is cut at wide
// gaps and whose parts are fitted as text lines. The scan ends once two
// line measurements (or one of double weight) have been taken.
#include "layout/skew.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "layout/block_analysis.h"

namespace sheetmend {

namespace skew_detail {

int32_t FindRowRuns(const uint8_t* row, int32_t x0, int32_t x1, InkRun* runs) {
    int32_t n = 0;
    int32_t runStart = -1;
    auto push = [&](int32_t s, int32_t e) {
        if (n == kMaxRowRuns) n = 1;  // the list is full: overwrite from its second entry
        runs[n++] = InkRun{s - x0, e - s + 1};
    };
    int32_t x = x0;
    while (x <= x1) {
        const int32_t bit = x & 7;
        if (bit == 0) {
            // Whole words and bytes of paper or of ink at a time.
            if (runStart < 0 && x + 63 <= x1) {
                uint64_t word;
                std::memcpy(&word, row + (x >> 3), 8);
                if (word == 0) {
                    x += 64;
                    continue;
                }
            }
            if (x + 7 <= x1) {
                const uint8_t byte = row[x >> 3];
                if (byte == 0x00 || byte == 0xFF) {
                    if (byte == 0x00 && runStart >= 0) {
                        push(runStart, x - 1);
                        runStart = -1;
                    } else if (byte == 0xFF && runStart < 0) {
                        runStart = x;
                    }
                    x += 8;
                    continue;
                }
            }
        }
        const bool ink = (row[x >> 3] & (0x80u >> bit)) != 0;
        if (ink) {
            if (runStart < 0) runStart = x;
        } else if (runStart >= 0) {
            push(runStart, x - 1);
            runStart = -1;
        }
        ++x;
    }
    if (runStart >= 0) push(runStart, x1);
    return n;
}

double FitLineAngle(const std::vector<double>& xs, const std::vector<double>& ys) {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, total = 0;
    const size_t count = std::min(xs.size(), ys.size());
    if (count == 0) return 0;
    for (size_t i = 0; i < count; ++i) {
        n += 1;
        sx += xs[i];
        sy += ys[i];
        sxx += xs[i] * xs[i];
        sxy += xs[i] * ys[i];
        if (i >= 1) {
            const double den = n * sxx - sx * sx;
            total += den == 0 ? 100.0 : (n * sxy - sx * sy) / den;
        }
    }
    if (count > 5) return std::atan(total / (n - 1));
    const double den = n * sxx - sx * sx;
    if (den == 0) return 1.5707964;
    return std::atan((n * sxy - sx * sy) / den);
}

namespace {

// Blank columns between two boxes in x order (negative when they overlap).
int32_t Gap(const CharBox& left, const CharBox& right) {
    return right.x0 - left.x1 - 1;
}

}  // namespace

LineMeasure MeasureLine(const std::vector<CharBox>& boxes) {
    LineMeasure m;
    const auto n = static_cast<int32_t>(boxes.size());
    if (n == 0) return m;
    int64_t sumW = 0, sumH = 0, sumGap = 0;
    for (int32_t i = 0; i < n; ++i) {
        sumW += boxes[i].Width();
        sumH += boxes[i].Height();
        if (i > 0) sumGap += Gap(boxes[i - 1], boxes[i]);
    }
    const int64_t mw = sumW / n, mh = sumH / n, mg = sumGap / n;
    const int64_t span = int64_t{boxes.back().x1} - boxes.front().x0 + 1;
    const bool shaped = mh < 3 * mw || mg > 1;
    const bool long_enough = (span >= 12 * mh && n > 1) || (span > 35 && n > 11);
    if (!shaped || !long_enough) return m;

    // Boxes far from the line's typical size (capitals, punctuation, joined
    // letters) would pull the fit; the comparisons are exact in integers.
    std::vector<double> xs, ys;
    for (const CharBox& b : boxes) {
        const int64_t h = b.Height(), w = b.Width();
        if (5 * h < 4 * mh || 2 * h > 3 * mh) continue;
        if (5 * w < 4 * mw && mg > 1) continue;
        xs.push_back((b.x0 + b.x1) * 0.5);
        ys.push_back((b.y0 + b.y1) * 0.5);
    }
    const auto left = static_cast<int64_t>(xs.size());
    if (left < 12 && 5 * left < 4 * int64_t{n}) return m;
    m.angle = FitLineAngle(xs, ys);
    m.weight = (mg < 2 && mh < 12) ? 2 : 1;
    return m;
}

}  // namespace skew_detail

namespace {

using skew_detail::CharBox;
using skew_detail::InkRun;
using skew_detail::kMaxRowRuns;

bool RowsOverlap(const CharBox& a, const CharBox& b) {
    return a.y0 <= b.y1 && b.y0 <= a.y1;
}

// First set bit in [from, to] of a bit set, or -1.
int32_t NextSet(const uint64_t* bits, int32_t from, int32_t to) {
    if (from > to) return -1;
    int32_t wi = from >> 6;
    uint64_t word = bits[wi] & (~uint64_t{0} << (from & 63));
    for (;;) {
        if (word != 0) {
            const int32_t c = (wi << 6) + __builtin_ctzll(word);
            return c <= to ? c : -1;
        }
        ++wi;
        if ((wi << 6) > to) return -1;
        word = bits[wi];
    }
}

// First clear bit in [from, to], or to + 1.
int32_t NextClear(const uint64_t* bits, int32_t from, int32_t to) {
    if (from > to) return to + 1;
    int32_t wi = from >> 6;
    uint64_t word = ~bits[wi] & (~uint64_t{0} << (from & 63));
    for (;;) {
        if (word != 0) {
            const int32_t c = (wi << 6) + __builtin_ctzll(word);
            return c <= to ? c : to + 1;
        }
        ++wi;
        if ((wi << 6) > to) return to + 1;
        word = ~bits[wi];
    }
}

class SkewScan {
  public:
    SkewScan(int32_t x0, int32_t columns, int32_t* top, int32_t* depth, uint64_t* active,
             InkRun* runs)
        : x0_(x0), n_(columns), top_(top + 1), depth_(depth + 1), active_(active), runs_(runs) {}

    bool Done() const { return weight_ > 1; }

    void Row(const uint8_t* row, int32_t y) {
        const int32_t count = skew_detail::FindRowRuns(row, x0_, x0_ + n_ - 1, runs_);
        if (count == 0) {
            Close(0, n_ - 1, y);
            return;
        }
        Close(0, runs_[0].start - 1, y);
        for (int32_t i = 0; i < count && !Done(); ++i) {
            const InkRun r = runs_[i];
            for (int32_t c = r.start; c < r.start + r.length; ++c) {
                if (top_[c] == 0) top_[c] = y;
                ++depth_[c];
                active_[c >> 6] |= uint64_t{1} << (c & 63);
            }
            const int32_t gapEnd = i + 1 < count ? runs_[i + 1].start - 1 : n_ - 1;
            Close(r.start + r.length, gapEnd, y);
        }
    }

    // The chain still open when the rows run out is examined like any
    // other, so a page with a single text line is measured too.
    void Finish() {
        if (!Done()) ExamineChain();
    }

    float Result() const { return weight_ > 0 ? static_cast<float>(sum_ / weight_) : 0.0f; }

  private:
    // Examines the stretches of columns a..b, none of which has ink in row y.
    void Close(int32_t a, int32_t b, int32_t y) {
        int32_t c = a;
        while (!Done()) {
            const int32_t s = NextSet(active_, c, b);
            if (s < 0) return;
            const int32_t e = NextClear(active_, s, b) - 1;
            Stretch(s, e, y);
            c = e + 1;
        }
    }

    void Stretch(int32_t s, int32_t e, int32_t y) {
        const int32_t w = e - s + 1;
        int64_t total = 0;
        int32_t h = 0, minTop = top_[s];
        for (int32_t c = s; c <= e; ++c) {
            total += depth_[c];
            h = std::max(h, depth_[c]);
            minTop = std::min(minTop, top_[c]);
        }
        // depth_ has a zero guard on either side of the region.
        const bool free = depth_[s - 1] == 0 && depth_[e + 1] == 0;
        if (total <= 48 && w <= 5 && h <= 5 && free) {
            Reset(s, e);
            return;
        }
        const bool box = w > 64 || h > 64 || (w > 48 && h > 4) || (h > 48 && w > 4) ||
                         (w > 24 && h > 24) || free;
        if (!box) return;  // part of a character that goes on beside it
        Reset(s, e);
        AddBox(CharBox{x0_ + s, minTop, x0_ + e, y - 1});
    }

    void Reset(int32_t s, int32_t e) {
        for (int32_t c = s; c <= e; ++c) {
            top_[c] = 0;
            depth_[c] = 0;
            active_[c >> 6] &= ~(uint64_t{1} << (c & 63));
        }
    }

    // The chain is kept sorted by left edge. A box is placed at its place in
    // that order when its rows overlap those of the box before or after it
    // there; otherwise it belongs to another line: the chain is examined and
    // a new one begins with the box. One chain is open at a time, so lines
    // are never merged or rebuilt.
    void AddBox(const CharBox& b) {
        auto at = std::upper_bound(chain_.begin(), chain_.end(), b.x0,
                                   [](int32_t x, const CharBox& c) { return x < c.x0; });
        const bool fits = chain_.empty() || (at != chain_.begin() && RowsOverlap(*(at - 1), b)) ||
                          (at != chain_.end() && RowsOverlap(*at, b));
        if (fits) {
            chain_.insert(at, b);
            return;
        }
        ExamineChain();
        chain_.clear();
        chain_.push_back(b);
    }

    void ExamineChain() {
        const auto n = static_cast<int64_t>(chain_.size());
        if (n == 0) return;
        int64_t sumW = 0;
        for (const CharBox& b : chain_) sumW += b.Width();
        const int64_t mw = sumW / n;
        size_t begin = 0;
        for (size_t i = 1; i <= chain_.size() && !Done(); ++i) {
            if (i < chain_.size() && skew_detail::Gap(chain_[i - 1], chain_[i]) <= 2 * mw) continue;
            ExaminePart(begin, i);
            begin = i;
        }
    }

    void ExaminePart(size_t begin, size_t end) {
        const std::vector<CharBox> part(chain_.begin() + static_cast<std::ptrdiff_t>(begin),
                                        chain_.begin() + static_cast<std::ptrdiff_t>(end));
        const auto n = static_cast<int64_t>(part.size());
        int64_t sumH = 0;
        for (const CharBox& b : part) sumH += b.Height();
        const int64_t mh = sumH / n;
        const int64_t span = int64_t{part.back().x1} - part.front().x0 + 1;
        if (!(n > 11 || span >= 12 * mh)) return;
        const skew_detail::LineMeasure m = skew_detail::MeasureLine(part);
        if (m.weight == 0 || m.angle == 0) return;
        sum_ += m.angle * m.weight;
        weight_ += m.weight;
    }

    int32_t x0_;
    int32_t n_;
    int32_t* top_;    // per column, index -1 and n_ are zero guards
    int32_t* depth_;  // likewise
    uint64_t* active_;
    InkRun* runs_;
    std::vector<CharBox> chain_;
    double sum_ = 0;
    int32_t weight_ = 0;
};

}  // namespace

float DetectSkew(EngineContext& ctx, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    if (ctx.rows == nullptr || ctx.rowBits <= 0 || ctx.height <= 0) return 0;
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, ctx.rowBits - 1);
    y1 = std::min(y1, ctx.height - 1);
    if (x0 > x1 || y0 > y1) return 0;
    float angle = 0;
    if (BeginRegion(ctx, x0, y0, x1, y1)) {
        const int32_t columns = x1 - x0 + 1;
        const auto guarded = static_cast<size_t>(columns) + 2;
        auto* top = ctx.pool.AllocateArray<int32_t>(guarded);
        auto* depth = ctx.pool.AllocateArray<int32_t>(guarded);
        auto* active = ctx.pool.AllocateArray<uint64_t>(guarded / 64 + 1);
        auto* runs = ctx.pool.AllocateArray<InkRun>(kMaxRowRuns);
        if (top && depth && active && runs) {
            SkewScan scan(x0, columns, top, depth, active, runs);
            for (int32_t y = y0; y <= y1 && !scan.Done(); ++y) scan.Row(ctx.Row(y), y);
            scan.Finish();
            angle = scan.Result();
        }
    }
    ReleasePool(ctx);
    return angle;
}

float DetectSkew(const uint8_t* rows, int32_t rowBits, int32_t height, int32_t x0, int32_t y0,
                 int32_t x1, int32_t y1) {
    EngineContext ctx(rows, rowBits, height);
    return DetectSkew(ctx, x0, y0, x1, y1);
}

}  // namespace sheetmend
