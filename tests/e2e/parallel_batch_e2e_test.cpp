// Batches on several workers and several processes at once. A folder of 40
// mixed pages (five formats, a multi-page TIFF, a broken file, two inputs that
// want the same output name) goes through every operation once with
// SHEETMEND_JOBS=1 and once with four workers: the files written and the
// console text must be the same. Eight processes writing the same names into
// one folder must each get their own numbered file, none lost or
// overwritten. The progress line appears on a terminal and nowhere else.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <regex>

#include "tests/e2e/e2e_support.h"

namespace sheetmend::testing {
namespace {

std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

ProgramResult RunWithJobs(const std::string& jobs, const std::vector<std::string>& args,
                          const std::string& dir) {
    std::vector<std::string> all{"SHEETMEND_JOBS=" + jobs, SheetmendBinary()};
    all.insert(all.end(), args.begin(), args.end());
    return RunProgram("/usr/bin/env", all, dir);
}

// Console text with the milliseconds and the run's own folder taken out.
std::string Comparable(const std::string& text) {
    static const std::regex ms(R"(\d+ms \(\d+\.\d\ds\))");
    static const std::regex run("/run[01]/");
    // Temporary names, which external programs print in their complaints.
    static const std::regex temporary("/sheetmend-[A-Za-z0-9]{6}/qrvx[0-9A-F]{4}");
    return std::regex_replace(std::regex_replace(std::regex_replace(text, ms, "Nms"), run, "/run/"),
                              temporary, "/temporary");
}

// Page i of the folder: sizes, depths and drawings vary with i.
RasterImage MixedPage(int i) {
    const auto w = static_cast<uint32_t>(300 + 37 * (i % 7));
    const auto h = static_cast<uint32_t>(420 + 23 * (i % 5));
    RasterImage page = i % 3 == 0 ? DrawBitonalPage(w, h) : DrawColourPage(w, h, 150 + 10 * i);
    if (i % 3 != 0) {
        const RgbQuad black{0, 0, 0, 0};
        for (int32_t x = 20; x < static_cast<int32_t>(w) - 20; ++x)
            for (int32_t t = 0; t < 3; ++t) page.SetPixelColor(x, 60 + 7 * (i % 4) + t, black);
        page.DrawString(40, static_cast<int32_t>(h) - 120, i % 2 ? "Sheet" : "Mend", black, "Arial",
                        48);
        for (int32_t s = 0; s < 6; ++s) page.SetPixelColor(30 + 41 * s, 300 + 3 * i % 50, black);
    }
    if (i % 5 == 2) page.GrayScale();
    return page;
}

class ParallelBatch : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = new ScratchDir;
        const std::string in = folder_->path() + "/in";
        mkdir(in.c_str(), 0755);
        const char* kinds[] = {".png", ".tif", ".bmp", ".jpg", ".gif"};
        for (int i = 0; i < 37; ++i) {
            RasterImage page = MixedPage(i);
            char name[32];
            std::snprintf(name, sizeof name, "/p%02d", i);
            const std::string ext = kinds[i % 5];
            if (ext == ".gif" && page.GetBpp() > 8) page.DecreaseBpp(8, false);
            if (ext == ".jpg" && page.GetBpp() == 1) page.IncreaseBpp(24);
            SaveOrFail(page, in + name + ext);
        }
        // Two inputs named alike: both want "p01" with the output's extension.
        RasterImage twin = MixedPage(40);
        SaveOrFail(twin, in + "/p01.pcx");
        // A three-page TIFF, and a file cut short.
        RasterImage a = MixedPage(41), b = MixedPage(42);
        SaveOrFail(a, folder_->path() + "/a.tif");
        SaveOrFail(b, folder_->path() + "/b.tif");
        ASSERT_EQ(RunShell("cd '" + folder_->path() + "' && tiffcp a.tif b.tif a.tif in/pages.tif"),
                  0);
        std::vector<uint8_t> cut = ReadFileBytes(in + "/p05.png");
        cut.resize(cut.size() / 2);
        ASSERT_TRUE(WriteFileBytes(in + "/p99.png", cut));
        ASSERT_EQ(Listing(in).size(), 40u);
        // Pages of words for the engine: large type on white.
        const std::string words = folder_->path() + "/words";
        mkdir(words.c_str(), 0755);
        const char* texts[] = {"ALPHA", "BRAVO", "DELTA",  "GAMMA",
                               "OSCAR", "TANGO", "VICTOR", "ZULU"};
        for (int i = 0; i < 8; ++i) {
            RasterImage page(900, 400, 24);
            page.Clear(255);
            page.SetXDpi(300);
            page.SetYDpi(300);
            ASSERT_EQ(page.DrawString(60, 200, texts[i], RgbQuad{0, 0, 0, 0}, "Arial", 80), 1);
            if (i % 2) page.GrayScale();
            SaveOrFail(page, words + "/" + texts[i] + (i % 3 ? ".png" : ".tif"));
        }
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    static ScratchDir* folder_;
};

ScratchDir* ParallelBatch::folder_ = nullptr;

struct Operation {
    std::vector<std::string> options;
    const char* outputExtension;
    const char* inputs;
    size_t minimumWritten;  // so that a run writing nothing cannot pass
};

TEST_F(ParallelBatch, EveryOperationWritesAndPrintsWhatASerialRunDoes) {
    const Operation operations[] = {
        {{"-threshold", "0"}, ".tif", "in/*", 39},
        {{"-width", "200", "-bitcount", "8"}, ".png", "in/*", 39},
        {{"-removelongline", "100", "-removeshortline", "6"}, ".png", "in/*", 39},
        {{"-trimmargin", "-trimcolor", "FFFFFF"}, ".bmp", "in/*", 25},
        {{"-removeborder"}, ".pdf", "in/*", 39},  // the converter stamps times into its own formats
        {{"-deskew2", "-despeckle2"}, ".tif", "in/*", 39},
        {{"-layout"}, ".png", "in/*", 20},
        {{"-ocr", "-boxpic"}, ".png", "words/*", 16},
    };
    for (const Operation& op : operations) {
        std::string line;
        for (const std::string& o : op.options) line += o + " ";
        SCOPED_TRACE(line);
        ProgramResult results[2];
        const char* jobs[] = {"1", "4"};
        for (int run = 0; run < 2; ++run) {
            const std::string root = folder_->path() + "/run" + std::to_string(run);
            ASSERT_EQ(RunShell("rm -rf '" + root + "' && mkdir -p '" + root + "/out'"), 0);
            std::vector<std::string> args = op.options;
            args.push_back(std::string("../") + op.inputs);
            args.push_back(std::string("out/x") + op.outputExtension);
            results[run] = RunWithJobs(jobs[run], args, root);
        }
        const std::string serial = folder_->path() + "/run0/out/";
        const std::string parallel = folder_->path() + "/run1/out/";
        EXPECT_EQ(results[1].status, results[0].status);
        EXPECT_EQ(Comparable(results[1].out), Comparable(results[0].out));
        EXPECT_EQ(Comparable(results[1].err), Comparable(results[0].err));
        const std::vector<std::string> written = Listing(serial);
        EXPECT_EQ(Listing(parallel), written);
        EXPECT_GE(written.size(), op.minimumWritten) << results[0].out << results[0].err;
        for (const std::string& name : written)
            EXPECT_TRUE(ReadFileBytes(serial + name) == ReadFileBytes(parallel + name)) << name;
        EXPECT_GE(TimingLines(results[0].out), 8);
    }
}

TEST_F(ParallelBatch, BoxedObjectsKeepOneColourSequenceAcrossTheFiles) {
    // The colours continue from file to file, so the batch runs in order even
    // when workers are offered; the files match a one-worker run.
    for (const char* jobs : {"1", "3"}) {
        const std::string root = folder_->path() + "/boxes" + jobs;
        ASSERT_EQ(RunShell("mkdir -p '" + root + "/out'"), 0);
        RunWithJobs(jobs, {"-boxobjects", "../in/p2*", "out/x.png"}, root);
    }
    const std::vector<std::string> written = Listing(folder_->path() + "/boxes1/out");
    ASSERT_GE(written.size(), 10u);
    EXPECT_EQ(Listing(folder_->path() + "/boxes3/out"), written);
    for (const std::string& name : written)
        EXPECT_TRUE(ReadFileBytes(folder_->path() + "/boxes1/out/" + name) ==
                    ReadFileBytes(folder_->path() + "/boxes3/out/" + name))
            << name;
}

// Eight processes write the same names into one folder at once. Every
// process's every output must exist under its own name and hold exactly the
// single-process result: with claims, a second process can neither pick the
// same numbered name nor replace a file another one has written.
TEST_F(ParallelBatch, EightProcessesNeverOverwriteEachOther) {
    const std::string root = folder_->path() + "/crowd";
    ASSERT_EQ(RunShell("mkdir -p '" + root + "/single' '" + root + "/in' && cp '" +
                       folder_->path() + "/in/p0'[02-5].* '" + root + "/in/'"),
              0);
    const std::string binary = SheetmendBinary();
    struct Round {
        const char* launcher;  // how the eight processes are started
        const char* extension;
    };
    const Round kinds[] = {
        {"parallel", ".tif"}, {"background", ".png"}, {"parallel", ".pdf"}, {"background", ".tif"}};
    for (const Round& kind : kinds) {
        RunShell("cd '" + root + "' && rm -f single/* && '" + binary +
                 "' -threshold 0 'in/*' single/x" + kind.extension + " > /dev/null");
        const std::vector<std::string> expected = Listing(root + "/single");
        ASSERT_EQ(expected.size(), 5u) << ::testing::PrintToString(expected);
        for (int round = 0; round < 5; ++round) {
            SCOPED_TRACE(std::string(kind.launcher) + kind.extension + " round " +
                         std::to_string(round));
            const std::string command =
                "'" + binary + "' -threshold 0 'in/*' shared/x" + kind.extension + " > /dev/null";
            std::string launch;
            if (kind.launcher == std::string("parallel"))
                launch = "parallel --will-cite -j8 -N0 \"SHEETMEND_JOBS=2 " + command +
                         "\" ::: 1 2 3 4 5 6 7 8";
            else
                launch =
                    "for i in 1 2 3 4 5 6 7 8; do SHEETMEND_JOBS=1 " + command + " & done; wait";
            RunShell("cd '" + root + "' && rm -rf shared && mkdir shared && " + launch);
            const std::vector<std::string> names = Listing(root + "/shared");
            ASSERT_EQ(names.size(), 40u);  // no file lost, no placeholder or temporary left
            for (const std::string& want : expected) {
                const std::string stem = want.substr(0, want.rfind('.'));
                const std::vector<uint8_t> bytes = ReadFileBytes(root + "/single/" + want);
                int copies = 0;
                for (const std::string& name : names) {
                    if (name.compare(0, stem.size(), stem) != 0) continue;
                    ++copies;
                    EXPECT_TRUE(ReadFileBytes(root + "/shared/" + name) == bytes) << name;
                }
                EXPECT_EQ(copies, 8) << stem;
            }
        }
    }
}

TEST_F(ParallelBatch, ProgressShowsOnATerminalOnly) {
    const std::string root = folder_->path() + "/progress";
    ASSERT_EQ(RunShell("mkdir -p '" + root + "/tty' '" + root + "/pipe'"), 0);
    const std::string run =
        "'" + SheetmendBinary() + "' -threshold 0 '" + folder_->path() + "/in/p1*' ";
    std::string screen;
    RunShell("script -qfec \"" + run + root + "/tty/x.tif\" /dev/null", &screen);
    EXPECT_NE(screen.find("\r[10/10] files, "), std::string::npos) << screen;
    EXPECT_NE(screen.find(" pages/s, 0:00 left"), std::string::npos);
    EXPECT_EQ(screen.substr(screen.size() - 4), "\r\033[K") << "the line is cleared at the end";
    const ProgramResult piped = RunWithJobs(
        "2", {"-threshold", "0", folder_->path() + "/in/p1*", root + "/pipe/x.tif"}, "");
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(piped.out.find('\r'), std::string::npos);
    EXPECT_EQ(TimingLines(piped.out), 10);
}

// Ctrl-C in the middle of a batch: the process ends by the signal, and no
// empty placeholder or half-written temporary file is left in the output
// folder, where a later run with -skip would take it for a finished page.
TEST_F(ParallelBatch, AnInterruptedBatchLeavesOnlyWholeFiles) {
    const std::string root = folder_->path() + "/interrupted";
    ASSERT_EQ(RunShell("mkdir -p '" + root + "/in' '" + root + "/out'"), 0);
    RasterImage big = DrawColourPage(1700, 2400);
    SaveOrFail(big, root + "/in/p000.png");
    ASSERT_EQ(
        RunShell("cd '" + root + "/in' && for i in $(seq 101 180); do ln p000.png p$i.png; done"),
        0);
    const std::string binary = SheetmendBinary();
    const std::string out = root + "/out";
    std::vector<std::string> args{"/usr/bin/env", "SHEETMEND_JOBS=2", binary,        "-deskew2",
                                  "-despeckle2",  root + "/in/*",     out + "/x.tif"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // Waits until the batch is well under way: some pages written, others
    // claimed or being written. A page being written is a hidden temporary
    // file until it is whole, and the interruption takes it back, so it does
    // not count.
    auto written = [&] {
        size_t n = 0;
        for (const std::string& name : Listing(out))
            n += name[0] != '.' && !ReadFileBytes(out + "/" + name).empty();
        return n;
    };
    for (int wait = 0; wait < 2000 && written() < 6; ++wait) usleep(10000);
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the batch ended before the signal; make it longer";
    EXPECT_EQ(WTERMSIG(status), SIGINT);
    auto onlyWholePages = [&](size_t atLeast) {
        const std::vector<std::string> left = Listing(out);
        EXPECT_GE(left.size(), atLeast);
        EXPECT_LT(left.size(), 81u);
        for (const std::string& name : left) {
            EXPECT_NE(name[0], '.') << name;
            RasterImage page;
            EXPECT_TRUE(page.Load((out + "/" + name).c_str())) << name;
            EXPECT_EQ(page.GetWidth(), 1700u) << name;
        }
    };
    onlyWholePages(6);

    // The same when the reader of standard output goes away (SIGPIPE).
    ASSERT_EQ(RunShell("rm -f '" + out + "'/*"), 0);
    RunShell("SHEETMEND_JOBS=2 '" + binary + "' -deskew2 -despeckle2 '" + root + "/in/*' '" + out +
             "/x.tif' | head -1 > /dev/null");
    onlyWholePages(1);
}

}  // namespace
}  // namespace sheetmend::testing
