// Despeckle: erases small isolated components of ink.
//
// The page's rows are scanned a word at a time; each ink pixel found grows
// its 8-connected component as a flood of horizontal runs, which are cleared
// from the page as they are taken, so no pixel is taken twice. Whether a
// component is a speckle depends only on its pixels and on which of them
// comes first in column order (the pixel that seeds it when columns are
// scanned left to right, each top down): that seed does not count towards
// the extents or the edge rule. So the component can be grown in any order
// and judged when it is complete. A speckle stays cleared; a component that
// is kept is drawn back once the scan has passed its last row, when no later
// growth can reach its pixels (they are not connected to any other ink), so
// the page needs no second buffer.
#include <algorithm>
#include <limits>
#include <vector>

#include "image/page_facts.h"

#include "pipeline/bit_rows.h"
#include "pipeline/clean_page.h"

namespace sheetmend {

namespace {

using bit_rows::FillBits;
using bit_rows::NextClearBit;
using bit_rows::NextSetBit;
using bit_rows::TestBit;

constexpr int32_t kPageLimit = 10000;
// A component that grows past this many pixels is kept whatever its shape.
constexpr int64_t kLargestJudged = 19900;

struct Run {
    int32_t y, a, b;  // row, first and last column
};

class SpeckleRemover {
  public:
    SpeckleRemover(uint8_t* bits, int32_t width, int32_t height, int32_t speckleSize)
        : bits_(bits),
          width_(width),
          height_(height),
          rowBytes_(((width + 15) / 16) * 2),
          speckleSize_(speckleSize),
          maxWidth_(speckleSize / 2),
          maxHeight_(speckleSize / 2) {}

    void Run() {
        for (int32_t y = 0; y < height_; ++y) {
            if (y > keptUntil_) RestoreKept(y);
            const uint8_t* row = Page(y);
            for (int32_t x = NextSetBit(row, 0, width_ - 1); x >= 0;
                 x = NextSetBit(row, x + 1, width_ - 1))
                Grow(x, y);
        }
        RestoreKept(height_);
    }

  private:
    // A kept component waiting to be drawn back: its runs in keptRuns_.
    struct Kept {
        int32_t lastRow;
        size_t first, count;
    };

    uint8_t* Page(int32_t y) { return bits_ + static_cast<size_t>(y) * rowBytes_; }

    // Takes the run through (x, y) out of the page.
    void Take(int32_t x, int32_t y) {
        uint8_t* row = Page(y);
        int32_t a = x;
        while (a > 0 && TestBit(row, a - 1)) --a;
        const int32_t b = NextClearBit(row, x, width_) - 1;
        FillBits(row, a, b, false);
        runs_.push_back(::sheetmend::Run{y, a, b});
        count_ += b - a + 1;
    }

    void Grow(int32_t x, int32_t y) {
        runs_.clear();
        count_ = 0;
        Take(x, y);
        int32_t lastRow = y;
        for (size_t i = 0; i < runs_.size(); ++i) {
            const ::sheetmend::Run r = runs_[i];
            lastRow = std::max(lastRow, r.y);
            const int32_t lo = std::max(r.a - 1, 0), hi = std::min(r.b + 1, width_ - 1);
            for (const int32_t ny : {r.y - 1, r.y + 1}) {
                if (ny < 0 || ny >= height_) continue;
                const uint8_t* row = Page(ny);
                for (int32_t f = NextSetBit(row, lo, hi); f >= 0; f = NextSetBit(row, f + 1, hi)) {
                    Take(f, ny);
                    f = runs_.back().b;
                }
            }
        }
        if (IsSpeckle()) {
            ++removed;
            return;
        }
        kept_.push_back(Kept{lastRow, keptRuns_.size(), runs_.size()});
        keptRuns_.insert(keptRuns_.end(), runs_.begin(), runs_.end());
        keptUntil_ = std::min(keptUntil_, lastRow);
    }

    // Draws back every kept component that ends above row y, and keeps the
    // store of runs no larger than twice what still waits.
    void RestoreKept(int32_t y) {
        size_t waiting = 0, waitingRuns = 0;
        keptUntil_ = std::numeric_limits<int32_t>::max();
        for (const Kept& k : kept_) {
            if (k.lastRow < y) {
                for (size_t i = k.first; i < k.first + k.count; ++i)
                    FillBits(Page(keptRuns_[i].y), keptRuns_[i].a, keptRuns_[i].b, true);
                continue;
            }
            kept_[waiting++] = k;
            waitingRuns += k.count;
            keptUntil_ = std::min(keptUntil_, k.lastRow);
        }
        kept_.resize(waiting);
        if (2 * waitingRuns < keptRuns_.size()) {
            std::vector<::sheetmend::Run> runs;
            runs.reserve(waitingRuns);
            for (Kept& k : kept_) {
                const size_t first = runs.size();
                runs.insert(runs.end(), keptRuns_.begin() + static_cast<std::ptrdiff_t>(k.first),
                            keptRuns_.begin() + static_cast<std::ptrdiff_t>(k.first + k.count));
                k.first = first;
            }
            keptRuns_.swap(runs);
        }
    }

    bool IsSpeckle() const {
        if (count_ >= speckleSize_ || count_ > kLargestJudged) return false;
        // The seed: the leftmost column's top pixel.
        int32_t sx = std::numeric_limits<int32_t>::max(), sy = 0;
        for (const ::sheetmend::Run& r : runs_)
            if (r.a < sx || (r.a == sx && r.y < sy)) {
                sx = r.a;
                sy = r.y;
            }
        int32_t minX = std::numeric_limits<int32_t>::max(), maxX = -1;
        int32_t minY = std::numeric_limits<int32_t>::max(), maxY = -1;
        for (const ::sheetmend::Run& r : runs_) {
            const int32_t a = (r.y == sy && r.a == sx) ? r.a + 1 : r.a;
            if (a > r.b) continue;
            minX = std::min(minX, a);
            maxX = std::max(maxX, r.b);
            minY = std::min(minY, r.y);
            maxY = std::max(maxY, r.y);
            if (r.y == 0 || r.y == height_ - 1 || a == 0 || r.b == width_ - 1) return false;
        }
        if (maxX < 0) return true;  // the seed alone: no extent
        return maxX - minX < maxWidth_ && maxY - minY < maxHeight_;
    }

    uint8_t* bits_;
    int32_t width_, height_, rowBytes_;
    int64_t speckleSize_;
    int32_t maxWidth_, maxHeight_;
    std::vector<::sheetmend::Run> runs_;
    int64_t count_ = 0;
    std::vector<Kept> kept_;
    std::vector<::sheetmend::Run> keptRuns_;
    int32_t keptUntil_ = std::numeric_limits<int32_t>::max();  // the first last row in kept_

  public:
    int64_t removed = 0;  // speckles erased
};

}  // namespace

void Despeckle(uint8_t* bits, int32_t width, int32_t height, int32_t speckleSize) {
    if (bits == nullptr || width <= 0 || height <= 0 || width >= kPageLimit || height >= kPageLimit)
        return;
    SpeckleRemover remover(bits, width, height, speckleSize);
    remover.Run();
    RecordPageFact([&](PageFacts& f) { f.specks = remover.removed; });
}

}  // namespace sheetmend
