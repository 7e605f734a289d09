// Black and white by a local threshold (AdaptiveThreshold), for pages whose
// light or paper tone changes across the page, where one global level turns
// the dark parts black and breaks thin strokes in the bright ones.
//
// The page is cut into square cells; each cell gets its sum and sum of
// squares of grey values, and summed-area tables over the cells give the
// mean m and deviation s of the window around any cell in four reads, so the
// cost does not depend on the window. Two passes follow:
//  1. Sauvola's level m (1 + k (s / 128 - 1)) with k = 0.2: on an evenly lit
//     page it lies where the global level does (about 0.8 of the paper), low
//     enough below the paper that its texture stays white, high enough that
//     faint pencil strokes fall under it.
//  2. Where the light is dim and the paper grainy, grain still falls under
//     that level. The first pass splits each window into dark pixels and
//     paper; when their means lie close together the dark ones are grain,
//     and the level comes down to their mean, so only the darkest remain.
// The levels live at the cell centres and are interpolated over the pixels.
#include <cmath>
#include <new>
#include <vector>

#include "image/raster_image.h"
#include "image/tone/tone_internal.h"

namespace sheetmend {

namespace tone {

namespace {

constexpr uint32_t kRadius = 7;       // window: 2 * kRadius + 1 cells a side
constexpr double kSensitivity = 0.2;  // Sauvola's k
constexpr double kRange = 128;        // Sauvola's R: the largest deviation of 8-bit grey
// The dark and paper means of a window must be this far apart for its dark
// pixels to count as ink rather than paper grain.
constexpr double kInkContrast = 24;

// The grey rows of an image: the rows themselves for an identity grey ramp,
// else converted once into a plane.
class GreyPlane {
  public:
    explicit GreyPlane(const RasterImage& image) : image_(image) {
        const GreyTable greys = PaletteGreys(image);
        if (image.GetBpp() == 8 && IsIdentity(greys)) return;
        const uint32_t w = image.GetWidth();
        plane_.resize(static_cast<size_t>(w) * image.GetHeight());
        for (uint32_t y = 0; y < image.GetHeight(); ++y)
            GreyRow(image.RowPtr(y), w, image.GetBpp(), greys, plane_.data() + size_t{y} * w);
    }
    const uint8_t* Row(uint32_t y) const {
        return plane_.empty() ? image_.RowPtr(y) : plane_.data() + size_t{y} * image_.GetWidth();
    }

  private:
    const RasterImage& image_;
    std::vector<uint8_t> plane_;
};

// Column sums over the rows of one band of cells, folded into the cells when
// the band is complete. A band is at most 4096 rows, so a column's sum of
// squares stays below 4096 x 255^2 < 2^32.
class ColumnSums {
  public:
    ColumnSums(uint32_t width, const CellGrid& grid)
        : grid_(grid), a_(width), b_(width), cellA_(grid.v.size()), cellB_(grid.v.size()) {}

    // Adds grey values and their squares.
    void AddMoments(const uint8_t* g) {
        const uint32_t width = static_cast<uint32_t>(a_.size());
        uint32_t x = 0;
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        for (; x + 16 <= width; x += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g + x));
            const __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
            // 255^2 fits an unsigned 16-bit lane.
            Add16(x, lo, hi, _mm_mullo_epi16(lo, lo), _mm_mullo_epi16(hi, hi));
        }
#endif
        for (; x < width; ++x) {
            a_[x] += g[x];
            b_[x] += uint32_t{g[x]} * g[x];
        }
    }

    // Counts the pixels at or below their limit, and adds their grey values.
    void AddInk(const uint8_t* g, const uint8_t* limit) {
        const uint32_t width = static_cast<uint32_t>(a_.size());
        uint32_t x = 0;
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi8(1);
        for (; x + 16 <= width; x += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g + x));
            const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(limit + x));
            const __m128i ink = _mm_cmpeq_epi8(_mm_max_epu8(v, l), l);  // v <= l
            const __m128i n = _mm_and_si128(ink, one), s = _mm_and_si128(ink, v);
            Add16(x, _mm_unpacklo_epi8(n, zero), _mm_unpackhi_epi8(n, zero),
                  _mm_unpacklo_epi8(s, zero), _mm_unpackhi_epi8(s, zero));
        }
#endif
        for (; x < width; ++x) {
            const uint32_t ink = g[x] <= limit[x] ? 1u : 0u;
            a_[x] += ink;
            b_[x] += ink * g[x];
        }
    }

    // After row y: a completed band goes into its cells.
    void EndRow(uint32_t y, uint32_t height) {
        if ((y + 1) % grid_.cell != 0 && y + 1 != height) return;
        const uint32_t width = static_cast<uint32_t>(a_.size());
        const size_t base = size_t{y / grid_.cell} * grid_.nx;
        for (uint32_t i = 0, x0 = 0; i < grid_.nx; ++i, x0 += grid_.cell) {
            uint64_t a = 0, b = 0;
            for (uint32_t x = x0; x < std::min(width, x0 + grid_.cell); ++x) {
                a += a_[x];
                b += b_[x];
            }
            cellA_[base + i] = a;
            cellB_[base + i] = b;
        }
        std::fill(a_.begin(), a_.end(), 0u);
        std::fill(b_.begin(), b_.end(), 0u);
    }

    const std::vector<uint64_t>& CellsA() const {
        return cellA_;
    }
    const std::vector<uint64_t>& CellsB() const {
        return cellB_;
    }

  private:
#if defined(__SSE2__)
    // Adds 16 columns of 16-bit values to both sums, widened to 32 bits.
    void Add16(uint32_t x, __m128i aLo, __m128i aHi, __m128i bLo, __m128i bHi) {
        const __m128i zero = _mm_setzero_si128();
        auto add = [zero](uint32_t* p, __m128i v) {
            __m128i* q = reinterpret_cast<__m128i*>(p);
            _mm_storeu_si128(q, _mm_add_epi32(_mm_loadu_si128(q), _mm_unpacklo_epi16(v, zero)));
            _mm_storeu_si128(q + 1,
                             _mm_add_epi32(_mm_loadu_si128(q + 1), _mm_unpackhi_epi16(v, zero)));
        };
        add(a_.data() + x, aLo);
        add(a_.data() + x + 8, aHi);
        add(b_.data() + x, bLo);
        add(b_.data() + x + 8, bHi);
    }
#endif
    const CellGrid& grid_;
    std::vector<uint32_t> a_, b_;
    std::vector<uint64_t> cellA_, cellB_;
};

// Pixels of the window of cell (i, j) along one axis.
uint64_t WindowSpan(uint32_t i, uint32_t cells, uint32_t cell, uint32_t pixels) {
    const uint64_t first = i > kRadius ? uint64_t{i - kRadius} * cell : 0;
    const uint64_t last =
        std::min<uint64_t>(uint64_t{std::min(i + kRadius + 1, cells)} * cell, pixels);
    return last - first;
}

}  // namespace

uint32_t AdaptiveCellSize(uint32_t window) {
    // At most 4096 pixels a side: see ColumnSums.
    return std::clamp<uint32_t>((window + kRadius) / (2 * kRadius + 1), 2, 4096);
}

namespace {

CellGrid LevelsOf(const GreyPlane& grey, uint32_t width, uint32_t height, uint32_t window) {
    CellGrid levels(width, height, AdaptiveCellSize(window));
    const uint32_t nx = levels.nx, ny = levels.ny;
    ColumnSums moments(width, levels);
    for (uint32_t y = 0; y < height; ++y) {
        moments.AddMoments(grey.Row(y));
        moments.EndRow(y, height);
    }
    const WindowSums sums(moments.CellsA(), nx, ny), squareSums(moments.CellsB(), nx, ny);
    auto windowPixels = [&](uint32_t i, uint32_t j) {
        return static_cast<double>(WindowSpan(i, nx, levels.cell, width) *
                                   WindowSpan(j, ny, levels.cell, height));
    };
    for (uint32_t j = 0; j < ny; ++j)
        for (uint32_t i = 0; i < nx; ++i) {
            const double n = windowPixels(i, j);
            const double m = static_cast<double>(sums.Sum(i, j, kRadius)) / n;
            const double var = static_cast<double>(squareSums.Sum(i, j, kRadius)) / n - m * m;
            const double s = var > 0 ? std::sqrt(var) : 0.0;
            levels.At(i, j) = static_cast<float>(m * (1 + kSensitivity * (s / kRange - 1)));
        }

    ColumnSums dark(width, levels);
    GridRows rows(levels, width);
    std::vector<uint8_t> limit(width);
    for (uint32_t y = 0; y < height; ++y) {
        rows.Levels(y, limit.data());
        dark.AddInk(grey.Row(y), limit.data());
        dark.EndRow(y, height);
    }
    const WindowSums inkCounts(dark.CellsA(), nx, ny), inkSums(dark.CellsB(), nx, ny);
    for (uint32_t j = 0; j < ny; ++j)
        for (uint32_t i = 0; i < nx; ++i) {
            const double n = windowPixels(i, j);
            const double ink = static_cast<double>(inkCounts.Sum(i, j, kRadius));
            if (ink == 0 || ink >= n) continue;
            const double inkGrey = static_cast<double>(inkSums.Sum(i, j, kRadius));
            const double inkMean = inkGrey / ink;
            const double paperMean =
                (static_cast<double>(sums.Sum(i, j, kRadius)) - inkGrey) / (n - ink);
            // Dark pixels that differ little from the paper are its grain:
            // only the darkest of them could be ink.
            if (paperMean - inkMean >= kInkContrast) continue;
            levels.At(i, j) = std::min(levels.At(i, j), static_cast<float>(inkMean));
        }
    return levels;
}

void Pack(const GreyPlane& grey, const CellGrid& levels, RasterImage& out) {
    const uint32_t width = out.GetWidth();
    GridRows rows(levels, width);
    std::vector<uint8_t> limit(width);
    for (uint32_t y = 0; y < out.GetHeight(); ++y) {
        rows.Levels(y, limit.data());
        PackAbove(grey.Row(y), limit.data(), width, out.RowPtr(y));
    }
}

}  // namespace

CellGrid AdaptiveLevels(const RasterImage& image, uint32_t window) {
    return LevelsOf(GreyPlane(image), image.GetWidth(), image.GetHeight(), window);
}

void AdaptiveRows(const RasterImage& image, uint32_t window, RasterImage& out) {
    const GreyPlane grey(image);
    Pack(grey, LevelsOf(grey, image.GetWidth(), image.GetHeight(), window), out);
}

}  // namespace tone

uint32_t RasterImage::AdaptiveWindow() const {
    // About three lines of 12-point text: five eighths of an inch.
    const int32_t dpi = std::clamp(GetYDpi(), 1, 10000);
    return static_cast<uint32_t>(dpi) * 5 / 8;
}

bool RasterImage::AdaptiveThreshold(uint32_t window) {
    if (!dib_) return false;
    if (GetBpp() == 1) return true;
    const uint32_t width = GetWidth(), height = GetHeight();
    RasterImage out(width, height, 1, kFormatUnknown);
    if (!out.IsValid()) {
        SetLastError(out.GetLastError());
        return false;
    }
    try {
        tone::AdaptiveRows(*this, window ? window : AdaptiveWindow(), out);
    } catch (const std::bad_alloc&) {
        SetLastError(tone::kNoMemory);
        return false;
    }
    tone::SetBlackAndWhitePalette(out);
    // The page keeps its resolution and TIFF compression choice, as the
    // pipeline keeps them across its automatic global threshold.
    out.SetXDpi(GetXDpi());
    out.SetYDpi(GetYDpi());
    out.SetCodecOption(GetCodecOption(kFormatTiff), kFormatTiff);
    return Transfer(out);
}

}  // namespace sheetmend
