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
#include <cstdlib>
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

// Per cell: the sum and the sum of squares of the grey values.
void CellMoments(const GreyPlane& grey, uint32_t width, uint32_t height, const CellGrid& grid,
                 std::vector<uint64_t>& sum, std::vector<uint64_t>& squares) {
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* g = grey.Row(y);
        const size_t base = size_t{y / grid.cell} * grid.nx;
        for (uint32_t i = 0, x0 = 0; i < grid.nx; ++i, x0 += grid.cell) {
            const uint32_t x1 = std::min(width, x0 + grid.cell);
            // A cell is at most a few hundred pixels wide, so one row of
            // it sums to well under 2^32 even squared.
            uint32_t s = 0, q = 0;
            for (uint32_t x = x0; x < x1; ++x) {
                s += g[x];
                q += uint32_t{g[x]} * g[x];
            }
            sum[base + i] += s;
            squares[base + i] += q;
        }
    }
}

// Per cell: the count and the grey sum of the pixels at or below the level.
void CellInk(const GreyPlane& grey, uint32_t width, uint32_t height, const CellGrid& levels,
             std::vector<uint64_t>& count, std::vector<uint64_t>& sum) {
    GridRows rows(levels, width);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* g = grey.Row(y);
        const float* level = rows.Row(y);
        const size_t base = size_t{y / levels.cell} * levels.nx;
        for (uint32_t i = 0, x0 = 0; i < levels.nx; ++i, x0 += levels.cell) {
            const uint32_t x1 = std::min(width, x0 + levels.cell);
            uint32_t n = 0, s = 0;
            for (uint32_t x = x0; x < x1; ++x) {
                const uint32_t ink = static_cast<float>(g[x]) <= level[x] ? 1u : 0u;
                n += ink;
                s += ink * g[x];
            }
            count[base + i] += n;
            sum[base + i] += s;
        }
    }
}

// Pixels of the window of cell (i, j) along one axis.
uint64_t WindowSpan(uint32_t i, uint32_t cells, uint32_t cell, uint32_t pixels) {
    const uint64_t first = i > kRadius ? uint64_t{i - kRadius} * cell : 0;
    const uint64_t last =
        std::min<uint64_t>(uint64_t{std::min(i + kRadius + 1, cells)} * cell, pixels);
    return last - first;
}

}  // namespace

uint32_t AdaptiveCellSize(uint32_t window) {
    // At most 4096 pixels a side, so a row of a cell sums its squares in 32 bits.
    return std::clamp<uint32_t>((window + kRadius) / (2 * kRadius + 1), 2, 4096);
}

CellGrid AdaptiveLevels(const RasterImage& image, uint32_t window) {
    const uint32_t width = image.GetWidth(), height = image.GetHeight();
    CellGrid levels(width, height, AdaptiveCellSize(window));
    const uint32_t nx = levels.nx, ny = levels.ny;
    const GreyPlane grey(image);

    std::vector<uint64_t> sum(levels.v.size()), squares(levels.v.size());
    CellMoments(grey, width, height, levels, sum, squares);
    const WindowSums sums(sum, nx, ny), squareSums(squares, nx, ny);
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

    std::vector<uint64_t> inkCount(levels.v.size()), inkSum(levels.v.size());
    CellInk(grey, width, height, levels, inkCount, inkSum);
    const WindowSums inkCounts(inkCount, nx, ny), inkSums(inkSum, nx, ny);
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

void PackBelowLevels(const RasterImage& image, const CellGrid& levels, RasterImage& out) {
    const uint32_t width = image.GetWidth(), height = image.GetHeight();
    const GreyPlane grey(image);
    GridRows rows(levels, width);
    std::vector<uint8_t> limit(width);
    for (uint32_t y = 0; y < height; ++y) {
        const float* level = rows.Row(y);
        // White above the level: a grey g is ink when g <= level, i.e. when
        // g <= floor(level).
        for (uint32_t x = 0; x < width; ++x)
            limit[x] = static_cast<uint8_t>(std::clamp(level[x], 0.0f, 255.0f));
        PackAbove(grey.Row(y), limit.data(), width, out.RowPtr(y));
    }
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
    const tone::CellGrid levels = tone::AdaptiveLevels(*this, window ? window : AdaptiveWindow());
    tone::PackBelowLevels(*this, levels, out);
    tone::SetBlackAndWhitePalette(out);
    // The page keeps its resolution and TIFF compression choice, as the
    // pipeline keeps them across its automatic global threshold.
    out.SetXDpi(GetXDpi());
    out.SetYDpi(GetYDpi());
    out.SetCodecOption(GetCodecOption(kFormatTiff), kFormatTiff);
    return Transfer(out);
}

}  // namespace sheetmend
