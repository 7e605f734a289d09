// The speck removal of "-clean": specks of a black-and-white page are
// erased by the -specklesize rule, and those that belong to text or
// pictures are drawn back.
#pragma once

#include <cstdint>

namespace sheetmend {

class RasterImage;

// Erases the specks of a 1-bit page (ink is the darker palette entry) and
// returns how many were erased; 0 for other depths. Without a size given
// (0), the size is the default but at most the height of the page's
// letters. Specks that belong to text or pictures stay: those within a
// tenth of the size (at least a pixel) of other ink, the dots of i and j,
// full stops and commas, the dots of leaders and of halftones.
int32_t RemoveSpecks(RasterImage& page, int32_t speckleSize);

}  // namespace sheetmend
