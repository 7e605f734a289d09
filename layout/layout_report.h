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

// 1 when the page was analysed (whatever became of the picture), 0 when the
// input could not be loaded.
int32_t RunLayoutAnalysis(const std::string& inputPath, const std::string& outputPath,
                          bool adaptive = false);

// Analyses the page and prints its blocks between the report's two rulers;
// the page is released afterwards.
std::vector<LayoutBlock> ReportLayout(PageBitmap& page);

// Raises the image to 24 bits and draws each block's rectangle in the colour
// of its type and its label in red.
void DrawBlocks(RasterImage& image, const std::vector<LayoutBlock>& blocks);

// Writes the input page, raised to 24 bits, with each block's rectangle in
// the colour of its type and its label in red. 1 when the picture was saved.
int32_t DrawLayout(const std::string& inputPath, const std::string& outputPath,
                   const std::vector<LayoutBlock>& blocks);

}  // namespace sheetmend
