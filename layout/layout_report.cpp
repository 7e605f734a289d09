// The layout report: the block list between two dashed lines on standard
// output, and the annotated page picture.
#include "layout/layout_report.h"

#include <cstdio>

#include "image/formats.h"
#include "image/raster_image.h"
#include "layout/page_bitmap.h"
#include "platform/console.h"

namespace sheetmend {

const char* BlockTypeLabel(uint32_t type) {
    switch (type) {
        case kHorizontalText:
            return "HorizontalText";
        case kVerticalText:
            return "VerticalText";
        case kPicture:
            return "Picture";
        case kTable:
            return "Table";
        default:
            return "";
    }
}

namespace {

ColorRef BlockColour(uint32_t type) {
    switch (type) {
        case kHorizontalText:
            return MakeColorRef(255, 0, 0);
        case kVerticalText:
            return MakeColorRef(0, 255, 0);
        case kPicture:
            return MakeColorRef(0, 0, 255);
        case kTable:
            return MakeColorRef(255, 255, 0);
        default:
            return MakeColorRef(0, 0, 0);
    }
}

}  // namespace

std::vector<LayoutBlock> ReportLayout(PageBitmap& page) {
    NormalizeInkPolarity(page);
    const int32_t width = page.width, height = page.height;
    const int32_t rowBits = (width + 15) & 0xFFF0;
    std::vector<LayoutBlock> blocks;
    if (width > 0 && height > 0)
        blocks = AnalyzeLayout(page.bits.data(), rowBits, height, 0, 0, width - 1, height - 1);

    ConsolePrintf("------------------ LayoutAnalysis ------------------\n");
    int number = 1;
    for (const LayoutBlock& b : blocks)
        ConsolePrintf("%d, %s, [%d, %d, %d, %d]\n", number++, BlockTypeLabel(b.type), b.x0, b.y0,
                      b.x1, b.y1);
    ReleasePageBitmap(page);
    ConsolePrintf("------------------------------------------------\n");
    return blocks;
}

int32_t RunLayoutAnalysis(const std::string& inputPath, const std::string& outputPath,
                          bool adaptive) {
    std::unique_ptr<PageBitmap> page = LoadPageBitmap(inputPath, adaptive);
    if (!page) {
        ConsolePrintf("[ERROR] Failed to load \"%s\" file.\n", inputPath.c_str());
        return 0;
    }
    const std::vector<LayoutBlock> blocks = ReportLayout(*page);
    page.reset();
    DrawLayout(inputPath, outputPath, blocks);
    return 1;
}

void DrawBlocks(RasterImage& image, const std::vector<LayoutBlock>& blocks) {
    image.IncreaseBpp(24);
    const int32_t H = static_cast<int32_t>(image.GetHeight());
    for (const LayoutBlock& b : blocks) {
        const ColorRef colour = BlockColour(b.type);
        // Container rows count from the bottom: rows H - y1 and H - y0 are
        // page rows y1 - 1 and y0 - 1, and row H (a block at the top of the
        // page) falls outside the image.
        image.DrawLine(b.x0, b.x1, H - b.y1, H - b.y1, colour);
        image.DrawLine(b.x0, b.x1, H - b.y0, H - b.y0, colour);
        image.DrawLine(b.x0, b.x0, H - b.y1, H - b.y0, colour);
        image.DrawLine(b.x1, b.x1, H - b.y1, H - b.y0, colour);
        const char* label = BlockTypeLabel(b.type);
        if (*label != '\0')
            image.DrawString(b.x1, b.y0, label, RgbQuad{0, 0, 255, 0}, "Arial", 0, 0, false, false,
                             false);
    }
}

int32_t DrawLayout(const std::string& inputPath, const std::string& outputPath,
                   const std::vector<LayoutBlock>& blocks) {
    if (blocks.empty()) return 0;
    RasterImage image;
    if (!image.Load(inputPath.c_str(), kFormatUnknown)) {
        ConsolePrintf("[ERROR] Failed to load \"%s\" file.\n", inputPath.c_str());
        return 0;
    }
    const uint32_t type = ImageTypeFromExtension(outputPath);
    if (type == 0) {
        ConsolePrintf("'%s' is an unknown image format.\n", outputPath.c_str());
        return 0;
    }
    DrawBlocks(image, blocks);
    PrepareForOutputFormat(image, type);
    return image.Save(outputPath.c_str(), type) ? 1 : 0;
}

}  // namespace sheetmend
