// Internals of the block analysis shared with its tests: the region record
// that BeginRegion sets up, the text records the cuts produce, and the rules
// by which records are joined into the block's final list.
#pragma once

#include <cstdint>
#include <vector>

#include "layout/band_statistics.h"
#include "layout/engine_context.h"

namespace sheetmend {

// The block under analysis, with the profile arrays sized for it.
struct AnalysisRegion {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int32_t width = 0, height = 0;
    int32_t sampling = 90;
    int32_t retryWidth = 0, retryHeight = 0;  // 2/5 of the block each way
    int32_t byteColumns = 0;
    int32_t* columnProfile = nullptr;  // one count per byte column (or pixel column)
    int32_t* rowProfile = nullptr;     // one count per row
    uint8_t* scratch = nullptr;        // one byte per byte column: the rows OR-ed
    Band* bands = nullptr;             // kMaxBands
};

// Orientation of a text record.
enum : uint32_t {
    kOrientVertical = 1,
    kOrientHorizontal = 2,
    kOrientNone = 16,  // a region without text lines
};

struct TextRecord {
    int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    uint32_t orientation = kOrientNone;
    int32_t lines = 0;     // line boxes (or column bands) it holds
    int32_t meanSize = 0;  // mean line height or band width
    int32_t meanGap = 0;

    int32_t W() const { return x1 - x0 + 1; }
    int32_t H() const { return y1 - y0 + 1; }
};

// One box reaches at least 10 pixels beyond the other on both sides in one
// direction while staying within 4 pixels of it in the other.
bool Encloses(const TextRecord& a, const TextRecord& b);

// A (a wide, low record) lies within B's horizontal extent, or shares one
// edge with it and stays inside on the other.
bool WithinHorizontally(const TextRecord& a, const TextRecord& b);

// The same across rows for a tall, narrow A.
bool WithinVertically(const TextRecord& a, const TextRecord& b);

// Whether list record p and new record r belong together.
bool IsPartner(const TextRecord& p, const TextRecord& r);

// Adds r to the final list: a small record is dropped; one with a partner is
// joined to it, and the union is joined on as long as partners are found.
void AddRecord(std::vector<TextRecord>& list, const TextRecord& r);

}  // namespace sheetmend
