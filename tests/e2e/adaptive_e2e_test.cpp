// -adaptive and -flatten end to end on the drawn page lit by a gradient
// (tests/support/stained_pages.h), measured against its drawn ink.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"
#include "tests/support/stained_pages.h"

namespace sheetmend::testing {
namespace {

TEST(AdaptiveRun, LocalThresholdAndFlatteningReachTheBlackAndWhitePaths) {
    ScratchDir dir;
    StainedPage page = std::move(DrawStainedPages()[1]);
    SaveOrFail(page.image, dir.File("page.png"));
    struct Case {
        std::vector<std::string> args;
        double minF, maxF;  // of the black pixels (0 for the 24-bit output)
        bool whitePaper;
    } cases[] = {
        {{"-adaptive", "-threshold", "0", "page.png", "a.png"}, 0.9, 1, true},
        {{"-adaptive", "-bitcount", "1", "page.png", "b.png"}, 0.9, 1, true},
        // The own despeckle's working copy: local, or global (the dark side black).
        {{"-adaptive", "-despeckle2", "page.png", "c.png"}, 0.9, 1, true},
        {{"-despeckle2", "page.png", "d.png"}, 0, 0.7, false},
        {{"-flatten", "page.png", "e.png"}, 0, 0, true},
    };
    for (const Case& c : cases) {
        const ProgramResult r = RunSheetmend(c.args, dir.path());
        const RasterImage out = LoadOrFail(dir.File(c.args.back()));
        const double f = out.GetBpp() == 1 ? InkFMeasure(out, page.ink) : 0;
        EXPECT_TRUE(f >= c.minF && f <= c.maxF) << f << " " << c.args.back() << r.out << r.err;
        EXPECT_EQ(out.GetBpp(), c.maxF > 0 ? 1u : 24u);
        EXPECT_EQ(GreyMeanAndSpread(out, page.paper).first > 250, c.whitePaper) << c.args.back();
    }
    RunSheetmend({"-adaptive", "page.png", "none.png"}, dir.path());
    EXPECT_FALSE(Exists(dir.File("none.png"))) << "-adaptive alone selects no operation";
}

}  // namespace
}  // namespace sheetmend::testing
