// Background flattening (FlattenBackground): uneven light, stains, yellowed
// paper and show-through become white paper, while ink keeps its tone and
// colour.
//
// A scanned page is roughly ink x paper x light, so dividing each channel by
// an estimate of the paper under the light leaves the ink alone. The
// estimate is made on a reduced copy: every tile of about a twelfth of an
// inch gives the high percentile of its channel values (read on every
// second pixel of every second row), which is paper unless the tile is
// mostly ink; a closing (largest, then smallest over neighbouring tiles)
// fills the tiles that ink covered, and two box blurs smooth the steps
// between tiles. The quotient then goes through a tone curve that is the
// identity up to half the paper's brightness and reaches white a little
// below it, so faint marks on the paper (a stain's ring, the mirrored text
// of the page behind, paper grain) turn white, not just lighter.
#include <cmath>
#include <new>
#include <vector>

#include "image/raster_image.h"
#include "image/tone/tone_internal.h"

namespace sheetmend {

namespace tone {

namespace {

constexpr double kPercentile = 0.9;     // of a tile's values, taken as its paper
constexpr uint32_t kClosingRadius = 2;  // tiles
constexpr uint32_t kBlurPasses = 2;
// The tone curve over value / background: the identity up to kKeepBelow,
// white from kWhiteFrom, a straight line between.
constexpr double kKeepBelow = 0.5;
constexpr double kWhiteFrom = 0.8;
// The background is never taken darker than this, so a black area (a photo,
// a scanner border) is not divided into a white one.
constexpr float kDarkestBackground = 24;

// The highest value at or below which at most kPercentile of the counts lie.
float Percentile(const uint32_t* histogram) {
    uint64_t total = 0;
    for (uint32_t v = 0; v < 256; ++v) total += histogram[v];
    const auto above = static_cast<uint64_t>(static_cast<double>(total) * (1 - kPercentile));
    uint64_t seen = 0;
    uint32_t v = 255;
    for (; v > 0; --v) {
        seen += histogram[v];
        if (seen > above) break;
    }
    return static_cast<float>(v);
}

// The largest (or smallest) value of each run of 2 r + 1 neighbours in one
// direction of the grid, and then in the other.
void Extreme(CellGrid& grid, uint32_t r, bool largest) {
    for (const bool across : {true, false}) {
        const CellGrid in = grid;
        const uint32_t n = across ? grid.nx : grid.ny;
        for (uint32_t j = 0; j < grid.ny; ++j)
            for (uint32_t i = 0; i < grid.nx; ++i) {
                const uint32_t p = across ? i : j;
                float v = in.At(i, j);
                for (uint32_t k = p > r ? p - r : 0; k < std::min(p + r + 1, n); ++k) {
                    const float u = across ? in.At(k, j) : in.At(i, k);
                    v = largest ? std::max(v, u) : std::min(v, u);
                }
                grid.At(i, j) = v;
            }
    }
}

// Mean of the 3 x 3 neighbours that exist.
void Blur(CellGrid& grid) {
    const CellGrid in = grid;
    for (uint32_t j = 0; j < grid.ny; ++j)
        for (uint32_t i = 0; i < grid.nx; ++i) {
            float sum = 0;
            uint32_t n = 0;
            for (uint32_t l = j ? j - 1 : 0; l < std::min(j + 2, grid.ny); ++l)
                for (uint32_t k = i ? i - 1 : 0; k < std::min(i + 2, grid.nx); ++k, ++n)
                    sum += in.At(k, l);
            grid.At(i, j) = sum / static_cast<float>(n);
        }
}

// 255 / background of every channel at the
// tile centres. Channels in row order: blue, green, red for 24 bits.
std::vector<CellGrid> ReciprocalBackground(const RasterImage& image, uint32_t tile) {
    const uint32_t width = image.GetWidth(), height = image.GetHeight();
    const uint32_t channels = image.GetBpp() / 8;
    std::vector<CellGrid> grids(channels, CellGrid(width, height, tile));
    const uint32_t nx = grids[0].nx;
    std::vector<uint32_t> histograms(size_t{nx} * channels * 256);
    for (uint32_t j = 0; j < grids[0].ny; ++j) {
        const uint32_t y1 = std::min(height, (j + 1) * tile);
        for (uint32_t y = j * tile; y < y1; y += 2) {
            const uint8_t* row = image.RowPtr(y);
            // Every tile's sampling starts at its first column, so a narrow
            // last tile is never left without samples.
            for (uint32_t i = 0; i < nx; ++i) {
                uint32_t* h = histograms.data() + size_t{i} * channels * 256;
                for (uint32_t x = i * tile; x < std::min(width, (i + 1) * tile); x += 2)
                    for (uint32_t c = 0; c < channels; ++c)
                        ++h[c * 256 + row[size_t{x} * channels + c]];
            }
        }
        for (uint32_t i = 0; i < nx; ++i)
            for (uint32_t c = 0; c < channels; ++c)
                grids[c].At(i, j) =
                    Percentile(histograms.data() + (size_t{i} * channels + c) * 256);
        std::fill(histograms.begin(), histograms.end(), 0u);
    }
    for (CellGrid& g : grids) {
        Extreme(g, kClosingRadius, true);
        Extreme(g, kClosingRadius, false);
        for (uint32_t k = 0; k < kBlurPasses; ++k) Blur(g);
        for (float& v : g.v) v = 255.0f / std::max(v, kDarkestBackground);
    }
    return grids;
}

}  // namespace

uint32_t FlattenTileSize(int32_t dpi) {
    return std::max(8, std::clamp(dpi, 1, 10000) / 12);
}

void DivideByBackground(RasterImage& image, uint32_t tile) {
    const uint32_t width = image.GetWidth(), height = image.GetHeight();
    const uint32_t channels = image.GetBpp() / 8;
    const std::vector<CellGrid> grids = ReciprocalBackground(image, tile);
    CellGrid scales(width, height, tile, channels);  // the channels interleaved
    for (uint32_t j = 0; j < scales.ny; ++j)
        for (uint32_t i = 0; i < scales.nx; ++i)
            for (uint32_t c = 0; c < channels; ++c) scales.At(i, j, c) = grids[c].At(i, j);
    GridRows rows(scales, width);
    // The curve as arithmetic on v = 255 x quotient: v, plus the extra slope
    // above kKeepBelow, capped at white.
    constexpr auto keep = static_cast<float>(255 * kKeepBelow);
    constexpr auto extra = static_cast<float>((1 - kKeepBelow) / (kWhiteFrom - kKeepBelow) - 1);
    const size_t n = size_t{width} * channels;
    for (uint32_t y = 0; y < height; ++y) {
        const float* scale = rows.Row(y);
        uint8_t* p = image.RowPtr(y);
        size_t k = 0;
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        const __m128 keep4 = _mm_set1_ps(keep), extra4 = _mm_set1_ps(extra);
        const __m128 white = _mm_set1_ps(255.0f), half = _mm_set1_ps(0.5f);
        auto curve = [&](__m128i wide, const float* f) {
            const __m128 v = _mm_mul_ps(_mm_cvtepi32_ps(wide), _mm_loadu_ps(f));
            const __m128 up =
                _mm_mul_ps(extra4, _mm_max_ps(_mm_sub_ps(v, keep4), _mm_setzero_ps()));
            return _mm_cvttps_epi32(_mm_add_ps(_mm_min_ps(_mm_add_ps(v, up), white), half));
        };
        for (; k + 16 <= n; k += 16) {
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
            const __m128i lo = _mm_unpacklo_epi8(b, zero), hi = _mm_unpackhi_epi8(b, zero);
            const __m128i r0 = curve(_mm_unpacklo_epi16(lo, zero), scale + k);
            const __m128i r1 = curve(_mm_unpackhi_epi16(lo, zero), scale + k + 4);
            const __m128i r2 = curve(_mm_unpacklo_epi16(hi, zero), scale + k + 8);
            const __m128i r3 = curve(_mm_unpackhi_epi16(hi, zero), scale + k + 12);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + k),
                             _mm_packus_epi16(_mm_packs_epi32(r0, r1), _mm_packs_epi32(r2, r3)));
        }
#endif
        for (; k < n; ++k) {
            const float v = static_cast<float>(p[k]) * scale[k];
            const float curved = v + extra * std::max(v - keep, 0.0f);
            p[k] = static_cast<uint8_t>(std::min(curved, 255.0f) + 0.5f);
        }
    }
}

}  // namespace tone

bool RasterImage::FlattenBackground() {
    if (!dib_) return false;
    const uint32_t bpp = GetBpp();
    if (bpp == 1) return true;
    if (bpp < 24) {
        // A grey palette becomes the grey ramp, any other palette true colour:
        // divided values need not be in the palette.
        bool grey = true;
        const RgbQuad* pal = GetPalette();
        for (uint32_t i = 0; pal && i < GetNumColors(); ++i)
            grey = grey && pal[i].red == pal[i].green && pal[i].green == pal[i].blue;
        if (!(grey ? GrayScale() : IncreaseBpp(24))) return false;
    }
    try {
        tone::DivideByBackground(*this, tone::FlattenTileSize(GetYDpi()));
    } catch (const std::bad_alloc&) {
        SetLastError(tone::kNoMemory);
        return false;
    }
    return true;
}

}  // namespace sheetmend
