// The per-page report (-report), read back with Python's own JSON reader,
// on pages whose truth is known by construction.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/support/text_page.h"

namespace sheetmend::testing {
namespace {

// A white one-bit page whose set bits are black ink.
RasterImage WhitePage(uint32_t w, uint32_t h) {
    RasterImage page(w, h, 1);
    page.SetPaletteColor(0, 255, 255, 255);
    page.SetPaletteColor(1, 0, 0, 0);
    page.Clear(0);
    return page;
}

class ReportTest : public ::testing::Test {
  protected:
    // `expr` evaluated by Python over d, the list of the report's lines.
    std::string Py(const std::string& expr, const std::string& file = "") {
        std::string out;
        RunShell(
            "python3 -c 'import json,sys; d=[json.loads(l) for l in open(sys.argv[1])]; "
            "print(eval(sys.argv[2]))' '" +
                (file.empty() ? report : file) + "' '" + expr + "'",
            &out);
        return out.substr(0, out.find_last_not_of('\n') + 1);
    }

    // A white 40-file folder at 100 dpi, p10 to p49; every fourth page stays
    // blank, the others get a dark box of 40 x (10 + i) pixels.
    void DrawFolder() {
        ASSERT_EQ(RunShell("mkdir -p '" + dir + "/in'"), 0);
        for (int i = 0; i < 40; ++i) {
            RasterImage page(200, 240, 24);
            page.SetXDpi(100);
            page.SetYDpi(100);
            page.Clear(255);
            for (int y = 0; i % 4 != 0 && y < 10 + i; ++y)
                for (int x = 0; x < 40; ++x)
                    page.SetPixelColor(60 + x, 80 + y, RgbQuad{20, 20, 20, 0});
            SaveOrFail(page, dir + "/in/p" + std::to_string(10 + i) + ".png");
        }
    }

    ScratchDir scratch;
    const std::string dir = scratch.path(), report = dir + "/r.jsonl";
};

TEST_F(ReportTest, ConversionReportsTheChosenThresholdAndLeavesTheRestAlone) {
    // Grey 190 paper with a 200 x 100 box of grey 60 at 200 dpi: the level
    // lies between the two.
    RasterImage page(600, 800, 8);
    page.SetGrayPalette();
    page.SetXDpi(200);
    page.SetYDpi(200);
    page.Clear(190);
    for (int y = 300; y < 400; ++y)
        for (int x = 100; x < 300; ++x) page.SetPixelIndex(x, y, 60);
    SaveOrFail(page, dir + "/in.png");
    const std::string in = dir + "/in.png", out = dir + "/out.tif";
    const ProgramResult plain = RunSheetmend({"-threshold", "0", in, out});
    const std::vector<uint8_t> bytes = ReadFileBytes(out);
    std::vector<ProgramResult> runs;
    const std::regex timing(R"(\d+ms \(.*s\))");
    for (const std::string& to : {report, std::string("-")}) {
        unlink(out.c_str());
        runs.push_back(RunSheetmend({"-threshold", "0", "-report", to, in, out}));
        EXPECT_EQ(runs.back().status, plain.status);
        EXPECT_EQ(std::regex_replace(runs.back().out, timing, ""),
                  std::regex_replace(plain.out, timing, ""));
        EXPECT_TRUE(ReadFileBytes(out) == bytes);
    }
    std::smatch level;
    ASSERT_TRUE(std::regex_search(plain.out, level, std::regex(R"(OptimalThreshold=(\d+))")));
    EXPECT_TRUE(std::stoi(level[1]) > 60 && std::stoi(level[1]) <= 190) << level[1];
    // Fields not computed (skew, crop, specks, words) are absent.
    EXPECT_EQ(Py("[d[0].get(k) for k in (\"input\",\"page\",\"pages\",\"operation\",\"status\","
                 "\"width\",\"height\",\"dpi\",\"bits\",\"threshold\",\"blank\",\"skew\","
                 "\"crop\",\"specks\",\"words\")]"),
              "['" + in + "', 1, 1, 'convert', 'ok', 600, 800, [200, 200], {'in': 8, 'out': 1}, " +
                  level[1].str() + ", False, None, None, None, None]");
    // The box inside the band of 40 pixels (rows sampled every tenth one).
    EXPECT_NEAR(std::stod(Py("d[0][\"ink\"]")), 200.0 * 100 / (520 * 720), 1e-4);
    // "-report -": the same line on standard error.
    const std::regex ms(R"("ms":\d+,)");
    EXPECT_EQ(std::regex_replace(runs[1].err, ms, ""),
              std::regex_replace(ReadText(report), ms, ""));
    EXPECT_EQ(RunShell("python3 -m json.tool --json-lines '" + report + "' > /dev/null"), 0);
}

TEST_F(ReportTest, TrimmingReportsTheBorderAndTheBoxItKept) {
    // Black margins around white paper from (40, 30) to (360, 270).
    RasterImage page(400, 300, 24);
    page.Clear(0);
    for (int y = 30; y < 270; ++y)
        for (int x = 40; x < 360; ++x) page.SetPixelColor(x, 299 - y, RgbQuad{255, 255, 255, 0});
    SaveOrFail(page, dir + "/in.png");
    RunSheetmend({"-trimmargin", "-report", report, dir + "/in.png", dir + "/out.png"});
    EXPECT_EQ(Py("[d[0][\"border\"], d[0][\"crop\"], d[0][\"status\"]]"),
              "[[40, 30, 360, 270], [40, 30, 359, 269], 'ok']");
    const RasterImage out = LoadOrFail(dir + "/out.png");
    EXPECT_EQ(std::to_string(out.GetWidth()) + "x" + std::to_string(out.GetHeight()), "319x239");
}

TEST_F(ReportTest, OwnDeskewAndDespeckleReportTheAngleAndTheSpecks) {
    // Text lines turned 1.2 degrees (descending to the right), and five
    // specks of 2 x 2 pixels off the lines.
    const BitPage drawn = DrawTurned(1600, 1200, TextLineBoxes(1600, 1200, 8), 1.2 * M_PI / 180);
    RasterImage page = WhitePage(1600, 1200);
    for (int y = 0; y < 1200; ++y)
        for (int x = 0; x < 1600; ++x)
            if (drawn.Ink(x, y)) page.SetPixelIndex(x, 1199 - y, 1);
    for (int s = 0; s < 5; ++s)
        for (int k = 0; k < 4; ++k) page.SetPixelIndex(30 + 300 * s + k % 2, 1199 - 60 - k / 2, 1);
    SaveOrFail(page, dir + "/in.tif");
    RunSheetmend({"-deskew2", "-despeckle2", "-report", report, dir + "/in.tif", dir + "/out.tif"});
    EXPECT_NEAR(std::stod(Py("d[0][\"skew\"]")), 1.2, 0.1);
    EXPECT_NEAR(std::stod(Py("d[0][\"rotated\"]")), -1.2, 0.1);
    EXPECT_EQ(Py("[d[0][\"specks\"], d[0][\"operation\"], d[0][\"status\"]]"),
              "[5, 'clean', 'ok']");
    // The whole-page straightening reports the same angle, and how sure it is.
    RunSheetmend({"-straighten", "-report", report, dir + "/in.tif", dir + "/straight.tif"});
    EXPECT_NEAR(std::stod(Py("d[1][\"skew\"]")), 1.2, 0.1);
    EXPECT_NEAR(std::stod(Py("d[1][\"rotated\"]")), -1.2, 0.1);
    EXPECT_GT(std::stod(Py("d[1][\"confidence\"]")), 0.66);
}

TEST_F(ReportTest, WorkersAndProcessesKeepLinesWholeAndInListOrder) {
    DrawFolder();
    std::vector<std::string> reports;
    for (const std::string jobs : {"1", "4"}) {
        RunShell("rm -rf '" + dir + "/out' && mkdir '" + dir + "/out'");
        reports.push_back(dir + "/r" + jobs + ".jsonl");
        RunProgram("/usr/bin/env", {"SHEETMEND_JOBS=" + jobs, SheetmendBinary(), "-removelongline",
                                    "45", "-report", reports.back(), dir + "/in", dir + "/out/"});
    }
    const std::string withoutMs = "[{k: v for k, v in l.items() if k != \"ms\"} for l in d]";
    EXPECT_EQ(Py(withoutMs, reports[0]), Py(withoutMs, reports[1]));
    EXPECT_EQ(
        Py("len(d), [l[\"input\"][-7:] for l in d] == [\"p%d.png\" % (10 + i) for i in range(40)]",
           reports[1]),
        "(40, True)");
    EXPECT_EQ(Py("[i for i, l in enumerate(d) if l[\"blank\"]]", reports[1]),
              "[0, 4, 8, 12, 16, 20, 24, 28, 32, 36]");
    // A line is a box whose edges lie 45 rows apart or more: 46 rows or
    // more tall, pages 37, 38 and 39.
    EXPECT_EQ(Py("[i for i, l in enumerate(d) if l[\"lines\"]], set(l[\"lines\"] for l in d)",
                 reports[1]),
              "([37, 38, 39], {0, 1})");
    // Eight processes appending to one report.
    RunShell("cd '" + dir + "' && for i in 1 2 3 4 5 6 7 8; do mkdir o$i; SHEETMEND_JOBS=2 '" +
             SheetmendBinary() + "' -threshold 0 -report r.jsonl in o$i/ > /dev/null & done; wait");
    // Every line parses (Python stops at a torn one), and each page is
    // there once per process.
    EXPECT_EQ(Py("len(d), len(set(x[\"input\"] for x in d)), "
                 "sorted(set([y[\"input\"] for y in d].count(x[\"input\"]) for x in d))"),
              "(320, 40, [8])");
}

TEST_F(ReportTest, AReportThatCannotBeWrittenStopsTheBatchAtStart) {
    DrawFolder();
    const ProgramResult r = RunSheetmend(
        {"-threshold", "0", "-report", dir + "/none/r.jsonl", dir + "/in", dir + "/in/x.tif"});
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "[ERROR] Cannot write the report \"" + dir +
                         "/none/r.jsonl\": No such file or directory\n");
    EXPECT_FALSE(Exists(dir + "/in/p01.tif"));
}

}  // namespace
}  // namespace sheetmend::testing
