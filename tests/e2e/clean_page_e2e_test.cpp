// The program's own deskew and despeckle, end to end on drawn pages.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/e2e/e2e_support.h"
#include "tests/support/text_page.h"

namespace sheetmend::testing {
namespace {

void SavePage(const BitPage& page, const std::string& path) {
    RasterImage img = BitPageImage(page);
    SaveOrFail(img, path);
}

class CleanPageRun : public ::testing::Test {
  protected:
    ProgramResult Run(const std::vector<std::string>& args) {
        return RunSheetmend(args, dir.path());
    }
    static bool Has(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }
    ScratchDir dir;
};

// A grey page of text blocks and specks: "-despeckle2" alone saves it black
// and white without the specks, and the pair counts as not done (status 0).
TEST_F(CleanPageRun, DespeckleAloneGivesTheThresholdedPageWithoutSpecks) {
    const int32_t W = 500, H = 300;
    RasterImage grey(W, H, 8);
    grey.SetGrayPalette();
    grey.Clear(255);
    BitPage text(W, H), specks(W, H);
    for (int32_t x = 40; x + 20 < W - 40; x += 26)
        text.Fill(x, 60, 20, 30), text.Fill(x, 160, 20, 30);
    for (int32_t i = 0; i < 40; ++i)
        specks.Fill(30 + (i * 71) % 440, 110 + (i * 13) % 40, 1 + i % 3, 1 + i % 2);
    specks.Fill(100, 230, 4, 5);
    specks.Set(102, 232, false);  // 19 pixels
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            if (text.Ink(x, y) || specks.Ink(x, y))
                grey.RowPtr(static_cast<uint32_t>(H - 1 - y))[x] = 0;
    SaveOrFail(grey, dir.File("grey.png"));

    ProgramResult r = Run({"-despeckle2", "grey.png", "clean.png"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "[Message] OptimalThreshold=")) << r.out;
    EXPECT_EQ(TimingLines(r.out), 1);
    RasterImage out = LoadOrFail(dir.File("clean.png"));
    EXPECT_EQ(out.GetBpp(), 1u);
    EXPECT_EQ(InkOfImage(out).bits, text.bits);
}

// The speckle size: a dot of 6 x 5 (30 pixels) stays at the default 20 and
// goes at 40; a stroke 1 x 12 (extent 10 without its first pixel) stays up
// to size 21 and goes from 22 on; without -despeckle2 the size alone
// selects nothing.
TEST_F(CleanPageRun, SpeckleSizeOption) {
    BitPage page(200, 100);
    page.Fill(50, 50, 6, 5);
    page.Fill(120, 50, 12, 1);
    SavePage(page, dir.File("dots.png"));
    struct Case {
        std::vector<std::string> args;
        bool dot, stroke;
    } cases[] = {
        {{"-despeckle2", "dots.png", "a.png"}, true, true},
        {{"-despeckle2", "-specklesize", "0", "dots.png", "b.png"}, true, true},
        {{"-despeckle2", "-specklesize", "40", "dots.png", "c.png"}, false, false},
        {{"-despeckle2", "-specklesize", "21", "dots.png", "d.png"}, true, true},
        {{"-despeckle2", "-specklesize", "22", "dots.png", "e.png"}, true, false},
    };
    for (const Case& c : cases) {
        ProgramResult r = Run(c.args);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        const BitPage out = InkOfImage(LoadOrFail(dir.File(c.args.back())));
        EXPECT_EQ(out.Ink(52, 52), c.dot) << c.args.back();
        EXPECT_EQ(out.Ink(125, 50), c.stroke) << c.args.back();
    }
    ProgramResult r = Run({"-specklesize", "40", "dots.png", "f.png"});
    EXPECT_FALSE(Exists(dir.File("f.png"))) << r.out;
}

// Text lines turned by 1 degree (0.01745 radians) are turned back: the
// projection profile of the saved page finds them level within 0.1 degree.
// With -despeckle2 too, the specks are gone as well.
TEST_F(CleanPageRun, DeskewTurnsOneDegreeBack) {
    const int32_t W = 1700, H = 1100;
    BitPage page = DrawTurned(W, H, TextLineBoxes(W, H, 8), 1.0 * kDegree);
    const std::vector<std::pair<int32_t, int32_t>> specks = {
        {60, 40}, {1650, 1000}, {900, 1050}, {30, 600}};
    for (const auto& [x, y] : specks) page.Fill(x, y, 2, 2);
    ASSERT_NEAR(ProjectionSkew(page) / kDegree, 1.0, 0.05);  // the measure itself
    SavePage(page, dir.File("skewed.tif"));

    for (bool despeckle : {false, true}) {
        SCOPED_TRACE(despeckle);
        std::vector<std::string> args = {"-deskew2", "skewed.tif",
                                         despeckle ? "both.png" : "deskewed.png"};
        if (despeckle) args.insert(args.begin(), "-despeckle2");
        ProgramResult r = Run(args);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_FALSE(Has(r.out, "OptimalThreshold")) << r.out;  // already black and white
        const BitPage out = InkOfImage(LoadOrFail(dir.File(args.back())));
        ASSERT_EQ(out.width, W);
        ASSERT_EQ(out.height, H);
        EXPECT_LE(std::fabs(ProjectionSkew(out) / kDegree), 0.1);
        // Turning keeps the ink but for the pixels two sources share.
        EXPECT_NEAR(static_cast<double>(out.InkCount()), static_cast<double>(page.InkCount()),
                    0.03 * page.InkCount());
        // Specks turn with the page (by up to 17 pixels here) or are gone.
        for (const auto& [x, y] : specks) {
            bool near = false;
            for (int32_t dy = -20; dy <= 20; ++dy)
                for (int32_t dx = -20; dx <= 20; ++dx)
                    if (x + dx >= 0 && y + dy >= 0 && x + dx < W && y + dy < H)
                        near |= out.Ink(x + dx, y + dy);
            EXPECT_EQ(near, !despeckle) << x << "," << y;
        }
    }
}

// Pages that must come out as they went in: lines turned by 4 degrees
// (beyond 0.05 radians), level lines, and a page without text.
TEST_F(CleanPageRun, PagesSavedUnturned) {
    BitPage picture(600, 500);
    picture.Fill(100, 100, 300, 250);
    for (int32_t x = 20; x < 580; ++x) picture.Set(x, 30);
    struct Case {
        const char* name;
        BitPage page;
    } cases[] = {
        {"turned4.png", DrawTurned(1700, 1100, TextLineBoxes(1700, 1100, 8), 4.0 * kDegree)},
        {"level.png", DrawTurned(1700, 1100, TextLineBoxes(1700, 1100, 8), 0)},
        {"picture.png", picture},
        {"blank.png", BitPage(300, 200)},
    };
    for (const Case& c : cases) {
        SavePage(c.page, dir.File(c.name));
        ProgramResult r = Run({"-deskew2", c.name, std::string("out-") + c.name});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(InkOfImage(LoadOrFail(dir.File(std::string("out-") + c.name))).bits, c.page.bits)
            << c.name;
    }
}

TEST_F(CleanPageRun, UnreadableInputIsReportedAndNothingIsWritten) {
    std::ofstream(dir.File("bad.png")) << "not an image at all";
    ProgramResult r = Run({"-deskew2", "-despeckle2", "bad.png", "out.png"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Has(r.out, "[ERROR] Failed to load \"" + dir.File("bad.png") + "\" file.\n"))
        << r.out;
    EXPECT_FALSE(Exists(dir.File("out.png")));
}

}  // namespace
}  // namespace sheetmend::testing
