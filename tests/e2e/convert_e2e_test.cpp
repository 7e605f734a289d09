// Plain conversion, end to end.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"
#include "tests/support/stained_pages.h"

namespace sheetmend::testing {
namespace {

class Convert : public ::testing::Test {
  protected:
    ProgramResult Run(const std::vector<std::string>& args) {
        return RunSheetmend(args, dir.path());
    }
    ScratchDir dir;
};

TEST_F(Convert, ResizeKeepsProportionsByTruncation) {
    RasterImage page = DrawColourPage(2000, 1000, 96);
    SaveOrFail(page, dir.File("wide.png"));
    ASSERT_EQ(Run({"-width", "500", "wide.png", "w.png"}).status, 1);
    RasterImage w = LoadOrFail(dir.File("w.png"));
    EXPECT_EQ(w.GetWidth(), 500u);
    EXPECT_EQ(w.GetHeight(), 250u);
    ASSERT_EQ(Run({"-height", "333", "wide.png", "h.png"}).status, 1);
    RasterImage h = LoadOrFail(dir.File("h.png"));
    EXPECT_EQ(h.GetWidth(), 666u);
    EXPECT_EQ(h.GetHeight(), 333u);
    ASSERT_EQ(Run({"-width", "30", "-height", "7", "wide.png", "b.png"}).status, 1);
    EXPECT_EQ(LoadOrFail(dir.File("b.png")).GetHeight(), 7u);
}

TEST_F(Convert, AutomaticThresholdKeepsTheResolution) {
    RasterImage page = DrawColourPage(64, 48, 300);
    SaveOrFail(page, dir.File("colour.png"));
    ProgramResult r = Run({"-threshold", "0", "colour.png", "bw.png"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.out.find("[Message] OptimalThreshold="), std::string::npos) << r.out;
    RasterImage bw = LoadOrFail(dir.File("bw.png"));
    EXPECT_EQ(bw.GetBpp(), 1u);
    EXPECT_EQ(bw.GetXDpi(), 300);
    // The dark rectangle is black, the white paper white, the grey band (128) white or black
    // depending on the level, but the rectangle and the paper are never the same.
    EXPECT_NE(bw.GetPixelColor(32, 24, false).red, bw.GetPixelColor(2, 40, false).red);
}

TEST_F(Convert, FixedThresholdWinsOverDitherAndResetsResolution) {
    RasterImage page = DrawColourPage(64, 48, 300);
    SaveOrFail(page, dir.File("colour.png"));
    ASSERT_EQ(Run({"-threshold", "128", "-dither", "0", "colour.png", "t.png"}).status, 1);
    RasterImage t = LoadOrFail(dir.File("t.png"));
    ASSERT_EQ(t.GetBpp(), 1u);
    EXPECT_EQ(t.GetXDpi(), 96);
    // Grey 128 is not above 128: black; white paper: white; a dithered 128 band would mix.
    for (int x = 0; x < 64; ++x) EXPECT_EQ(t.GetPixelColor(x, 0, false).red, 0) << x;
    EXPECT_EQ(t.GetPixelColor(2, 40, false).red, 255);
}

TEST_F(Convert, BitDepthChanges) {
    RasterImage bitonal = DrawBitonalPage(50, 40);
    SaveOrFail(bitonal, dir.File("bw.png"));
    ASSERT_EQ(Run({"-bitcount", "8", "bw.png", "eight.png"}).status, 1);
    EXPECT_EQ(LoadOrFail(dir.File("eight.png")).GetBpp(), 8u);

    ProgramResult r = Run({"-bitcount", "2", "bw.png", "two.png"});
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(Exists(dir.File("two.png")));

    ASSERT_EQ(Run({"-flip", "bw.png", "bw.jpg"}).status, 1);
    EXPECT_EQ(LoadOrFail(dir.File("bw.jpg")).GetBpp(), 24u);
}

TEST_F(Convert, TiffCompressionFollowsTheDepth) {
    RasterImage bitonal = DrawBitonalPage(50, 40);
    SaveOrFail(bitonal, dir.File("bw.png"));
    ASSERT_EQ(Run({"-flip", "bw.png", "g4.tif"}).status, 1);
    std::string info;
    RunShell("tiffinfo '" + dir.File("g4.tif") + "' 2>&1", &info);
    EXPECT_NE(info.find("CCITT Group 4"), std::string::npos) << info;

    ASSERT_EQ(Run({"-bitcount", "8", "bw.png", "eight.tif"}).status, 1);
    RunShell("tiffinfo '" + dir.File("eight.tif") + "' 2>&1", &info);
    EXPECT_NE(info.find("PackBits"), std::string::npos) << info;
}

TEST_F(Convert, ErrorMessagesNameTheFile) {
    RasterImage page = DrawColourPage(8, 8);
    SaveOrFail(page, dir.File("p.png"));
    ASSERT_TRUE(WriteFileBytes(dir.File("notes.txt"), {'h', 'i'}));
    ProgramResult r = Run({"-flip", "notes.txt", "o.png"});
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1, r.out.find("[Message]") - r.out.find('\n') - 1),
              "[ERROR] \"" + dir.File("notes.txt") + "\" is not a valid input image file.\n");
    // A PDF is read like any input: one that is not a document says so by name.
    ASSERT_TRUE(WriteFileBytes(dir.File("in.pdf"), {'%', 'P', 'D', 'F'}));
    r = Run({"-flip", "in.pdf", "o.png"});
    EXPECT_NE(r.out.find("[ERROR] Failed to load \"" + dir.File("in.pdf") + "\" file.\n"),
              std::string::npos)
        << r.out;
    r = Run({"-flip", "p.png", "o.txt"});
    EXPECT_NE(
        r.out.find("[ERROR] \"" + dir.File("o.txt") + "\" is not a valid output image file.\n"),
        std::string::npos);
    r = Run({"-flip", "p.png", "o.pbm"});
    EXPECT_NE(r.out.find("'" + dir.File("o.pbm") + "' is an unknown image format.\n"),
              std::string::npos);
    EXPECT_EQ(r.status, 0);
}

TEST_F(Convert, CorruptInputFailsAndTheBatchGoesOn) {
    ASSERT_EQ(mkdir(dir.File("in").c_str(), 0755), 0);
    RasterImage page = DrawColourPage(8, 8);
    SaveOrFail(page, dir.File("in/b.png"));
    ASSERT_TRUE(WriteFileBytes(dir.File("in/a.png"), {0x89, 'P', 'N', 'G', 1, 2, 3}));
    ProgramResult r = Run({"-flip", "in/*.png", "out.png"});
    EXPECT_NE(r.out.find("[ERROR] Failed to load \"in/a.png\" file.\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.status, 1);  // the last pair succeeded
    // The output pattern gives folder and extension; each output is named after its input.
    EXPECT_FALSE(Exists(dir.File("a.png")));
    EXPECT_TRUE(Exists(dir.File("b.png")));
}

TEST_F(Convert, BrokenFilesAndOddNamesNeverCrash) {
    ASSERT_TRUE(WriteFileBytes(dir.File("empty.tif"), {}));
    RasterImage page = DrawColourPage(30, 20);
    SaveOrFail(page, dir.File("whole.tif"));
    auto bytes = ReadFileBytes(dir.File("whole.tif"));
    bytes.resize(bytes.size() / 2);
    ASSERT_TRUE(WriteFileBytes(dir.File("half.tif"), bytes));
    ASSERT_EQ(mkdir(dir.File("folder.png").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo(dir.File("pipe.png").c_str(), 0644), 0);
    for (const char* name : {"empty.tif", "half.tif", "pipe.png"}) {
        ProgramResult r = Run({"-flip", name, "o.png"});
        EXPECT_EQ(r.status, 0) << name << r.out << r.err;
        EXPECT_NE(r.out.find("[ERROR] Failed to load"), std::string::npos) << name << r.out;
    }
    // A file the user may not read: as root, run the program as nobody so the
    // permission applies.
    SaveOrFail(page, dir.File("secret.png"));
    ASSERT_EQ(chmod(dir.File("secret.png").c_str(), 0), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    ProgramResult locked =
        geteuid() == 0
            ? RunProgram("/usr/bin/setpriv",
                         {"--reuid=65534", "--regid=65534", "--clear-groups", SheetmendBinary(),
                          "-flip", dir.File("secret.png"), dir.File("o.png")})
            : Run({"-flip", "secret.png", "o.png"});
    EXPECT_EQ(locked.status, 0) << locked.out << locked.err;
    EXPECT_NE(locked.out.find("[ERROR] Cannot open \"" + dir.File("secret.png") +
                              "\": Permission denied\n"),
              std::string::npos)
        << locked.out << locked.err;
    // A name that is not there says so, and the file counts as failed.
    ProgramResult missing = Run({"-flip", "missing.png", "o.png"});
    EXPECT_EQ(missing.status, 0);
    EXPECT_NE(missing.out.find("[ERROR] Cannot open \"missing.png\": No such file or directory\n"),
              std::string::npos)
        << missing.out;

    // A folder named like an image is a folder: its files (none here) are the batch.
    EXPECT_EQ(Run({"-flip", "folder.png", "o.png"}).status, 254);
    // Names that a shell would treat specially reach the program as they are.
    const std::string odd = "a b 'q' \"d\" $(touch pwned) `touch pwned2`; é.png";
    SaveOrFail(page, dir.File(odd));
    ProgramResult r = Run({"-flip", odd, "out " + odd});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_TRUE(Exists(dir.File("out " + odd)));
    EXPECT_FALSE(Exists(dir.File("pwned")));
    EXPECT_FALSE(Exists(dir.File("pwned2")));
}

// -adaptive and -flatten on the drawn page lit by a gradient
// (tests/support/stained_pages.h), measured against its drawn ink.
TEST_F(Convert, LocalThresholdAndFlatteningReachTheBlackAndWhitePaths) {
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
        const ProgramResult r = Run(c.args);
        const RasterImage out = LoadOrFail(dir.File(c.args.back()));
        const double f = out.GetBpp() == 1 ? InkFMeasure(out, page.ink) : 0;
        EXPECT_TRUE(f >= c.minF && f <= c.maxF) << f << " " << c.args.back() << r.out << r.err;
        EXPECT_EQ(out.GetBpp(), c.maxF > 0 ? 1u : 24u);
        EXPECT_EQ(GreyMeanAndSpread(out, page.paper).first > 250, c.whitePaper) << c.args.back();
    }
    Run({"-adaptive", "page.png", "none.png"});
    EXPECT_FALSE(Exists(dir.File("none.png"))) << "-adaptive alone selects no operation";
}

}  // namespace
}  // namespace sheetmend::testing
