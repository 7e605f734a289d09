#include "layout/band_statistics.h"

#include <gtest/gtest.h>

#include <vector>

namespace sheetmend {
namespace {

TEST(IsSimilarTest, ToleranceIsAQuarterOfTheMeanHeldToSixToFiftySix) {
    struct Case {
        int32_t a, b;
        bool similar;
    };
    const Case cases[] = {
        {10, 10, true},                       // equal
        {0, 0, true},                         // equal, even at zero
        {0, 1, false},                        // mean 0
        {1, -1, false},                       // mean 0
        {20, 25, true},                       // mean 22: tolerance 6 (5.5 rounds to 6)
        {20, 26, false},                      // mean 23: tolerance 6, difference 6 is not below it
        {2, 7, true},                         // tolerance raised to 6
        {100, 124, true},                     // mean 112: tolerance 28
        {100, 130, false},                    // mean 115: tolerance 29
        {130, 100, false},                    // symmetric
        {400, 455, true},                     // tolerance lowered to 56
        {400, 457, false}, {-10, -12, true},  // negative sizes still get the least tolerance
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsSimilar(c.a, c.b), c.similar) << c.a << " vs " << c.b;
    }
}

TEST(BandStatisticsTest, FewerThanThreeValuesGiveTheirMean) {
    const int32_t two[] = {40, 100};
    BandStats s = BandStatistics(false, kRowBandKind, two, 2, 500, true, false);
    EXPECT_EQ(s.typical, 70);
    EXPECT_FALSE(s.large);
    EXPECT_EQ(s.threshold, kNoSizeThreshold);

    const int32_t wide[] = {40, 120};
    s = BandStatistics(false, kRowBandKind, wide, 2, 500, true, false);
    EXPECT_EQ(s.typical, 80);
    EXPECT_TRUE(s.large);

    const int32_t gap[] = {13};
    s = BandStatistics(true, kRowBandKind, gap, 1, 500, true, false);
    EXPECT_EQ(s.typical, 13);
    EXPECT_EQ(s.threshold, kNoGapThreshold);

    s = BandStatistics(true, kColumnBandKind, nullptr, 0, 500, true, false);
    EXPECT_EQ(s.typical, 0);
    EXPECT_EQ(s.threshold, kNoGapThreshold);
}

// Each case worked out by hand from the histogram of its values.
TEST(BandStatisticsTest, HistogramRunsGiveTypicalAndThreshold) {
    struct Case {
        const char* what;
        bool isGap;
        BandKind kind;
        bool byteMode, firstLevel;
        std::vector<int32_t> values;
        int32_t largest;
        int32_t typical, threshold, low, high;
        bool large;
    };
    const Case cases[] = {
        // Bins 30,31 | 60; byte mode starts rows at bin 7. Mode run is the
        // first of two runs; the next run starts at 2 x typical: 60 - 1.
        {"line heights",
         false,
         kRowBandKind,
         true,
         false,
         {30, 30, 30, 31, 60},
         400,
         30,
         59,
         31,
         60,
         false},
        // Gaps: the first run after the mode run beyond 5/2 x 20 = 50.
        {"line gaps",
         true,
         kRowBandKind,
         false,
         false,
         {20, 20, 21, 60, 20},
         400,
         20,
         59,
         20,
         60,
         false},
        // Column widths in byte mode: counted as 5,5,6,50 bytes; start bin 2
        // is empty so bin 5 starts; threshold 49 bytes is 392 pixels.
        {"byte widths",
         false,
         kColumnBandKind,
         true,
         true,
         {40, 40, 48, 400},
         800,
         40,
         392,
         6,
         50,
         true},
        // Every bin scores 1: no threshold, typical the first bin.
        {"scattered gaps",
         true,
         kRowBandKind,
         false,
         false,
         {10, 30, 50},
         400,
         10,
         kNoGapThreshold,
         10,
         50,
         false},
        // The mode run is the last run: threshold just past it.
        {"mode last",
         false,
         kRowBandKind,
         false,
         false,
         {5, 30, 30, 30},
         400,
         30,
         31,
         5,
         30,
         false},
        // Three runs, mode in the middle: its slot 3 of 6 is in the upper
        // part (3 >= 18 / 5), so the next run's first bin less one.
        {"upper slot",
         false,
         kRowBandKind,
         false,
         false,
         {10, 30, 30, 30, 45},
         400,
         30,
         44,
         10,
         45,
         false},
        // Four runs: slot 3 of 8 is not upper; no later run reaches 60, so
        // just past the last run.
        {"lower slot",
         false,
         kRowBandKind,
         false,
         false,
         {10, 30, 30, 30, 45, 50},
         400,
         30,
         51,
         10,
         50,
         false},
        // Byte mode lowers the large limit to 9 bytes: 80 pixels is 10.
        {"large bytes",
         false,
         kColumnBandKind,
         true,
         false,
         {16, 16, 16, 80},
         800,
         16,
         80 - 8,
         2,
         10,
         true},
        // Rows in byte mode ignore heights below 7.
        {"tiny rows",
         false,
         kRowBandKind,
         true,
         false,
         {3, 3, 3, 3, 20, 20, 21},
         400,
         20,
         22,
         21,
         20,
         false},
    };
    for (const Case& c : cases) {
        const BandStats s = BandStatistics(c.isGap, c.kind, c.values.data(), c.values.size(),
                                           c.largest, c.byteMode, c.firstLevel);
        EXPECT_EQ(s.typical, c.typical) << c.what;
        EXPECT_EQ(s.threshold, c.threshold) << c.what;
        EXPECT_EQ(s.low, c.low) << c.what;
        EXPECT_EQ(s.high, c.high) << c.what;
        EXPECT_EQ(s.large, c.large) << c.what;
    }
}

TEST(BandStatisticsTest, ValuesBeyondTheLargestAreHeldInRange) {
    // A value past `largest` must not index outside the histogram.
    const int32_t values[] = {10, 10, 10, 5000, -4};
    const BandStats s = BandStatistics(false, kRowBandKind, values, 5, 100, false, false);
    EXPECT_EQ(s.typical, 10);
    EXPECT_TRUE(s.large);  // 5000 counts as 100
}

TEST(FindBandsTest, RowRunsNeedMassAndHeight) {
    std::vector<int32_t> p;
    auto run = [&](int32_t n, int32_t v) { p.insert(p.end(), n, v); };
    run(1, 0);
    run(12, 60);  // mass > 49 and 12 rows: a band
    run(2, 0);
    run(3, 5);  // too light: part of the gap
    run(1, 0);
    run(4, 200);  // mass > 100 and 4 rows: a band
    run(5, 0);
    run(3, 200);  // only 3 rows: part of the gap
    run(2, 0);
    Band out[8];
    const size_t n =
        FindBands(p.data(), static_cast<int32_t>(p.size()), ProfileUnit::kRows, 100, out, 8);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(out[0].start, 101);
    EXPECT_EQ(out[0].width, 12);
    EXPECT_EQ(out[0].gap, 6);  // rows 113..118
    EXPECT_EQ(out[1].start, 119);
    EXPECT_EQ(out[1].width, 4);
    EXPECT_EQ(out[1].gap, 0);
}

TEST(FindBandsTest, ByteColumnsComeOutInPixels) {
    const int32_t p[] = {0, 30, 30, 0, 120, 0, 20, 0, 0, 60, 0};
    Band out[8];
    const size_t n = FindBands(p, 11, ProfileUnit::kByteColumns, 10, out, 8);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(out[0].start, 88);  // byte column 11
    EXPECT_EQ(out[0].width, 16);
    EXPECT_EQ(out[0].gap, 8);
    EXPECT_EQ(out[1].start, 112);
    EXPECT_EQ(out[1].width, 8);  // one byte column, heavy enough
}

TEST(FindBandsTest, PixelColumnsKeepBandsWiderThanSix) {
    std::vector<int32_t> p;
    p.insert(p.end(), 7, 1);
    p.push_back(0);
    p.insert(p.end(), 6, 1);
    p.push_back(0);
    p.insert(p.end(), 8, 1);
    Band out[4];
    const size_t n =
        FindBands(p.data(), static_cast<int32_t>(p.size()), ProfileUnit::kPixelColumns, 0, out, 4);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(out[0].width, 7);
    EXPECT_EQ(out[0].gap, 8);
    EXPECT_EQ(out[1].start, 15);
}

TEST(FindBandsTest, AtMost360BandsAndTheLastTakesTheRest) {
    std::vector<int32_t> p;
    for (int i = 0; i < 400; ++i) {
        p.insert(p.end(), 4, 200);
        p.insert(p.end(), 2, 0);
    }
    std::vector<Band> out(400);
    const size_t n = FindBands(p.data(), static_cast<int32_t>(p.size()), ProfileUnit::kRows, 0,
                               out.data(), out.size());
    ASSERT_EQ(n, kMaxBands);
    EXPECT_EQ(out[358].start, 358 * 6);
    EXPECT_EQ(out[358].gap, 2);
    EXPECT_EQ(out[359].start, 359 * 6);
    EXPECT_EQ(out[359].start + out[359].width, 399 * 6 + 4);  // to the end of the ink
}

}  // namespace
}  // namespace sheetmend
