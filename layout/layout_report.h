// The "-layout" operation: prints the blocks the layout engine finds on a
// page and writes the page in colour with every block outlined and labelled.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "layout/layout_engine.h"
#include "layout/page_bitmap.h"

namespace sheetmend {

// The report's name of a block type; empty for an unknown code.
const char* BlockTypeLabel(uint32_t type);

// Analyses the page and prints its blocks between the report's two rulers;
// the page is released afterwards.
std::vector<LayoutBlock> ReportLayout(PageBitmap& page);

// Raises the image to 24 bits and draws each block's rectangle in the colour
// of its type and its label in red.
void DrawBlocks(RasterImage& image, const std::vector<LayoutBlock>& blocks);

}  // namespace sheetmend
