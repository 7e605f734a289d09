#include "layout/skew.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/text_page.h"

namespace sheetmend {
namespace {

using skew_detail::CharBox;
using skew_detail::FindRowRuns;
using skew_detail::FitLineAngle;
using skew_detail::InkRun;
using skew_detail::kMaxRowRuns;
using skew_detail::MeasureLine;
using testing::BitPage;
using testing::DrawTurned;
using testing::kDegree;
using testing::TextLineBoxes;

float Detect(const BitPage& page) {
    return DetectSkew(page.bits.data(), page.RowBits(), page.height, 0, 0, page.width - 1,
                      page.height - 1);
}

// Pages of text lines turned by known angles: the measured angle is the
// turn, its sign that of lines descending to the right, within 0.1 degree.
TEST(DetectSkew, MeasuresTheTurnOfDrawnTextLines) {
    const std::vector<testing::Rect> boxes = TextLineBoxes(1700, 1100, 8);
    for (double degrees : {1.0, -1.0, 0.5, -0.3, 1.5, 2.5, -2.5, 4.0}) {
        SCOPED_TRACE(degrees);
        const BitPage page = DrawTurned(1700, 1100, boxes, degrees * kDegree);
        const double measured = Detect(page);
        EXPECT_NEAR(measured / kDegree, degrees, 0.1);
        // The drawing and the measure agree on the sign with the profile.
        EXPECT_GT(measured * testing::ProjectionSkew(page, 0.08), 0);
    }
}

TEST(DetectSkew, SmallTightTextAndRegionsInsideThePage) {
    // Small characters set close (mean gap below 2, height below 12): one
    // line weighs double and the scan ends after it.
    std::vector<testing::Rect> boxes;
    for (int32_t x = 100; x + 8 < 1000; x += 8)
        boxes.push_back({double(x), 200, double(x + 7), 210});
    for (int32_t x = 100; x + 8 < 1000; x += 8)
        boxes.push_back({double(x), 400, double(x + 7), 410});
    const BitPage page = DrawTurned(1100, 600, boxes, 0.5 * kDegree);
    EXPECT_NEAR(Detect(page) / kDegree, 0.5, 0.1);

    // The same lines seen through a region that holds only the second one,
    // and through one that holds none of them.
    EXPECT_NEAR(
        DetectSkew(page.bits.data(), page.RowBits(), page.height, 50, 300, 1050, 599) / kDegree,
        0.5, 0.1);
    EXPECT_EQ(DetectSkew(page.bits.data(), page.RowBits(), page.height, 0, 250, 1099, 380), 0.0f);
}

TEST(DetectSkew, NoTextGivesNoAngle) {
    BitPage blank(800, 600);
    EXPECT_EQ(Detect(blank), 0.0f);

    // A picture block, a frame and a scatter of specks make no text line.
    BitPage picture(800, 600);
    picture.Fill(100, 100, 400, 300);
    for (int32_t x = 20; x < 780; ++x) picture.Set(x, 20), picture.Set(x, 580);
    for (int32_t y = 20; y <= 580; ++y) picture.Set(20, y), picture.Set(779, y);
    for (int32_t i = 0; i < 300; ++i) picture.Set(530 + (i * 37) % 240, 40 + (i * 53) % 520);
    EXPECT_EQ(Detect(picture), 0.0f);

    // Level lines measure exactly 0, which is not an angle to turn back.
    const BitPage level = DrawTurned(1700, 1100, TextLineBoxes(1700, 1100, 8), 0);
    EXPECT_EQ(Detect(level), 0.0f);

    // Bad regions and empty pages are not looked at.
    EXPECT_EQ(DetectSkew(nullptr, 16, 10, 0, 0, 15, 9), 0.0f);
    EXPECT_EQ(DetectSkew(level.bits.data(), level.RowBits(), level.height, 500, 0, 400, 100), 0.0f);
}

TEST(DetectSkew, SingleTextLineIsMeasuredAtTheEndOfThePage) {
    std::vector<testing::Rect> boxes;
    for (const testing::Rect& r : TextLineBoxes(1700, 1100, 1)) boxes.push_back(r);
    const BitPage page = DrawTurned(1700, 1100, boxes, -1.0 * kDegree);
    EXPECT_NEAR(Detect(page) / kDegree, -1.0, 0.15);
}

// Runs of a row against a pixel walk, on rows with runs across byte and word
// borders, at region offsets that are not byte aligned.
TEST(FindRowRuns, MatchesThePixelWalkAndWrapsAFullList) {
    BitPage page(400, 3);
    page.Fill(0, 0, 1, 1);
    page.Fill(7, 0, 2, 1);
    page.Fill(15, 0, 70, 1);
    page.Fill(150, 0, 8, 1);
    page.Fill(399, 0, 1, 1);
    for (int32_t x = 0; x < 400; x += 3) page.Set(x, 1);
    for (const auto& [x0, x1] :
         std::vector<std::pair<int32_t, int32_t>>{{0, 399}, {3, 151}, {8, 8}, {9, 398}}) {
        for (int32_t y : {0, 1, 2}) {
            SCOPED_TRACE(::testing::Message() << x0 << ".." << x1 << " row " << y);
            std::vector<InkRun> expected;
            for (int32_t x = x0; x <= x1; ++x)
                if (page.Ink(x, y) && (x == x0 || !page.Ink(x - 1, y))) {
                    int32_t e = x;
                    while (e + 1 <= x1 && page.Ink(e + 1, y)) ++e;
                    expected.push_back({x - x0, e - x + 1});
                }
            InkRun runs[kMaxRowRuns];
            const int32_t n = FindRowRuns(page.Row(y), x0, x1, runs);
            ASSERT_EQ(n, static_cast<int32_t>(expected.size()));
            for (int32_t i = 0; i < n; ++i) {
                EXPECT_EQ(runs[i].start, expected[i].start) << i;
                EXPECT_EQ(runs[i].length, expected[i].length) << i;
            }
        }
    }
    // 400 single-pixel runs: the first 389 fill the list, runs 390..400
    // then take entries 1..11, and the list holds 12.
    BitPage dense(800, 1);
    for (int32_t x = 0; x < 800; x += 2) dense.Set(x, 0);
    InkRun runs[kMaxRowRuns];
    ASSERT_EQ(FindRowRuns(dense.Row(0), 0, 799, runs), 12);
    EXPECT_EQ(runs[0].start, 0);
    for (int32_t i = 1; i < 12; ++i) EXPECT_EQ(runs[i].start, 2 * (388 + i)) << i;
    EXPECT_EQ(runs[12].start, 2 * 12);  // beyond the count: the first pass's run 13
}

// Worked by hand: the running fit averages the slopes of the growing point
// sets; up to five points it is the plain least-squares slope.
TEST(FitLineAngle, RunningAverageOfSlopes) {
    struct Case {
        std::vector<double> xs, ys;
        double angle;
    } cases[] = {
        // Collinear: every partial slope is 0.02.
        {{0, 10, 20, 30, 40, 50, 60}, {5, 5.2, 5.4, 5.6, 5.8, 6, 6.2}, std::atan(0.02)},
        // Five flat points and a sixth at 6: partial slopes 0, 0, 0, 0, 6/7.
        {{0, 1, 2, 3, 4, 5}, {0, 0, 0, 0, 0, 6}, std::atan((6.0 / 7.0) / 5)},
        // Four points: plain slope (4*20 - 6*10) / (4*14 - 36) = 1.
        {{0, 1, 2, 3}, {1, 2, 3, 4}, std::atan(1.0)},
        // Same column: no slope, a right angle.
        {{3, 3, 3}, {1, 2, 7}, 1.5707964},
        // Two points in one column first: that partial slope counts as 100.
        {{3, 3, 4, 5, 6, 7}, {0, 0, 0, 0, 0, 0}, std::atan(100.0 / 5)},
    };
    for (const Case& c : cases) EXPECT_NEAR(FitLineAngle(c.xs, c.ys), c.angle, 1e-7);
}

std::vector<CharBox> Row(int32_t n, int32_t w, int32_t h, int32_t gap, int32_t y0 = 100,
                         int32_t x0 = 10) {
    std::vector<CharBox> boxes;
    for (int32_t i = 0; i < n; ++i)
        boxes.push_back({x0 + i * (w + gap), y0, x0 + i * (w + gap) + w - 1, y0 + h - 1});
    return boxes;
}

TEST(MeasureLine, LineTestWeightAndBoxFilter) {
    // Twelve boxes rising one row each: a line of slope -1/(w+gap).
    std::vector<CharBox> rising = Row(12, 20, 30, 6);
    for (size_t i = 0; i < rising.size(); ++i)
        rising[i].y0 -= int32_t(i), rising[i].y1 -= int32_t(i);
    auto m = MeasureLine(rising);
    EXPECT_EQ(m.weight, 1);
    EXPECT_NEAR(m.angle, std::atan(-1.0 / 26), 1e-9);

    // Three boxes, short of twelve heights: not a line.
    EXPECT_EQ(MeasureLine(Row(3, 20, 30, 6)).weight, 0);
    // Tall narrow boxes without gaps (mh >= 3 mw, mg <= 1): not a line.
    EXPECT_EQ(MeasureLine(Row(20, 10, 40, 1)).weight, 0);
    // The same with gaps of 3 (mean gap 57 / 20 = 2) is a line again.
    EXPECT_EQ(MeasureLine(Row(20, 10, 40, 3)).weight, 1);
    // Small text set tight counts twice.
    EXPECT_EQ(MeasureLine(Row(20, 7, 10, 1)).weight, 2);
    EXPECT_EQ(MeasureLine(Row(20, 7, 12, 1)).weight, 1);

    // A capital twice the height and a dot-sized box sit off the centre
    // line; they are left out of the fit, which stays level.
    std::vector<CharBox> mixed = Row(14, 20, 30, 6);
    mixed[3].y0 -= 30;
    mixed[9].y0 += 25;
    m = MeasureLine(mixed);
    EXPECT_EQ(m.weight, 1);
    EXPECT_EQ(m.angle, 0.0);

    // Fewer than twelve boxes left and fewer than 4/5 of them: not measured.
    std::vector<CharBox> ragged = Row(13, 20, 30, 6);
    ragged[1].y0 -= 30, ragged[5].y0 -= 30, ragged[7].y0 += 25;  // 10 of 13 left
    EXPECT_EQ(MeasureLine(ragged).weight, 0);
    ragged[7].y0 -= 25;  // 11 of 13 left
    EXPECT_EQ(MeasureLine(ragged).weight, 1);
}

}  // namespace
}  // namespace sheetmend
