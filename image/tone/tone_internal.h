// Internals shared by the tone and bit-depth operations of RasterImage
// (image/tone/*.cpp). Nothing here checks its arguments: the public
// operations validate once and then hand raw rows to these helpers.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "image/raster_image.h"

namespace sheetmend::tone {

#if defined(__SSE2__)
// The channels of 16 pixels of a 24-bit row as 16-bit lanes: blue, green and
// red of the even pixels 0, 2, .. 14 and of the odd pixels 1, 3, .. 15.
struct Channels16 {
    __m128i even[3];
    __m128i odd[3];
};

// Reads 48 bytes. Three rounds of interleaving register halves sort the
// bytes by their position modulo 6: into the blue and green of the even
// pixels, the red of the even and blue of the odd ones, the green and red of
// the odd ones.
inline Channels16 SplitChannels(const uint8_t* row) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 16));
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 32));
    auto round = [&] {
        const __m128i na = _mm_unpacklo_epi8(a, _mm_unpackhi_epi64(b, b));
        const __m128i nb = _mm_unpacklo_epi8(_mm_unpackhi_epi64(a, a), c);
        const __m128i nc = _mm_unpacklo_epi8(b, _mm_unpackhi_epi64(c, c));
        a = na;
        b = nb;
        c = nc;
    };
    round();
    round();
    round();
    const __m128i zero = _mm_setzero_si128();
    return Channels16{
        {_mm_unpacklo_epi8(a, zero), _mm_unpackhi_epi8(a, zero), _mm_unpacklo_epi8(b, zero)},
        {_mm_unpackhi_epi8(b, zero), _mm_unpacklo_epi8(c, zero), _mm_unpackhi_epi8(c, zero)}};
}

// A vector constant the compiler must keep as it is. Left alone it rewrites
// a multiplication by a constant into a longer run of shifts and adds.
inline __m128i Opaque(__m128i v) {
    __asm__("" : "+x"(v));
    return v;
}
#endif

// Grey value of every palette index: the luminance of the entry, 0 for an
// index past the palette (whose colour reads as black).
using GreyTable = std::array<uint8_t, 256>;
GreyTable PaletteGreys(const RasterImage& image);

// True when every index of the image maps to itself (an 8-bit identity ramp),
// so its rows already are grey rows.
bool IsIdentity(const GreyTable& greys);

// Writes the grey values of the first `width` pixels of a row of the given
// depth to `out`: the luminance for 24 bits, greys[index] otherwise.
void GreyRow(const uint8_t* row, uint32_t width, uint32_t bpp, const GreyTable& greys,
             uint8_t* out);

// Bytes with their bit order reversed: a vector compare reports the first
// pixel in the lowest bit, a 1-bit row wants it in the highest.
inline constexpr std::array<uint8_t, 256> kReversedBits = [] {
    std::array<uint8_t, 256> table{};
    for (uint32_t v = 0; v < 256; ++v) {
        uint32_t r = 0;
        for (uint32_t bit = 0; bit < 8; ++bit) r |= ((v >> bit) & 1u) << (7 - bit);
        table[v] = static_cast<uint8_t>(r);
    }
    return table;
}();

// Packs `width` pixels into a 1-bit row: bit x is set when grey[x] >
// limit[x]. The unused low bits of the last byte are left zero.
void PackAbove(const uint8_t* grey, const uint8_t* limit, uint32_t width, uint8_t* out);

// Fills the 1-bit image `out` (same size as `self`) from the grey values of
// `self`: pixel (x, y) is white when its grey is above
// limits[(y % period) * width + x]. Honours `escape` and sets `progress`.
void ThresholdRows(RasterImage& self, const uint8_t* limits, uint32_t period, RasterImage& out);

// Gives the alpha and selection planes of `from` (when it has them) to `to`,
// an image of the same size. False when a plane cannot be allocated.
bool CopyPlanes(const RasterImage& from, RasterImage& to);

// Palette entry 0 black, entry 1 white: the palette of every 1-bit result.
void SetBlackAndWhitePalette(RasterImage& image);

// Value of `progress` while row y of `height` rows is worked on. 64-bit, as
// 100 * y no longer fits 32 bits on very tall images.
inline int32_t RowProgress(uint32_t y, uint32_t height) {
    return static_cast<int32_t>(100ull * y / height);
}

// Message left when a plane of a new image cannot be allocated.
inline constexpr const char* kNoMemory = "RasterImage::Create can't allocate memory";

// Regions of at least this many pixels are counted two pixels at a time.
inline constexpr uint64_t kPairCountingFrom = 1u << 16;

// Counts the bytes of an 8-bit image in columns [x0, x1) of rows [y0, y1);
// with a mask (an 8-bit image of the same size), only where the mask's byte
// is non-zero. The region must lie inside the image.
std::array<double, 256> CountLevels(const RasterImage& image, uint32_t x0, uint32_t x1, uint32_t y0,
                                    uint32_t y1, const RasterImage* mask);

// The split each criterion of OptimalThreshold prefers for a histogram whose
// used levels run from gmin to gmax (gmin < gmax): Otsu, Kittler and
// Illingworth, maximum entropy, balance of squared distances. -1 for a
// criterion that never qualified.
std::array<int32_t, 4> BestSplits(const std::array<double, 256>& h, int32_t gmin, int32_t gmax);

// OptimalThreshold's answer for a histogram: -1 for an empty one.
int32_t ChooseThreshold(const std::array<double, 256>& h, int32_t method);

// The palette entry nearest to a colour, with exactly the answers of
// RasterImage::GetNearestIndex: the smallest squared distance over the first
// `count` entries, the lowest index on a tie, 0 without entries.
//
// A full scan costs up to 256 distances per colour, and error diffusion puts
// that search on the chain of dependent steps from pixel to pixel. Instead
// the colour cube is cut into 8 x 8 x 8 cells. The first lookup in a cell
// lists the entries that can be nearest to some colour of the cell (those
// whose distance to the cell is at most the smallest farthest-point distance
// of any entry; every entry that ties for nearest is among them), resolves
// all 512 colours of the cell against that short list, and keeps the answers.
// Every later lookup in the cell is two loads.
//
// On request a palette of up to 16 entries is scanned instead: quicker than
// answers that error diffusion with so few colours scatters over the whole
// cube, out of cache.
//
// Distances and indices are compared as one number, (distance << 8) | index,
// whose minimum is the nearest entry with the lowest index among equals;
// the loops over entries and colours have no branches and the compiler turns
// them into vector code.
class NearestIndex {
  public:
    NearestIndex(const RgbQuad* palette, uint32_t count, bool scanSmall = false);
    uint8_t Find(uint8_t blue, uint8_t green, uint8_t red) {
        if (scan_) return Scan(blue, green, red);
        if (count_ == 0) return 0;
        const uint32_t cell = (static_cast<uint32_t>(red >> kShift) << (2 * kBits)) |
                              (static_cast<uint32_t>(green >> kShift) << kBits) |
                              static_cast<uint32_t>(blue >> kShift);
        uint16_t block = cellBlock_[cell];
        if (block == kUnresolved) block = Resolve(cell);
        return answers_[size_t{block} * kCellColours +
                        ((static_cast<uint32_t>(red & kLow) << (2 * kShift)) |
                         (static_cast<uint32_t>(green & kLow) << kShift) | (blue & kLow))];
    }
    uint8_t Find(RgbQuad colour) { return Find(colour.blue, colour.green, colour.red); }

  private:
    static constexpr uint32_t kScanUpTo = 16;
    static constexpr uint32_t kShift = 3;  // cells of 8 levels per channel
    static constexpr uint32_t kBits = 8 - kShift;
    static constexpr uint32_t kLow = (1u << kShift) - 1;
    static constexpr uint32_t kCells = 1u << (3 * kBits);
    static constexpr uint32_t kCellColours = 1u << (3 * kShift);
    static constexpr uint16_t kUnresolved = UINT16_MAX;  // more than kCells

    // All kScanUpTo slots; those past `count_` repeat the last entry, which
    // changes no minimum.
    uint8_t Scan(uint8_t blue, uint8_t green, uint8_t red) const {
        int32_t best = INT32_MAX;
        for (uint32_t i = 0; i < kScanUpTo; ++i) {
            const int32_t db = blue_[i] - blue;
            const int32_t dg = green_[i] - green;
            const int32_t dr = red_[i] - red;
            best = std::min(best, ((db * db + dg * dg + dr * dr) << 8) | index_[i]);
        }
        return static_cast<uint8_t>(best);
    }
    // Answers all colours of a cell in a new block and returns its number.
    uint16_t Resolve(uint32_t cell);

    uint32_t count_ = 0;
    bool scan_ = false;
    // The entries by channel, with their indices.
    std::array<int32_t, 256> blue_{}, green_{}, red_{}, index_{};
    // Block of answers of each cell, or kUnresolved; 16 bits keep this table
    // small enough to stay in cache.
    std::vector<uint16_t> cellBlock_;
    std::vector<uint8_t> answers_;  // kCellColours per resolved cell
};

// The nearest-entry search RasterImage::GetNearestIndex does on `image`: its
// first biClrImportant entries, or all when that is 0.
NearestIndex NearestIn(const RasterImage& image, bool scanSmall = false);

// Values known at the centres of square cells of `cell` pixels laid over an
// image (nx columns, ny rows of cells, the last ones possibly partial), read
// back at every pixel by bilinear interpolation between the nearest centres
// and held constant beyond the outer ones. The local threshold and the
// background estimate both vary slowly, so they are computed once per cell
// and spread over the pixels this way.
// A grid holds one channel, or three interleaved like the pixels of a row.
struct CellGrid {
    uint32_t cell = 1, nx = 0, ny = 0, channels = 1;
    std::vector<float> v;  // ny rows of nx x channels values

    CellGrid(uint32_t width, uint32_t height, uint32_t cellSize, uint32_t channelCount = 1)
        : cell(cellSize),
          nx((width + cellSize - 1) / cellSize),
          ny((height + cellSize - 1) / cellSize),
          channels(channelCount),
          v(static_cast<size_t>(nx) * ny * channels) {}
    float& At(uint32_t i, uint32_t j, uint32_t c = 0) {
        return v[(static_cast<size_t>(j) * nx + i) * channels + c];
    }
    float At(uint32_t i, uint32_t j, uint32_t c = 0) const {
        return v[(static_cast<size_t>(j) * nx + i) * channels + c];
    }
};

// Reads a CellGrid row by row. The horizontal weights are worked out once;
// each row then costs one blend of two grid rows and one multiply-add per
// pixel, run by the stretch of pixels between two grid columns.
class GridRows {
  public:
    GridRows(const CellGrid& grid, uint32_t width);
    // The interpolated values of row y, `width` x channels of them.
    const float* Row(uint32_t y);
    // The same rounded down into 0..255.
    void Levels(uint32_t y, uint8_t* out);

  private:
    template <class Write>
    void Blend(uint32_t y, Write write);

    const CellGrid& grid_;
    std::vector<uint32_t> first_;  // first pixel of each stretch, nx + 1 values
    std::vector<float> weight_;    // weight of the grid column right of each pixel
    std::vector<float> blend_;     // the two grid rows blended, nx + 1 values
    std::vector<float> out_;
};

// Sums over square windows of cells: the window of cell (i, j) holds the
// cells i - radius .. i + radius and j - radius .. j + radius that exist.
// Built as a summed-area table over the cells (64-bit: a page of 50000 x
// 50000 pixels sums to at most 2.5e9 x 255 x 255 < 2^48), so a window costs
// four reads whatever its size.
class WindowSums {
  public:
    WindowSums(const std::vector<uint64_t>& cells, uint32_t nx, uint32_t ny);
    uint64_t Sum(uint32_t i, uint32_t j, uint32_t radius) const;

  private:
    uint32_t nx_, ny_;
    std::vector<uint64_t> table_;  // (ny + 1) x (nx + 1), zero first row and column
};

// The local threshold of AdaptiveThreshold: the cell side for a window, the
// level at every cell centre, and the 1-bit rows (white where the grey value
// is above the level interpolated from those) written into `out`.
uint32_t AdaptiveCellSize(uint32_t window);
CellGrid AdaptiveLevels(const RasterImage& image, uint32_t window);
void AdaptiveRows(const RasterImage& image, uint32_t window, RasterImage& out);

// The background flattening of FlattenBackground, for an 8-bit grey ramp or
// a 24-bit image: the tile side for a resolution, and the division itself.
uint32_t FlattenTileSize(int32_t dpi);
void DivideByBackground(RasterImage& image, uint32_t tile);

}  // namespace sheetmend::tone
