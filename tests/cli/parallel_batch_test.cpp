#include "cli/parallel_batch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "cli/progress_line.h"

namespace sheetmend {
namespace {

TEST(WorkerCount, APositiveNumberElseTheProcessors) {
    const auto online = static_cast<int32_t>(sysconf(_SC_NPROCESSORS_ONLN));
    EXPECT_EQ(WorkerCount("3"), 3);
    EXPECT_EQ(WorkerCount("1"), 1);
    EXPECT_EQ(WorkerCount("99999"), 1024);
    for (const char* ignored : {"0", "-2", "4x", "", "many"})
        EXPECT_EQ(WorkerCount(ignored), online) << ignored;
    EXPECT_EQ(WorkerCount(nullptr), online);
}

TEST(MustRunSerially, WhereOnePairsStateReachesTheNext) {
    struct Case {
        bool boxobjects, ocr, deskew, despeckle, serial;
    };
    const Case cases[] = {
        {true, false, false, false, true}, {false, true, true, false, true},
        {false, true, false, true, true},  {false, true, false, false, false},
        {false, false, true, true, false},
    };
    for (const Case& c : cases) {
        ToolOptions o;
        o.boxobjects = c.boxobjects;
        o.ocr = c.ocr;
        o.deskew = c.deskew;
        o.despeckle = c.despeckle;
        EXPECT_EQ(MustRunSerially(o), c.serial) << c.boxobjects << c.ocr << c.deskew << c.despeckle;
    }
}

TEST(PairChains, OcrPairsSharingABoxListStayTogetherInOrder) {
    const std::vector<std::string> outputs{"out/a.png", "out/b.png", "out/a.tif", "out/c.png",
                                           "out/b.png"};
    ToolOptions ocr;
    ocr.ocr = true;
    using Chains = std::vector<std::vector<size_t>>;
    EXPECT_EQ(PairChains(ocr, outputs), (Chains{{0, 2}, {1, 4}, {3}}));
    ToolOptions convert;
    EXPECT_EQ(PairChains(convert, outputs), (Chains{{0}, {1}, {2}, {3}, {4}}));
}

TEST(ScheduleChains, BiggestFirstWithinEachBlockListOrderAcrossBlocks) {
    const std::vector<std::vector<size_t>> chains{{0}, {1, 5}, {2}, {3}, {4}, {6}};
    const std::vector<uint64_t> cost{10, 5, 30, 30, 1, 20, 7};
    // Chain costs: 10, 25, 30, 30, 1, 7; ties keep list order.
    EXPECT_EQ(ScheduleChains(chains, cost, 3), (std::vector<size_t>{2, 1, 0, 3, 5, 4}));
    EXPECT_EQ(ScheduleChains(chains, cost, 1), (std::vector<size_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(ScheduleChains(chains, cost, 100), (std::vector<size_t>{2, 3, 1, 0, 5, 4}));
}

TEST(ProgressLine, CountsRateAndTimeLeft) {
    EXPECT_EQ(ProgressLine::Text(0, 40, 0, 0), "[0/40] files");
    // 10 files with 20 pages in 8 s: 2.5 pages/s, 30 files left at 0.8 s each.
    EXPECT_EQ(ProgressLine::Text(10, 40, 20, 8000), "[10/40] files, 2.5 pages/s, 0:24 left");
    EXPECT_EQ(ProgressLine::Text(1, 100, 1, 61000), "[1/100] files, 0.0 pages/s, 100:39 left");
    EXPECT_EQ(ProgressLine::Text(40, 40, 45, 9000), "[40/40] files, 5.0 pages/s, 0:00 left");
}

}  // namespace
}  // namespace sheetmend
