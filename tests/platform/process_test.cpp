#include "platform/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/console.h"

namespace sheetmend {
namespace {

using Args = std::vector<std::string>;

const std::string kHelper = SHEETMEND_EMIT_OUTPUT;

std::string HelperLine(const std::string& steps) {
    return "\"" + kHelper + "\" " + steps;
}

TEST(SplitCommandLine, FollowsTheWindowsRules) {
    // The program part: quotes group, backslashes are plain.
    EXPECT_EQ(SplitCommandLine(R"("C:\tools\my prog.exe" a)"),
              (Args{R"(C:\tools\my prog.exe)", "a"}));
    EXPECT_EQ(SplitCommandLine(R"(  "my prog"x\ a)"), (Args{R"(my progx\)", "a"}));
    EXPECT_EQ(SplitCommandLine(R"("a\" b)"), (Args{R"(a\)", "b"}));
    // Blanks and tabs separate; runs of them make no empty arguments.
    EXPECT_EQ(SplitCommandLine("p  a\t\tb  "), (Args{"p", "a", "b"}));
    EXPECT_EQ(SplitCommandLine("\"tool\"  \"in\" \"out\""), (Args{"tool", "in", "out"}));
    EXPECT_EQ(SplitCommandLine("p \"\" x"), (Args{"p", "", "x"}));
    EXPECT_TRUE(SplitCommandLine("   ").empty());
    // Quoted parts can sit inside an argument.
    EXPECT_EQ(SplitCommandLine(R"(p a"b c"d)"), (Args{"p", "ab cd"}));
    // Backslashes: literal unless they stand before a quote.
    EXPECT_EQ(SplitCommandLine(R"(p a\\b c\)"), (Args{"p", R"(a\\b)", R"(c\)"}));
    EXPECT_EQ(SplitCommandLine(R"(p a\"b)"), (Args{"p", R"(a"b)"}));
    EXPECT_EQ(SplitCommandLine(R"(p a\\\"b)"), (Args{"p", R"(a\"b)"}));
    EXPECT_EQ(SplitCommandLine(R"(p "a\\" b)"), (Args{"p", R"(a\)", "b"}));
    // Doubled quotes inside a quoted part, and an unclosed quote.
    EXPECT_EQ(SplitCommandLine(R"(p "a""b" c)"), (Args{"p", R"(a"b)", "c"}));
    EXPECT_EQ(SplitCommandLine(R"(p "a b)"), (Args{"p", "a b"}));
}

TEST(QuoteArgument, SurvivesSplittingWhateverTheTextHolds) {
    EXPECT_EQ(QuoteArgument("/tmp/a b.png"), "\"/tmp/a b.png\"");
    for (const std::string& text :
         {std::string(""), std::string("plain"), std::string("it's \"quoted\""),
          std::string("ends\\"), std::string("ends\\\\"), std::string("a\\\"b"),
          std::string("x\\\\\"\"y"), std::string("; rm -rf x & $(touch y) `z` | w > v"),
          std::string("tab\there"), std::string("\"")}) {
        EXPECT_EQ(SplitCommandLine("prog " + QuoteArgument(text) + " next"),
                  (Args{"prog", text, "next"}))
            << text;
    }
}

class RunCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/sheetmend-process-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    std::string dir_;
};

TEST_F(RunCommandTest, ReadsLargeOutputWholeInChunks) {
    std::string out;
    ASSERT_TRUE(RunCommand(HelperLine("write 20000 -1"), out));
    EXPECT_EQ(out, std::string(20000, 'x'));

    // One write of 10000 bytes is read as 8191 + 1809 bytes. A zero byte at
    // 3000 ends the first chunk's text there; the second chunk is kept whole.
    out.clear();
    ASSERT_TRUE(RunCommand(HelperLine("write 10000 3000"), out));
    EXPECT_EQ(out.size(), 3000u + (10000u - kCommandChunkBytes));
}

TEST_F(RunCommandTest, ZeroByteCutsOnlyItsOwnChunk) {
    std::string out = "kept:";
    ASSERT_TRUE(RunCommand(HelperLine("write 100 10 sleep 400 text tail"), out));
    EXPECT_EQ(out, "kept:" + std::string(10, 'x') + "tail");
}

TEST_F(RunCommandTest, CollectsBothStreamsAndWaitsForTheEnd) {
    std::string out;
    const auto start = std::chrono::steady_clock::now();
    const CommandOutcome outcome =
        RunCommandLine(HelperLine("text out err ERR close sleep 300 exit 7"), out);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_TRUE(outcome.started);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_EQ(outcome.exitCode, 7);
    EXPECT_EQ(out, "outERR");
    EXPECT_GE(ms, 300);
}

TEST_F(RunCommandTest, StopsAProgramThatRunsPastItsTimeLimit) {
    std::string out;
    const auto start = std::chrono::steady_clock::now();
    const CommandOutcome outcome = RunCommandLine(HelperLine("text begun sleep 60000"), out, 300);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_TRUE(outcome.started);
    EXPECT_TRUE(outcome.timedOut);
    EXPECT_EQ(out, "begun");
    EXPECT_LT(ms, 10000);
    EXPECT_FALSE(RunCommand(HelperLine("sleep 60000"), out, 100));
}

TEST_F(RunCommandTest, FailsWhenNothingCanBeStarted) {
    std::string out;
    EXPECT_FALSE(RunCommand("\"" + dir_ + "/no such program\" x", out));
    EXPECT_FALSE(RunCommand("", out));
    EXPECT_FALSE(RunCommand("\"" + dir_ + "\"", out));  // a folder
    EXPECT_TRUE(out.empty());
}

TEST_F(RunCommandTest, FileNameIsOneArgumentAndRunsNothing) {
    const std::string name = dir_ + "/it's \"a\" ; $(touch " + dir_ + "/p1) `touch " + dir_ +
                             "/p2` & touch " + dir_ + "/p3 | x.png";
    std::string out;
    ASSERT_TRUE(RunCommand(HelperLine("args " + QuoteArgument(name) + " last"), out));
    EXPECT_EQ(out, "<" + name + ">\n<last>\n");
    for (const char* f : {"/p1", "/p2", "/p3"}) {
        struct stat st;
        EXPECT_NE(stat((dir_ + f).c_str(), &st), 0) << f;
    }
}

TEST(ReadInterpreterLine, DropsOuterQuotesAndTakesTheNullRedirection) {
    InterpreterLine l = ReadInterpreterLine(R"(""/opt/ocr.exe" "/in put.png" "/out" HOCR > nul")");
    EXPECT_EQ(l.commandLine, R"("/opt/ocr.exe" "/in put.png" "/out" HOCR)");
    EXPECT_TRUE(l.discardStandardOutput);

    l = ReadInterpreterLine(R"(""/opt/ocr.exe" "x">NUL")");
    EXPECT_EQ(l.commandLine, R"("/opt/ocr.exe" "x")");
    EXPECT_TRUE(l.discardStandardOutput);

    // No outer quote: the line stays; words ending in "nul" are no redirection.
    l = ReadInterpreterLine("prog annul");
    EXPECT_EQ(l.commandLine, "prog annul");
    EXPECT_FALSE(l.discardStandardOutput);

    // A "> nul" inside quotes belongs to an argument.
    l = ReadInterpreterLine(R"(""prog" "a > nul"")");
    EXPECT_EQ(l.commandLine, R"("prog" "a > nul")");
    EXPECT_FALSE(l.discardStandardOutput);
}

// Runs `line` with standard output going to a file; returns what was written.
std::string StandardOutputOf(const std::string& line, int* status) {
    char name[] = "/tmp/sheetmend-stdout-XXXXXX";
    const int fd = mkstemp(name);
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(fd, 1);
    *status = RunInterpreterLine(line);
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(fd);
    std::ifstream in(name);
    std::stringstream ss;
    ss << in.rdbuf();
    unlink(name);
    return ss.str();
}

TEST(RunInterpreterLine, ReturnsTheExitStatusAndHonoursTheRedirection) {
    int status = 0;
    EXPECT_EQ(StandardOutputOf("\"" + HelperLine("text hello exit 3") + "\"", &status), "hello");
    EXPECT_EQ(status, 3);
    EXPECT_EQ(StandardOutputOf("\"" + HelperLine("text hello") + " > nul\"", &status), "");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(RunInterpreterLine("\"/nonexistent/program\" a"), -1);
}

// A pair on a worker thread prints into its own sink: our text and what the
// programs it starts print arrive there in order, nothing reaches the real
// streams, and a thread without a capture is not affected.
TEST(ConsoleCapture, KeepsOurTextAndTheProgramsTextInOrder) {
    ConsoleSink sink;
    ConsoleSink other;
    {
        ConsoleCapture capture(sink);
        ConsolePrintf("pair %d\n", 7);
        EXPECT_EQ(RunInterpreterLine(HelperLine("text from-child err child-error")), 0);
        EXPECT_EQ(RunInterpreterLine("\"" + HelperLine("text dropped err kept") + " > nul\""), 0);
        {
            ConsoleCapture inner(other);
            ConsoleErrorf("inner\n");
        }
        ConsoleErrorf("%s\n", std::string(3000, 'e').c_str());  // longer than the small buffer
        std::thread([] { EXPECT_EQ(CurrentConsoleSink(), nullptr); }).join();
    }
    EXPECT_EQ(CurrentConsoleSink(), nullptr);
    EXPECT_EQ(sink.Text(ConsoleStream::kOut), "pair 7\nfrom-child");
    EXPECT_EQ(sink.Text(ConsoleStream::kErr), "child-errorkept" + std::string(3000, 'e') + "\n");
    EXPECT_EQ(other.Text(ConsoleStream::kErr), "inner\n");

    // Replay writes the chunks to the real streams in their order.
    testing::internal::CaptureStdout();
    sink.Replay();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "pair 7\nfrom-child");
    EXPECT_TRUE(sink.Empty());
}

}  // namespace
}  // namespace sheetmend
