// Finding and starting the OCR engine, with stand-in engines written here as
// shell scripts that report what they were given.
#include "ocr/engine_runner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/support/external_tools.h"
#include "tests/support/run_program.h"

namespace sheetmend::ocr {
namespace {

using sheetmend::testing::ScratchDir;

void WriteScript(const std::string& path, const std::string& body) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string text = "#!/bin/sh\n" + body;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    chmod(path.c_str(), 0755);
}

std::string Captured(const std::function<void()>& f) {
    ::testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
}

// The order of the names is checked end to end; here, that a folder by an
// engine's name is passed over for a later file.
TEST(FindOcrEngineTest, AFolderIsNoEngine) {
    ScratchDir dir;
    mkdir(dir.File("Qtess.dll").c_str(), 0755);
    EXPECT_EQ(Captured([&] { EXPECT_EQ(FindOcrEngine(dir.path() + "/"), ""); }),
              "[ERROR] Sorry, I can't find OCR application.\n");
    testing::WriteFileBytes(dir.File("ocrsdk.dll"), {'x'});
    EXPECT_EQ(Captured([&] { EXPECT_EQ(FindOcrEngine(dir.path() + "/"), dir.File("ocrsdk.dll")); }),
              "");
}

TEST(FileExistsTest, NeedsAReadableFile) {
    ScratchDir dir;
    testing::WriteFileBytes(dir.File("f"), {});
    testing::WriteFileBytes(dir.File("locked"), {'x'});
    chmod(dir.File("locked").c_str(), 0);
    EXPECT_EQ(FileExists(dir.File("f")), 1);  // empty, but there
    EXPECT_EQ(FileExists(""), 0);
    EXPECT_EQ(FileExists(dir.File("none")), 0);
    EXPECT_EQ(FileExists(dir.path()), 0);
    if (geteuid() != 0) {  // root reads anything
        EXPECT_EQ(FileExists(dir.File("locked")), 0);
    }
}

TEST(EngineCommandLineTest, WrittenForTheInterpreterAndReadBackWhole) {
    EXPECT_EQ(
        EngineCommandLine("/opt/sm/ocr.exe", "/in/page one.png", "/tmp/q/qrvx1.tmp", "-l eng HOCR"),
        "\"\"/opt/sm/ocr.exe\" \"/in/page one.png\" \"/tmp/q/qrvx1.tmp\" -l eng HOCR > nul\"");
    EXPECT_EQ(EngineCommandLine("/e", "/i", "/o", ""), "\"\"/e\" \"/i\" \"/o\" HOCR > nul\"");

    // Read as the interpreter reads it, the line gives the same arguments.
    const std::string line =
        EngineCommandLine("/opt/sm/ocr.exe", "/in/a b.png", "/t/o", "-l deu HOCR");
    const InterpreterLine read = ReadInterpreterLine(line);
    EXPECT_TRUE(read.discardStandardOutput);
    const std::vector<std::string> expected = {
        "/opt/sm/ocr.exe", "/in/a b.png", "/t/o", "-l", "deu", "HOCR"};
    EXPECT_EQ(SplitCommandLine(read.commandLine), expected);
    EXPECT_EQ(EngineArguments("/opt/sm/ocr.exe", "/in/a b.png", "/t/o", "-l deu HOCR"), expected);

    // Quotes, backslashes and shell syntax stay inside their argument.
    for (const std::string& name :
         {std::string("/in/it's \"a\" $(touch x) `y`; z.png"), std::string("/in/odd\"quote.png"),
          std::string("/in/back\\slash\\"), std::string("/in/tab\there")}) {
        const std::vector<std::string> args = EngineArguments("/e", name, "/o \"x\"", "HOCR");
        ASSERT_EQ(args.size(), 4u) << name;
        EXPECT_EQ(args[1], name);
        EXPECT_EQ(args[2], "/o \"x\"");
    }
}

// Arguments and hostile names are checked end to end; here, that the data
// folder reaches the engine through its own environment only, that its
// standard output is thrown away, and the timing line.
TEST(RunOcrEngineTest, DataFolderGoesToTheEngineAlone) {
    ScratchDir dir;
    unsetenv("TESSDATA_PREFIX");
    const std::string engine = dir.File("ocr.exe");
    WriteScript(engine, "printf '%s|%s' \"$TESSDATA_PREFIX\" \"$*\" > \"" + dir.File("seen") +
                            "\"\necho this goes nowhere\n");
    const std::string out = Captured([&] { RunOcrEngine(engine, "/i", "/o", "", dir.path()); });
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        out, m, std::regex(R"(\[Message\] OCR processing takes (\d+)ms \((\d+\.\d\d)s\)\n)")))
        << out;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", std::stol(m[1]) * 0.001);
    EXPECT_EQ(m[2].str(), seconds);
    EXPECT_EQ(testing::ReadText(dir.File("seen")), dir.path() + "/|/i /o HOCR");
    EXPECT_EQ(std::getenv("TESSDATA_PREFIX"), nullptr);

    // A missing engine still gets its timing line.
    EXPECT_EQ(Captured([&] {
                  RunOcrEngine(dir.File("none"), "/i", "/o", "", dir.path());
              }).rfind("[Message] OCR processing takes ", 0),
              0u);
}

}  // namespace
}  // namespace sheetmend::ocr
