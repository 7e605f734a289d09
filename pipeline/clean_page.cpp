// CleanPage: loads the page black and white, despeckles it, measures and
// turns back its skew, and saves it.
#include "pipeline/clean_page.h"

#include <cstdio>

#include "layout/skew.h"
#include "platform/console.h"

namespace sheetmend {

namespace {
constexpr int32_t kDefaultSpeckleSize = 20;
}  // namespace

int32_t PaddedRowBits(const PageBitmap& page) {
    return static_cast<int32_t>(page.RowBytes() * 8);
}

void CleanPageBitmap(PageBitmap& page, bool despeckle, int32_t speckleSize, bool deskew) {
    if (despeckle)
        Despeckle(page.bits.data(), page.width, page.height,
                  speckleSize > 0 ? speckleSize : kDefaultSpeckleSize);
    if (deskew) {
        const float angle = DetectSkew(page.bits.data(), PaddedRowBits(page), page.height, 0, 0,
                                       page.width - 1, page.height - 1);
        if (angle != 0) RotatePage(page, -static_cast<double>(angle));
    }
}

int32_t CleanPage(const std::string& inputPath, const std::string& outputPath, bool despeckle,
                  int32_t speckleSize, bool deskew, bool adaptive) {
    if (!despeckle && !deskew) return 0;
    std::unique_ptr<PageBitmap> page = LoadPageBitmap(inputPath, adaptive);
    if (!page) {
        ConsolePrintf("[ERROR] Failed to load \"%s\" file.\n", inputPath.c_str());
        return 0;
    }
    CleanPageBitmap(*page, despeckle, speckleSize, deskew);
    const int32_t saved = SavePageBitmap(page.get(), outputPath);
    ReleasePageBitmap(*page);
    return saved;
}

}  // namespace sheetmend
