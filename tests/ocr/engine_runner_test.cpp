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

TEST(FindOcrEngineTest, NamesWinInTheirOrder) {
    const std::vector<std::string> all = {"Qtess.dll", "ocr.exe", "ocrsdk.exe", "ocrsdk.dll"};
    // Take the engines away from the front one by one: the next one wins.
    ScratchDir dir;
    for (const std::string& name : all) testing::WriteFileBytes(dir.File(name), {'x'});
    for (size_t i = 0; i < all.size(); ++i) {
        std::string found;
        const std::string out = Captured([&] { found = FindOcrEngine(dir.path() + "/"); });
        EXPECT_EQ(found, dir.File(all[i]));
        EXPECT_EQ(out, "");
        std::remove(dir.File(all[i]).c_str());
    }
    std::string found = "unset";
    EXPECT_EQ(Captured([&] { found = FindOcrEngine(dir.path() + "/"); }),
              "[ERROR] Sorry, I can't find OCR application.\n");
    EXPECT_EQ(found, "");

    // A folder by an engine's name is no engine; a later file still is.
    mkdir(dir.File("Qtess.dll").c_str(), 0755);
    testing::WriteFileBytes(dir.File("ocrsdk.dll"), {'x'});
    EXPECT_EQ(FindOcrEngine(dir.path() + "/"), dir.File("ocrsdk.dll"));
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

TEST(RunOcrEngineTest, EngineGetsItsArgumentsAndDataFolderAlone) {
    ScratchDir dir;
    unsetenv("TESSDATA_PREFIX");
    const std::string engine = dir.File("ocr.exe");
    WriteScript(engine, "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" + dir.File("args") +
                            "\"\n"
                            "printf '%s' \"$TESSDATA_PREFIX\" > \"" +
                            dir.File("prefix") +
                            "\"\n"
                            "echo this goes nowhere\n");
    const std::string input = dir.File("my \"page\" $(touch pwned).png");
    const std::string out =
        Captured([&] { RunOcrEngine(engine, input, dir.File("base"), "-l deu HOCR", dir.path()); });
    std::smatch m;
    ASSERT_TRUE(std::regex_match(
        out, m, std::regex(R"(\[Message\] OCR processing takes (\d+)ms \((\d+\.\d\d)s\)\n)")))
        << out;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", std::stol(m[1]) * 0.001);
    EXPECT_EQ(m[2].str(), seconds);
    EXPECT_EQ(testing::ReadText(dir.File("args")),
              input + "\n" + dir.File("base") + "\n-l\ndeu\nHOCR\n");
    EXPECT_EQ(testing::ReadText(dir.File("prefix")), dir.path() + "/");
    EXPECT_EQ(std::getenv("TESSDATA_PREFIX"), nullptr);  // our own environment is untouched
    EXPECT_FALSE(testing::ReadFileBytes(dir.File("pwned")).size());

    // Without arguments the engine is still asked for hOCR; a missing
    // engine still gets its timing line.
    Captured([&] { RunOcrEngine(engine, "/i", "/o", "", dir.path() + "/"); });
    EXPECT_EQ(testing::ReadText(dir.File("args")), "/i\n/o\nHOCR\n");
    EXPECT_EQ(testing::ReadText(dir.File("prefix")), dir.path() + "/");
    EXPECT_NE(Captured([&] {
                  RunOcrEngine(dir.File("none"), "/i", "/o", "", dir.path());
              }).find("[Message] OCR processing takes "),
              std::string::npos);
}

}  // namespace
}  // namespace sheetmend::ocr
