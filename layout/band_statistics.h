// Band statistics: the projection-profile helpers of the block analysis.
// FindBands cuts a profile into bands of ink; BandStatistics summarises the
// band sizes or the gaps between bands by a histogram, which yields a typical
// value and a threshold that separates the ordinary from the unusual ones;
// IsSimilar compares two sizes with a tolerance that grows with their size.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sheetmend {

// One band of a profile: start and width in pixels, and the blank distance
// to the next band (0 for the last one).
struct Band {
    int32_t start = 0;
    int32_t width = 0;
    int32_t gap = 0;
};

// Most bands one profile is cut into.
constexpr size_t kMaxBands = 360;

// What the entries of a profile stand for.
enum class ProfileUnit {
    kByteColumns,   // set bits per byte column; positions and widths come out times 8
    kRows,          // set bits per row
    kPixelColumns,  // 1 per pixel column with any ink
};

// True when a and b are the same size to within a quarter of their mean,
// the tolerance held to 6..56; false when their mean is 0 (and a != b).
bool IsSimilar(int32_t a, int32_t b);

// Cuts profile[0..length) into bands of non-zero entries. A run whose mass
// (sum of its entries, counted up to just past 160) or width is too small to
// stand alone is counted as part of the previous band's gap (a leading one is
// dropped). Positions are `origin` plus the index, times 8 for byte columns.
// Writes at most `capacity` (and at most kMaxBands) bands; once full, later
// ink widens the last band. Returns the number of bands.
size_t FindBands(const int32_t* profile, int32_t length, ProfileUnit unit, int32_t origin,
                 Band* out, size_t capacity);

// Kind of list BandStatistics summarises.
enum BandKind : int32_t {
    kColumnBandKind = 1,  // widths of column bands, or gaps between them
    kRowBandKind = 2,     // heights of text lines, or gaps between them
};

struct BandStats {
    bool large = false;     // some value lies past 72 pixels
    int32_t typical = 0;    // the most frequent size (pixels)
    int32_t threshold = 0;  // first unusual size; kNoGapThreshold / kNoSizeThreshold when none
    int32_t low = 0;        // gaps: smallest value; sizes: last bin of the first run
    int32_t high = 0;       // gaps: largest value; sizes: first bin of the last run
    // low and high are in histogram units: bytes for column lists in byte mode.
    int32_t runCount = 0;  // runs of non-empty histogram bins found
    int32_t modeRun = 0;   // index of the run holding the typical value
};

constexpr int32_t kNoGapThreshold = 4000;
constexpr int32_t kNoSizeThreshold = -1;

// Summarises `count` values (pixels) no larger than `largest`. In byte mode
// column lists are counted in whole bytes. `firstLevel` marks the block's
// own first cut, where the two smallest byte bins are ignored.
BandStats BandStatistics(bool isGap, BandKind kind, const int32_t* values, size_t count,
                         int32_t largest, bool byteMode, bool firstLevel);

}  // namespace sheetmend
