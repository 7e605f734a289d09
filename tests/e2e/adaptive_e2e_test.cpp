// -adaptive and -flatten end to end, on the drawn page lit by a gradient
// (see tests/support/stained_pages.h): what each run writes, measured
// against the drawn ink.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"
#include "tests/support/stained_pages.h"

namespace sheetmend::testing {
namespace {

TEST(AdaptiveRun, LocalThresholdAndFlatteningReachEveryBlackAndWhitePath) {
    ScratchDir dir;
    StainedPage page = std::move(DrawStainedPages()[1]);
    ASSERT_EQ(page.name, "gradient");
    SaveOrFail(page.image, dir.File("page.png"));
    struct Case {
        std::vector<std::string> options;
        uint32_t bpp;
        double minF, maxF;  // F-measure of the black pixels, for 1-bit results
        int32_t dpi;        // the page bitmap's save always states 23 dpi
    } cases[] = {
        {{"-adaptive", "-threshold", "0"}, 1, 0.9, 1, 300},
        {{"-adaptive", "-bitcount", "1"}, 1, 0.9, 1, 300},
        {{"-flatten", "-threshold", "0"}, 1, 0.9, 1, 300},
        // The working copy of the own despeckle: local with -adaptive,
        // global (the dark side black) without.
        {{"-adaptive", "-despeckle2"}, 1, 0.9, 1, 23},
        {{"-despeckle2"}, 1, 0, 0.7, 23},
        {{"-flatten"}, 24, 0, 0, 300},
    };
    int32_t n = 0;
    for (const Case& c : cases) {
        const std::string out = "out" + std::to_string(n++) + ".png";
        std::vector<std::string> args = c.options;
        args.push_back("page.png");
        args.push_back(out);
        const ProgramResult r = RunSheetmend(args, dir.path());
        SCOPED_TRACE(out + "\n" + r.out + r.err);
        const RasterImage result = LoadOrFail(dir.File(out));
        ASSERT_EQ(result.GetBpp(), c.bpp);
        EXPECT_EQ(result.GetYDpi(), c.dpi);
        if (c.bpp == 1) {
            const double f = InkFMeasure(result, page.ink);
            EXPECT_GE(f, c.minF);
            EXPECT_LE(f, c.maxF);
        } else {
            EXPECT_GT(GreyMeanAndSpread(result, page.paper).first, 250);
        }
    }
    // On its own -adaptive selects no operation.
    RunSheetmend({"-adaptive", "page.png", "none.png"}, dir.path());
    EXPECT_FALSE(Exists(dir.File("none.png")));
}

}  // namespace
}  // namespace sheetmend::testing
