// Removal of long and short black lines, with optional boxing of every ink
// object.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sheetmend {

class RasterImage;

// Largest page side the operation handles.
inline constexpr uint32_t kMaxLinePageSide = 50000;

// One horizontal run of ink: columns x0 .. x1 (inclusive) of row y, in image
// coordinates (row 0 is the bottom line).
struct InkRun {
    uint16_t x0, x1, y;
};

// The 4-connected ink objects of a 1-bit page, as runs grouped by object.
// Objects are numbered in the order of their first pixel in a scan from row
// 0 upwards, left to right within a row.
struct InkObjects {
    std::vector<InkRun> runs;        // in scan order
    std::vector<uint32_t> order;     // run indices grouped by object
    std::vector<uint32_t> firstRun;  // object k's runs: order[firstRun[k] .. firstRun[k + 1])
    size_t Count() const { return firstRun.empty() ? 0 : firstRun.size() - 1; }
};

// Labels the ink of a 1-bit image whose pixels of palette index `inkIndex`
// are ink. The page must be at most kMaxLinePageSide in each direction.
InkObjects LabelInkComponents(const RasterImage& bitonal, uint8_t inkIndex);

struct ObjectRect {
    int32_t left, top, right, bottom;  // smallest x, smallest y, largest x, largest y
};

ObjectRect ComponentBounds(const InkObjects& objects, size_t object);

// The operation on a page in memory: `page` is made black and white and then
// emptied on the way; `work` receives the painted page. inputName names the
// page in messages. False, with a message, for a page too large or one
// without a colour copy for boxing. `adaptive` makes the black-and-white
// copy by the local threshold.
bool RemoveLinesFromPage(RasterImage& page, const std::string& inputName, bool boxObjects,
                         int32_t longLine, int32_t shortLine, RasterImage& work,
                         bool adaptive = false);

}  // namespace sheetmend
