#include "pipeline/border_fill.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "image/pixel_access.h"
#include "image/raster_image.h"
#include "image/skew_turn.h"

namespace sheetmend {

namespace {

// Darker than this fraction of the paper's luminance counts as border.
constexpr double kDarkFraction = 0.5;
// The border's soft edge: lighter than dark but below this fraction of the
// paper, and not darkening again (which would be content).
constexpr double kHaloFraction = 0.9;
constexpr int32_t kHaloDrop = 8;
// A border is dark on average: scanner lids and shadows, not grey pictures.
constexpr double kMeanDarkFraction = 0.4;

int32_t Luma(uint32_t r, uint32_t g, uint32_t b) {
    return static_cast<int32_t>((r * 299 + g * 587 + b * 114) / 1000);
}

// Luminance of the pixels of one raw row.
class RowLuma {
  public:
    explicit RowLuma(const RasterImage& page) : page_(page), luma_(page.GetWidth()) {
        if (page.GetBpp() <= 8)
            for (uint32_t i = 0; i < 256; ++i) {
                const RgbQuad c = page.GetPaletteColor(static_cast<uint8_t>(i));
                lut_[i] = static_cast<uint8_t>(Luma(c.red, c.green, c.blue));
            }
    }
    const uint8_t* Row(uint32_t y) {
        const uint8_t* row = page_.RowPtr(y);
        const uint32_t bpp = page_.GetBpp(), w = page_.GetWidth();
        if (bpp == 8) {
            for (uint32_t x = 0; x < w; ++x) luma_[x] = lut_[row[x]];
        } else if (bpp < 8) {
            for (uint32_t x = 0; x < w; ++x) luma_[x] = lut_[px::GetIndex(row, x, bpp)];
        } else {
            const uint32_t step = bpp / 8;
            for (uint32_t x = 0; x < w; ++x, row += step)
                luma_[x] = static_cast<uint8_t>(Luma(row[2], row[1], row[0]));
        }
        return luma_.data();
    }

  private:
    const RasterImage& page_;
    std::vector<uint8_t> luma_;
    uint8_t lut_[256] = {};
};

// One line followed inwards from the edge, a pixel at a time.
struct Walk {
    int32_t depth = 0;  // dark pixels and halo
    int32_t dark = 0;   // dark pixels alone
    int64_t darkSum = 0;
    int32_t halo = 0;
    int32_t gap = 0;  // paper before the dark
    int32_t previous = 0;
    bool done = false;
};

struct Limits {
    int32_t darkBelow = 0, haloBelow = 0, haloMax = 0, gapMax = 0, maxDepth = 0;
};

// Takes the next pixel of a line; false once the line has ended.
bool Step(Walk& w, int32_t luma, const Limits& lim) {
    if (w.done) return false;
    if (w.dark == 0 && luma >= lim.darkBelow) {
        // A sliver of paper between the edge and the border, as a page laid
        // slightly off the scanner's edge shows.
        if (w.gap >= lim.gapMax || luma < lim.haloBelow) {
            w.done = true;
            return false;
        }
        ++w.gap;
    } else if (w.halo == 0 && luma < lim.darkBelow) {
        ++w.dark;
        w.darkSum += luma;
    } else if (w.dark > 0 && w.halo < lim.haloMax && luma < lim.haloBelow &&
               luma + kHaloDrop >= w.previous) {
        ++w.halo;
    } else {
        w.done = true;
        return false;
    }
    ++w.depth;
    w.previous = luma;
    if (w.depth > lim.maxDepth) w.done = true;
    return !w.done;
}

// Keeps the depths of the stretches along one edge that have a border's
// shape and zeroes the rest.
void KeepBorderShapes(std::vector<Walk>& walks, const Limits& lim, int32_t paperLuma,
                      int32_t shortSide) {
    const auto n = static_cast<int32_t>(walks.size());
    for (auto& w : walks)
        if (w.depth > lim.maxDepth) w = Walk{};
    const int32_t longRun = std::max<int32_t>(8, n / 10);
    // A punched hole cut by the edge: shorter, but solid and round.
    const int32_t holeRun = std::max<int32_t>(8, shortSide / 40);
    int32_t i = 0;
    while (i < n) {
        if (walks[i].dark == 0) {
            walks[i] = Walk{};
            ++i;
            continue;
        }
        int32_t end = i;
        int64_t depthSum = 0, rough = 0, darkSum = 0, darkCount = 0, jumps = 0;
        int32_t deepest = 0;
        while (end < n && walks[end].dark > 0) {
            depthSum += walks[end].depth;
            darkSum += walks[end].darkSum;
            darkCount += walks[end].dark;
            deepest = std::max(deepest, walks[end].depth);
            if (end > i) {
                const int32_t step = std::abs(walks[end].depth - walks[end - 1].depth);
                rough += step;
                jumps += step > std::max(4, deepest / 5);
            }
            ++end;
        }
        const int32_t len = end - i;
        const double meanDepth = static_cast<double>(depthSum) / len;
        const double meanRough = len > 1 ? static_cast<double>(rough) / (len - 1) : 0.0;
        const double meanDark = static_cast<double>(darkSum) / static_cast<double>(darkCount);
        // A border's inner edge is a line: hardly a sudden step along it,
        // unlike the stripes and dots of a picture.
        const bool smooth = meanRough <= std::max(3.0, 0.25 * meanDepth) && jumps * 50 <= len;
        const bool darkEnough = meanDark <= kMeanDarkFraction * paperLuma;
        const bool border = len >= longRun;
        // Round: deepest near the middle, shallow at both ends, unlike the
        // square end of a letter or a picture cut by the edge.
        const bool hole = len >= holeRun && deepest * 3 >= len && deepest * 3 <= 2 * len &&
                          walks[i].depth * 2 <= deepest && walks[end - 1].depth * 2 <= deepest &&
                          meanDark <= 0.25 * paperLuma;
        if (!(smooth && darkEnough && (border || hole)))
            for (int32_t k = i; k < end; ++k) walks[k] = Walk{};
        i = end;
    }
}

class Painter {
  public:
    Painter(RasterImage& page, const PaperTone& paper) : page_(page), paper_(paper) {}
    void Span(uint32_t y, uint32_t x0, uint32_t x1) {
        uint8_t* row = page_.RowPtr(y);
        const uint32_t bpp = page_.GetBpp();
        if (bpp == 8) {
            std::fill(row + x0, row + x1, paper_.index);
        } else if (bpp < 8) {
            for (uint32_t x = x0; x < x1; ++x) px::SetIndex(row, x, bpp, paper_.index);
        } else {
            const uint32_t step = bpp / 8;
            for (uint8_t* p = row + x0 * step; p < row + x1 * step; p += step) {
                p[0] = paper_.colour.blue;
                p[1] = paper_.colour.green;
                p[2] = paper_.colour.red;
            }
        }
    }

  private:
    RasterImage& page_;
    const PaperTone& paper_;
};

int32_t Deepest(const std::vector<Walk>& walks) {
    int32_t d = 0;
    for (const auto& w : walks) d = std::max(d, w.depth);
    return d;
}

}  // namespace

BorderFill RemovePageBorder(RasterImage& page) {
    BorderFill result;
    if (!page.IsValid()) return result;
    const auto width = static_cast<int32_t>(page.GetWidth());
    const auto height = static_cast<int32_t>(page.GetHeight());
    const uint32_t bpp = page.GetBpp();
    if (width < 16 || height < 16 || (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32))
        return result;

    const PaperTone paper = EstimatePaper(page);
    const int32_t paperLuma = Luma(paper.colour.red, paper.colour.green, paper.colour.blue);
    // A page whose paper is itself dark (a negative, a black card) has no
    // border to find.
    if (paperLuma < 96) return result;
    const int32_t shortSide = std::min(width, height);
    Limits rowLim, colLim;
    rowLim.darkBelow = colLim.darkBelow = static_cast<int32_t>(kDarkFraction * paperLuma);
    rowLim.haloBelow = colLim.haloBelow = static_cast<int32_t>(kHaloFraction * paperLuma);
    rowLim.haloMax = colLim.haloMax = std::max(2, shortSide / 150);
    rowLim.gapMax = colLim.gapMax = shortSide / 25;
    rowLim.maxDepth = width / 4;
    colLim.maxDepth = height / 4;

    RowLuma luma(page);
    // Left and right: one row at a time (raw row y is the (height-1-y)th
    // from the top).
    std::vector<Walk> left(static_cast<size_t>(height)), right(static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* l = luma.Row(static_cast<uint32_t>(y));
        for (int32_t x = 0; x < width && Step(left[y], l[x], rowLim); ++x) {
        }
        for (int32_t x = width - 1; x >= 0 && Step(right[y], l[x], rowLim); --x) {
        }
    }
    KeepBorderShapes(left, rowLim, paperLuma, shortSide);
    KeepBorderShapes(right, rowLim, paperLuma, shortSide);
    Painter paint(page, paper);
    for (int32_t y = 0; y < height; ++y) {
        const int32_t l = left[y].depth, r = right[y].depth;
        if (l > 0) paint.Span(static_cast<uint32_t>(y), 0, static_cast<uint32_t>(l));
        if (r > 0)
            paint.Span(static_cast<uint32_t>(y), static_cast<uint32_t>(width - r),
                       static_cast<uint32_t>(width));
        result.pixels += l + r;
    }
    // Top and bottom, on the page whose side borders are already paper (so
    // that a corner where two borders meet ends where the side border did):
    // all columns advance together, row by row, until every column's line
    // has ended.
    std::vector<Walk> top(static_cast<size_t>(width)), bottom(static_cast<size_t>(width));
    auto walkColumns = [&](std::vector<Walk>& walks, int32_t firstRow, int32_t direction) {
        for (int32_t k = 0; k <= colLim.maxDepth; ++k) {
            const uint8_t* l = luma.Row(static_cast<uint32_t>(firstRow + direction * k));
            bool any = false;
            for (int32_t x = 0; x < width; ++x) any |= Step(walks[x], l[x], colLim);
            if (!any) break;
        }
    };
    walkColumns(top, height - 1, -1);
    walkColumns(bottom, 0, 1);

    KeepBorderShapes(top, colLim, paperLuma, shortSide);
    KeepBorderShapes(bottom, colLim, paperLuma, shortSide);
    // Columns are painted as runs of neighbouring pixels of each row.
    auto paintColumns = [&](const std::vector<Walk>& walks, int32_t firstRow, int32_t direction) {
        const int32_t deepest = Deepest(walks);
        for (int32_t k = 0; k < deepest; ++k) {
            const auto y = static_cast<uint32_t>(firstRow + direction * k);
            int32_t x = 0;
            while (x < width) {
                if (walks[x].depth <= k) {
                    ++x;
                    continue;
                }
                const int32_t start = x;
                while (x < width && walks[x].depth > k) ++x;
                paint.Span(y, static_cast<uint32_t>(start), static_cast<uint32_t>(x));
                result.pixels += x - start;
            }
        }
    };
    paintColumns(top, height - 1, -1);
    paintColumns(bottom, 0, 1);

    result.left = Deepest(left);
    result.right = Deepest(right);
    result.top = Deepest(top);
    result.bottom = Deepest(bottom);
    return result;
}

}  // namespace sheetmend
