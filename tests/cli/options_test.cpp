#include "cli/options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "platform/paths.h"

namespace sheetmend {
namespace {

struct Parsed {
    int32_t result;
    ToolOptions options;
    std::string printed;
};

Parsed Parse(std::vector<std::string> words) {
    words.insert(words.begin(), "/opt/tools/sheetmend");
    Parsed p;
    SetDefaultOptions(p.options);
    ::testing::internal::CaptureStdout();
    p.result = ParseCommandLine(p.options, words);
    p.printed = ::testing::internal::GetCapturedStdout();
    return p;
}

TEST(IsIntegerText, SignsDigitsAndTheEmptyText) {
    for (const char* ok : {"0", "-5", "+12", "", "+", "-", "007"}) EXPECT_TRUE(IsIntegerText(ok)) << ok;
    for (const char* bad : {"1.5", "abc", "5x", "--5", " 5", "1e3"}) EXPECT_FALSE(IsIntegerText(bad)) << bad;
}

TEST(IsNumberText, DecimalsExponentsAndDigitlessTexts) {
    for (const char* ok : {"1", "-2.5", ".5", "5.", "1e2", "1E+2", "-3.5e-7", ".", "-", "+", ""})
        EXPECT_TRUE(IsNumberText(ok)) << ok;
    for (const char* bad : {"1e", "1e+", "e5", "-.e5", "1.2.3", "12a", "1e2x", "0x10"})
        EXPECT_FALSE(IsNumberText(bad)) << bad;
}

TEST(ParseCommandLine, OptionsMayFollowPositionalWords) {
    Parsed p = Parse({"in.tif", "out.png", "-bitcount", "1"});
    ASSERT_EQ(p.result, 1) << p.printed;
    EXPECT_EQ(p.options.bitcount, 1);
    EXPECT_EQ(p.options.inputPath, "in.tif");  // does not exist: kept as given
    EXPECT_EQ(p.options.outputPath, AbsolutePath("out.png"));
    EXPECT_EQ(p.printed, "");
}

TEST(ParseCommandLine, SignedAndFloatingValues) {
    Parsed p = Parse({"-threshold", "-5", "-fuzz", "1e2", "-skewrange", "2.5", "in.tif"});
    ASSERT_EQ(p.result, 1);
    EXPECT_EQ(p.options.threshold, -5);
    EXPECT_DOUBLE_EQ(p.options.fuzz, 100.0);
    EXPECT_DOUBLE_EQ(p.options.skewrange, 2.5);
    // Untouched fields keep their defaults.
    EXPECT_EQ(p.options.dither, -1);
    EXPECT_EQ(p.options.removelongline, -1);

    // A huge number saturates instead of wrapping.
    EXPECT_EQ(Parse({"-width", "99999999999", "in.tif"}).options.width, INT32_MAX);
}

TEST(ParseCommandLine, BadValuesPrintTheAboutText) {
    for (auto words : std::vector<std::vector<std::string>>{
             {"-fuzz", "1e", "in.tif"}, {"in.tif", "-lang"}, {"-width", "abc", "in.tif"}, {}, {"a", "b", "c"}}) {
        Parsed p = Parse(words);
        EXPECT_EQ(p.result, 0);
        EXPECT_NE(p.printed.find("Product Name: Quorvex Sheetmend Command Line\n"), std::string::npos);
    }
    for (const char* word : {"-v", "-h", "-help", "--help", "-?"}) {
        Parsed p = Parse({word, "in.tif"});
        EXPECT_EQ(p.result, 0) << word;
        EXPECT_NE(p.printed.find("Usage: sheetmend [options] <in-file> [<out-file>]"), std::string::npos);
    }
}

TEST(ParseCommandLine, DoubleDashEndsOptions) {
    Parsed p = Parse({"--", "-ocr", "in.tif"});
    ASSERT_EQ(p.result, 1);
    EXPECT_EQ(p.options.ocr, 0);
    EXPECT_EQ(p.options.inputPath, "-ocr");
    EXPECT_EQ(p.options.outputPath, AbsolutePath("in.tif"));
}

TEST(ParseCommandLine, CaseMattersAndUnknownWordsArePositional) {
    Parsed p = Parse({"-Width", "in.tif"});
    ASSERT_EQ(p.result, 1);
    EXPECT_EQ(p.options.width, 0);
    EXPECT_EQ(p.options.inputPath, "-Width");
    // A rejected value stays behind as a positional word: three of them here.
    EXPECT_EQ(Parse({"-width", "abc", "in.tif"}).result, 0);
}

TEST(ParseCommandLine, DefaultOutputAndAbsoluteInput) {
    char tmpl[] = "/tmp/sheetmend-parse-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string file = dir + "/page.tif";
    FILE* f = std::fopen(file.c_str(), "w");
    std::fclose(f);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    Parsed p = Parse({"page.tif"});
    ASSERT_EQ(chdir(cwd), 0);
    ASSERT_EQ(p.result, 1);
    EXPECT_EQ(p.options.inputPath, file);
    EXPECT_EQ(p.options.outputPath, dir + "/page.png");
    std::remove(file.c_str());
    rmdir(dir.c_str());
}

TEST(ParseCommandLine, TextValuesAreCutAndOverlongPathsRefused) {
    Parsed p = Parse({"-trimcolor", std::string(2000, 'F'), "-lang", std::string(300, 'e'), "in.tif"});
    ASSERT_EQ(p.result, 1);
    EXPECT_EQ(p.options.trimcolor.size(), 1023u);
    EXPECT_EQ(p.options.lang.size(), 199u);

    Parsed longInput = Parse({std::string(2048, 'a')});
    EXPECT_EQ(longInput.result, 0);
    EXPECT_NE(longInput.printed.find("[ERROR] The input path is longer than 2047 characters."), std::string::npos);
    Parsed longOutput = Parse({"in.tif", std::string(3000, 'b')});
    EXPECT_EQ(longOutput.result, 0);
    EXPECT_EQ(Parse({std::string(2047, 'a')}).result, 1);
}

TEST(PrintUsage, HelpTextsStartInOneColumn) {
    ToolOptions options;
    OptionTable table = BuildOptionTable(options);
    ::testing::internal::CaptureStdout();
    PrintUsage("prog", "<x>", table);
    const std::string out = ::testing::internal::GetCapturedStdout();
    std::istringstream lines(out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "Usage: prog [options] <x>");
    int optionLines = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("  -", 0) != 0) continue;  // continuation lines of multi-line help texts
        ++optionLines;
        EXPECT_EQ(line.find(": "), 2u + 16u + 9u) << line;
    }
    EXPECT_EQ(optionLines, static_cast<int>(table.size()));
    EXPECT_NE(out.find("  -skewrange <fp>"), std::string::npos);
    EXPECT_NE(out.find("  -trimcolor <string>"), std::string::npos);
    EXPECT_NE(out.find("  -dither <int>            : Convert the color image to B&W using the desired "
                       "method:\n\t\t-dither 0: Floyd-Steinberg\n"),
              std::string::npos);
}

TEST(PrintAbout, ListsEveryExampleWithTheProgramName) {
    ToolOptions options;
    OptionTable table = BuildOptionTable(options);
    ::testing::internal::CaptureStdout();
    PrintAbout(table, "sm");
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("Product Name: Quorvex Sheetmend Command Line\nProduct Web Page: ", 0), 0u);
    EXPECT_NE(out.find("/app/sheetmend/\nRelease Date: " __DATE__ "\nWeb: "), std::string::npos);
    EXPECT_NE(out.find("7. OCR Scanned Image files to text files\nUsage: sm [options]"), std::string::npos);
    EXPECT_NE(out.find("\nExample:\n   sm -removeshortline 5 X:\\test_despeckle.tif D:\\out.png\n"),
              std::string::npos);
    const std::string last = "   sm -layout D:\\out009.png D:\\out.png\n";
    EXPECT_EQ(out.substr(out.size() - last.size()), last);
    size_t examples = 0;
    for (size_t at = out.find("\n   sm -"); at != std::string::npos; at = out.find("\n   sm -", at + 1)) ++examples;
    EXPECT_EQ(examples, 27u);
}

}  // namespace
}  // namespace sheetmend
