// Installing: "cmake --install" into a temporary prefix, the program run
// from there through its link, the manual page as man renders it, and the
// Debian package as dpkg-deb and lintian see it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>

#include "tests/e2e/e2e_support.h"

namespace sheetmend::testing {
namespace {

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? buf : "";
}

bool IsExecutableFile(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR);
}

// The option names of the usage text that "sheetmend -h" prints.
std::vector<std::string> UsageOptions() {
    const ProgramResult r = RunSheetmend({"-h"});
    std::vector<std::string> names;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("  -", 0) == 0) names.push_back(line.substr(2, line.find(' ', 2) - 2));
    return names;
}

// The rows from the first to the last one holding dark ink.
int InkHeight(const RasterImage& img) {
    int first = -1, last = -1;
    for (uint32_t y = 0; y < img.GetHeight(); ++y)
        for (uint32_t x = 0; x < img.GetWidth(); ++x)
            if (img.GetPixelColor(static_cast<int32_t>(x), static_cast<int32_t>(y), false).red <
                128) {
                if (first < 0) first = static_cast<int>(y);
                last = static_cast<int>(y);
                break;
            }
    return first < 0 ? 0 : last - first + 1;
}

class Install : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        prefix_ = new ScratchDir;
        installed_ = RunShell("cmake --install '" + BuildDir() + "' --prefix '" + prefix_->path() +
                              "' > /dev/null 2>&1") == 0;
    }
    static void TearDownTestSuite() {
        delete prefix_;
        prefix_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(installed_) << "cmake --install failed"; }
    static std::string Prefix(const std::string& path) { return prefix_->File(path); }

    ScratchDir dir;
    static ScratchDir* prefix_;
    static bool installed_;
};

ScratchDir* Install::prefix_ = nullptr;
bool Install::installed_ = false;

TEST_F(Install, LaysOutTheProgramWithItsCompanions) {
    EXPECT_TRUE(IsExecutableFile(Prefix("lib/sheetmend/sheetmend")));
    EXPECT_TRUE(IsExecutableFile(Prefix("lib/sheetmend/ocr.exe")));
    EXPECT_EQ(RealPath(Prefix("bin/sheetmend")), RealPath(Prefix("lib/sheetmend/sheetmend")));
    struct Link {
        const char *name, *system;
    };
    for (const Link& l :
         {Link{"mendkit.dll", "/usr/bin/unpaper"}, Link{"imgconv.dll", kImageMagick},
          Link{"wget.exe", "/usr/bin/wget"}, Link{"7z.exe", "/usr/bin/7z"}})
        EXPECT_EQ(RealPath(Prefix(std::string("lib/sheetmend/") + l.name)), RealPath(l.system))
            << l.name;
    // The data folder is the one the system's tesseract reads.
    std::string listed;
    ASSERT_EQ(RunShell("tesseract --list-langs 2>/dev/null | head -1", &listed), 0);
    const size_t open = listed.find('"'), close = listed.rfind('"');
    ASSERT_LT(open, close) << listed;
    EXPECT_EQ(RealPath(Prefix("lib/sheetmend/tessdata")),
              RealPath(listed.substr(open + 1, close - open - 1)));
}

// Started through bin/sheetmend from a folder of its own, the program
// converts, deskews through unpaper and reads words through the engine.
TEST_F(Install, InstalledProgramRunsFromAnotherFolder) {
    const std::string bin = Prefix("bin/sheetmend");
    // Two bars 900 x 30 pixels, 200 rows apart, turned by 3 degrees about
    // the page's centre: each pixel is turned back and tested.
    const double c = std::cos(3.0 * M_PI / 180.0), s = std::sin(3.0 * M_PI / 180.0);
    RasterImage tilted(1200, 900, 24);
    tilted.Clear(255);
    for (int y = 0; y < 900; ++y)
        for (int x = 0; x < 1200; ++x) {
            const double u = 600 + (x - 600) * c + (y - 450) * s;
            const double v = 450 - (x - 600) * s + (y - 450) * c;
            if (u >= 150 && u < 1050 && ((v >= 300 && v < 330) || (v >= 500 && v < 530)))
                tilted.SetPixelColor(x, 899 - y, RgbQuad{0, 0, 0, 0});
        }
    SaveOrFail(tilted, dir.File("tilted.png"));
    DrawTextLines({"Installed here"}, dir.File("words.png"));

    ProgramResult r = RunProgram(bin, {"-bitcount", "1", "words.png", "words.tif"}, dir.path());
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    std::string info;
    RunShell("tiffinfo '" + dir.File("words.tif") + "' 2>&1", &info);
    EXPECT_NE(info.find("Image Width: 1300 Image Length: 290"), std::string::npos) << info;
    EXPECT_NE(info.find("Bits/Sample: 1"), std::string::npos) << info;

    r = RunProgram(bin, {"-deskew", "tilted.png", "straight.png"}, dir.path());
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    // Turned, the bars cover 230 cos 3 + 900 sin 3 degrees = 277 rows; straight, 230.
    EXPECT_GE(InkHeight(tilted), 270);
    const RasterImage straight = LoadOrFail(dir.File("straight.png"));
    EXPECT_EQ(straight.GetWidth(), 1200u);
    EXPECT_LE(InkHeight(straight), 240);

    r = RunProgram(bin, {"-ocr", "words.png", "out.png"}, dir.path());
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(r.out.find("[ERROR]"), std::string::npos) << r.out;
    const std::string boxes = ReadText(dir.File("out-0.box.txt"));
    EXPECT_NE(boxes.find(",Installed\r\n"), std::string::npos) << boxes;
    EXPECT_NE(boxes.find(",here\r\n"), std::string::npos) << boxes;
}

TEST_F(Install, ManualPageRendersCleanlyWithEveryOption) {
    const std::string page = Prefix("share/man/man1/sheetmend.1.gz");
    ASSERT_TRUE(Exists(page));
    ProgramResult r =
        RunProgram("/usr/bin/env", {"MANWIDTH=80", "man", "--warnings", "-l", page}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> options = UsageOptions();
    ASSERT_GE(options.size(), 30u);
    for (const std::string& name : options) {
        // A name in a paragraph's tag: at the indent, then a blank, a comma
        // or the end of the line.
        const std::regex tag("\n {7}(.*, )?" +
                             std::regex_replace(name, std::regex(R"([?+])"), R"(\$&)") + "[ ,\n]");
        EXPECT_TRUE(std::regex_search(r.out, tag)) << name;
    }
    for (const char* part : {"\nEXIT STATUS\n", "\nENVIRONMENT\n", "\n       SHEETMEND_JOBS\n",
                             "\n       SHEETMEND_LANGDATA_URL\n", "\n       OMP_THREAD_LIMIT\n",
                             "\nFILES\n", "mendkit.dll", "imgconv.dll", "\nEXAMPLES\n"})
        EXPECT_NE(r.out.find(part), std::string::npos) << part;
}

// The package holds what "cmake --install" lays out, under /usr, and its
// version is the one "sheetmend -v" prints.
TEST_F(Install, DebianPackageIsCompleteAndLintianClean) {
    ASSERT_EQ(RunShell("cpack -G DEB --config '" + BuildDir() + "/CPackConfig.cmake' -B '" +
                       dir.path() + "' > /dev/null 2>&1"),
              0);
    std::string deb;
    ASSERT_EQ(RunShell("ls '" + dir.path() + "'/sheetmend_*.deb", &deb), 0);
    deb.erase(deb.find('\n'));

    std::string listing;
    ASSERT_EQ(RunShell("dpkg-deb -c '" + deb + "' | awk '{print $6}' | sort", &listing), 0);
    for (const char* file :
         {"./usr/bin/sheetmend", "./usr/lib/sheetmend/sheetmend", "./usr/lib/sheetmend/ocr.exe",
          "./usr/lib/sheetmend/mendkit.dll", "./usr/lib/sheetmend/imgconv.dll",
          "./usr/lib/sheetmend/wget.exe", "./usr/lib/sheetmend/7z.exe",
          "./usr/lib/sheetmend/tessdata", "./usr/share/man/man1/sheetmend.1.gz",
          "./usr/share/doc/sheetmend/copyright"})
        EXPECT_NE(listing.find(std::string(file) + "\n"), std::string::npos) << file;

    std::string depends;
    ASSERT_EQ(RunShell("dpkg-deb -f '" + deb + "' Depends", &depends), 0);
    for (const char* package : {"tesseract-ocr,", "unpaper,", "imagemagick,", "wget,",
                                "p7zip-full,", "libtiff6 ", "libqpdf29 "})
        EXPECT_NE(depends.find(package), std::string::npos) << package << " in " << depends;

    std::string version;
    ASSERT_EQ(RunShell("dpkg-deb -f '" + deb + "' Version", &version), 0);
    ASSERT_EQ(RunShell("dpkg-deb -x '" + deb + "' '" + dir.File("root") + "'"), 0);
    const ProgramResult v = RunProgram(dir.File("root/usr/bin/sheetmend"), {"-v"});
    EXPECT_EQ(v.status, 254);
    EXPECT_EQ(v.out.substr(v.out.rfind("\nVersion: ") + 1), "Version: " + version) << v.out;

    std::string lintian;
    EXPECT_EQ(RunShell("lintian --fail-on error '" + deb + "' 2>&1", &lintian), 0) << lintian;
    EXPECT_EQ(lintian.find("E: "), std::string::npos) << lintian;
}

}  // namespace
}  // namespace sheetmend::testing
