#include "pipeline/convert.h"

#include <strings.h>
#include <unistd.h>

#include <cstdio>

#include "image/formats.h"
#include "image/page_facts.h"
#include "image/raster_image.h"
#include "pipeline/clean_pass.h"
#include "pipeline/external_tools.h"
#include "pipeline/image_files.h"
#include "pipeline/orient.h"
#include "pipeline/straighten.h"
#include "platform/console.h"
#include "platform/file_copy.h"
#include "platform/paths.h"
#include "platform/temp_files.h"

namespace sheetmend {

int32_t ApplyConversionOptions(const ToolOptions& options, RasterImage& image) {
    if (!image.IsValid()) return 0;

    // Flattening comes first: every later step (straightening, any
    // threshold) does better on even paper.
    // -clean paints the border first, so that neither the flattening nor
    // the skew measurement sees it.
    CleanRecord clean;
    if (options.clean) CleanBeforeOrient(options, image, clean);
    if (options.flatten) image.FlattenBackground();
    // The page as scanned is first set upright and level, so that every
    // later step sees a straight page.
    if (options.orient) OrientPage(options, image);
    if (options.straighten) StraightenPage(options, image);
    else if (options.clean) CleanStraighten(options, image, clean);

    // Resize: a single given side keeps the proportions (truncated).
    const int32_t w = options.width, h = options.height;
    if (w > 0 || h > 0) {
        const auto oldW = static_cast<int32_t>(image.GetWidth());
        const auto oldH = static_cast<int32_t>(image.GetHeight());
        // The product wraps in 32 bits as it always has; the quotient is
        // taken in floating point and truncated.
        auto scaled = [](int32_t a, int32_t b, int32_t c) {
            const auto product =
                static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
            return static_cast<int32_t>(static_cast<double>(product) / c);
        };
        if (w > 0 && h == 0)
            image.Resample(w, scaled(oldH, w, oldW), 1);
        else if (w == 0 && h > 0)
            image.Resample(scaled(oldW, h, oldH), h, 1);
        else if (w > 0 && h > 0)
            image.Resample(w, h, 1);
    }

    if (options.rotate != 0) image.Rotate(static_cast<float>(options.rotate));

    if (options.threshold == 0 && options.adaptive && image.GetBpp() > 1) image.AdaptiveThreshold();
    if (options.threshold == 0 && image.GetBpp() > 1) {
        // The automatic level is found on grey values: any image that is not
        // already an identity grey ramp is made grey first, so palette
        // indices of a colour or inverted palette are never taken for greys.
        if (!image.IsGrayScale()) image.GrayScale();
        // A page that -clean changed takes Otsu's level alone. The mean of
        // the four criteria follows the soft greys that a turn leaves along
        // the strokes of a page with little ink up to 200 and more, which
        // merges bold strokes; on paper made white by the cleaning, Otsu's
        // level lies between ink and paper. A page the cleaning left as it
        // was keeps the level of a plain conversion.
        const int32_t method = options.clean && clean.Changed() ? 1 : 0;
        const int32_t level = image.OptimalThreshold(method, nullptr, nullptr);
        if (level > 0) {
            const int32_t xDpi = image.GetXDpi(), yDpi = image.GetYDpi();
            const uint32_t tiffOption = image.GetCodecOption(kFormatTiff);
            ConsolePrintf("[Message] OptimalThreshold=%d\n", level);
            RecordPageFact([&](PageFacts& f) { f.threshold = level; });
            image.Threshold(static_cast<uint8_t>(level));
            image.SetXDpi(xDpi);
            image.SetYDpi(yDpi);
            image.SetCodecOption(tiffOption, kFormatTiff);
        }
    }

    if (options.threshold > 0 && options.threshold < 255 && image.GetBpp() > 1) {
        image.Threshold(static_cast<uint8_t>(options.threshold));
        RecordPageFact([&](PageFacts& f) { f.threshold = options.threshold; });
    }

    if (options.dither >= 0 && options.dither <= 7 && image.GetBpp() > 1)
        image.Dither(options.dither);

    if (options.flip) image.Flip(false, true);
    if (options.mirror) image.Mirror(false, true);

    const int32_t bc = options.bitcount;
    if (bc == 1 && options.adaptive && image.GetBpp() > 1) image.AdaptiveThreshold();
    if (bc == 1 || bc == 4 || bc == 8 || bc == 16 || bc == 24 || bc == 32) {
        const auto target = static_cast<uint32_t>(bc);
        if (image.GetBpp() < target)
            image.IncreaseBpp(target);
        else if (image.GetBpp() > target)
            image.DecreaseBpp(target, true, nullptr, 0);
    }
    if (options.clean) CleanAfterConversion(options, image, clean);
    return 1;
}

void ConvertPage(const ToolOptions& options, RasterImage& image, uint32_t outputCode) {
    ApplyConversionOptions(options, image);
    if (options.deskew || options.despeckle) ExternalDeskewStep(options, image, options.skewrange);
    // A format that holds only black and white gets a local threshold too.
    if (options.adaptive && outputCode == kFormatWbmp && image.GetBpp() > 1)
        image.AdaptiveThreshold();
    PrepareForOutputFormat(image, outputCode);
}

}  // namespace sheetmend
