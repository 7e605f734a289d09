// Reading the engine's orientation report: the quarter turn it asks for,
// nothing when it is unsure, and no turn from a report that is not one.
#include "pipeline/orient.h"

#include <gtest/gtest.h>

namespace sheetmend {
namespace {

std::string Report(const char* turn, const char* confidence) {
    return std::string("Page number: 0\nOrientation in degrees: 90\nRotate: ") + turn +
           "\nOrientation confidence: " + confidence + "\nScript: Latin\nScript confidence: 9.5\n";
}

TEST(OrientReport, QuarterTurnWhenTheEngineIsSure) {
    const struct {
        std::string report;
        int32_t turn;
    } cases[] = {
        {Report("270", "5.32"), 270},
        {Report("90", "2.00"), 90},
        {Report("180", "12.5"), 180},
        {Report("0", "4.80"), 0},
        {Report("90", "1.99"), 0},  // unsure: left as it is
        {Report("45", "9.0"), -1},
        {Report("360", "9.0"), -1},
        {Report("-90", "9.0"), -1},
        {"Page number: 0\nRotate: 90\n", -1},
        {"", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(UprightTurnFromReport(c.report, 2.0), c.turn) << c.report;
}

}  // namespace
}  // namespace sheetmend
