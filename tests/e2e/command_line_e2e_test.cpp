// The program's command line and batches, run as a user would.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"

namespace sheetmend::testing {
namespace {

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        RasterImage page = DrawColourPage(40, 30);
        SaveOrFail(page, dir.File("page.png"));
    }
    ScratchDir dir;
};

TEST_F(CommandLine, HelpVersionAndBadLinesEndWith254) {
    for (auto args : std::vector<std::vector<std::string>>{{"-h"},
                                                           {"-v"},
                                                           {"--help", "a.png"},
                                                           {},
                                                           {"a", "b", "c"},
                                                           {"-fuzz", "1e", "page.png"},
                                                           {"page.png", "-lang"}}) {
        ProgramResult r = RunSheetmend(args, dir.path());
        EXPECT_EQ(r.status, 254);
        EXPECT_NE(r.out.find("Usage: sheetmend [options] <in-file> [<out-file>]"), std::string::npos);
    }
}

TEST_F(CommandLine, OptionsAnywhereAndTheDefaultOutput) {
    ProgramResult r = RunSheetmend({"page.png", "-bitcount", "8"}, dir.path());
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(r.out.rfind(dir.File("page.png") + " ==> " + dir.File("page.png") + "\n", 0), 0u) << r.out;
    EXPECT_TRUE(Exists(dir.File("page000.png")));  // page.png exists: numbered name
    EXPECT_EQ(LoadOrFail(dir.File("page000.png")).GetBpp(), 8u);

    r = RunSheetmend({"-fuzz", "1e2", "page.png", "out.png", "-flip"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Exists(dir.File("out.png")));
}

TEST_F(CommandLine, NegativeThresholdSelectsNothing) {
    ProgramResult r = RunSheetmend({"-threshold", "-5", "page.png", "t.png"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(Exists(dir.File("t.png")));
    EXPECT_EQ(TimingLines(r.out), 1);
}

TEST_F(CommandLine, DoubleDashAndUnknownWordsArePaths) {
    ProgramResult r = RunSheetmend({"-flip", "--", "-ocr", "page.png"}, dir.path());
    EXPECT_EQ(r.status, 0);  // "-ocr" is no file
    EXPECT_EQ(r.out.rfind("-ocr ==> " + dir.File("page.png") + "\n", 0), 0u) << r.out;

    r = RunSheetmend({"-Width", "page.png"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("-Width ==> ", 0), 0u) << r.out;
}

TEST_F(CommandLine, LongTrimColourIsCutAndLongPathsAreRefused) {
    ProgramResult r = RunSheetmend({"-trimcolor", std::string(2000, 'F'), "-flip", "page.png", "x.png"}, dir.path());
    EXPECT_EQ(r.status, 1) << r.out;
    r = RunSheetmend({std::string(2100, 'p')}, dir.path());
    EXPECT_EQ(r.status, 254);
    EXPECT_NE(r.out.find("[ERROR] The input path is longer than 2047 characters."), std::string::npos);
}

TEST_F(CommandLine, TimingLineFormat) {
    ProgramResult r = RunSheetmend({"-mirror", "page.png", "m.png"}, dir.path());
    EXPECT_EQ(TimingLines(r.out), 1) << r.out;
}

// --- batches ----------------------------------------------------------------

class Batch : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(mkdir(dir.File("in").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(dir.File("out").c_str(), 0755), 0);
        RasterImage page = DrawColourPage(20, 10);
        for (const char* name : {"c.png", "a.png", "b.png"}) SaveOrFail(page, dir.File("in/") + name);
        ASSERT_EQ(mkdir(dir.File("in/sub.png").c_str(), 0755), 0);  // a directory is never a pair
    }
    ScratchDir dir;
};

TEST_F(Batch, DirectoryToDirectoryNamesOutputsPdf) {
    ProgramResult r = RunSheetmend({"-flip", dir.File("in"), dir.File("out")});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    const std::string expected = dir.File("in/a.png") + " ==> " + dir.File("out/a.pdf") + "\n[Message] Total used ";
    EXPECT_EQ(r.out.rfind(expected, 0), 0u) << r.out;
    for (const char* name : {"a.pdf", "b.pdf", "c.pdf"}) EXPECT_TRUE(Exists(dir.File("out/") + name)) << name;
    EXPECT_NE(r.out.find(dir.File("in/b.png") + " ==> "), std::string::npos);
    EXPECT_LT(r.out.find("b.png ==> "), r.out.find("c.png ==> "));  // name order
    EXPECT_EQ(TimingLines(r.out), 3);
}

TEST_F(Batch, OutputSpecWithExtensionAndWildcard) {
    ProgramResult r = RunSheetmend({"-flip", dir.File("in/*.png"), dir.File("out/x.bmp")});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) EXPECT_TRUE(Exists(dir.File("out/") + name)) << name;
}

TEST_F(Batch, SkipAndNumberedNames) {
    RasterImage page = DrawColourPage(20, 10);
    SaveOrFail(page, dir.File("out/a.png"));
    ProgramResult r = RunSheetmend({"-skip", "-flip", dir.File("in/a.png"), dir.File("out/a.png")});
    EXPECT_EQ(r.out, "[skip] " + dir.File("in/a.png") + " ==> " + dir.File("out/a.png") + "\n");
    EXPECT_EQ(r.status, 0);

    r = RunSheetmend({"-flip", dir.File("in/a.png"), dir.File("out/a.png")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Exists(dir.File("out/a000.png")));
    r = RunSheetmend({"-flip", dir.File("in/a.png"), dir.File("out/a.png")});
    EXPECT_TRUE(Exists(dir.File("out/a001.png")));
}

TEST_F(Batch, WildcardMatchingNothingPrintsNothing) {
    ProgramResult r = RunSheetmend({"-flip", dir.File("in/*.tif")});
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.out, "");
    r = RunSheetmend({"-flip", dir.File("in/sub.png")});  // an empty directory
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.out, "");
}

TEST_F(Batch, SameFileInAndOutWorksOnACopy) {
    const auto before = ReadFileBytes(dir.File("in/a.png"));
    ProgramResult r = RunSheetmend({"-flip", dir.File("in/a.png"), dir.File("in/a.png")});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(ReadFileBytes(dir.File("in/a.png")), before);
    EXPECT_TRUE(Exists(dir.File("in/a000.png")));
}

}  // namespace
}  // namespace sheetmend::testing
