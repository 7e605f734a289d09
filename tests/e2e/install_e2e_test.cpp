// Installing: "cmake --install" into a temporary prefix and the program run
// from there through its link, the manual page as man renders it, and the
// Debian package as dpkg-deb and lintian see it.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/e2e/e2e_support.h"
#include "tests/support/text_page.h"

namespace sheetmend::testing {
namespace {

// Started through bin/sheetmend from another folder, the installed program
// converts, deskews through unpaper and reads French through the engine.
TEST(Install, InstalledProgramRunsFromAnotherFolder) {
    ScratchDir prefix, dir;
    ASSERT_EQ(RunShell("cmake --install '" + BuildDir() + "' --prefix '" + prefix.path() +
                       "' >/dev/null"),
              0);
    EXPECT_TRUE(Exists(prefix.File("share/man/man1/sheetmend.1.gz")));
    const std::string bin = prefix.File("bin/sheetmend");
    // Two bars 900 x 30 pixels, 200 rows apart, turned by 3 degrees.
    const BitPage bars =
        DrawTurned(1200, 900, {{150, 300, 1050, 330}, {150, 500, 1050, 530}}, M_PI / 60);
    RasterImage tilted(1200, 900, 24);
    tilted.Clear(255);
    for (int y = 0; y < 900; ++y)
        for (int x = 0; x < 1200; ++x)
            if (bars.Ink(x, y)) tilted.SetPixelColor(x, y, RgbQuad{0, 0, 0, 0});
    SaveOrFail(tilted, dir.File("tilted.png"));
    ProgramResult r = RunProgram(bin, {"-deskew", "tilted.png", "straight.png"}, dir.path());
    // Turned, the bars cover 230 cos 3 + 900 sin 3 degrees = 277 rows; straight, 230.
    std::string height, info;
    RunShell(std::string(kImageMagick) + " '" + dir.File("straight.png") +
                 "' -threshold 50% -trim -format %h info:",
             &height);
    EXPECT_TRUE(std::atoi(height.c_str()) >= 228 && std::atoi(height.c_str()) <= 240)
        << height << r.out;

    // The one-bit TIFF that the conversion writes is what the engine reads.
    DrawTextLines({"Ch\342teau fran\347ais"}, dir.File("words.png"));
    RunProgram(bin, {"-bitcount", "1", "words.png", "words.tif"}, dir.path());
    EXPECT_EQ(RunShell("tiffinfo '" + dir.File("words.tif") + "' | grep -q 'Bits/Sample: 1'"), 0);
    r = RunProgram(bin, {"-ocr", "-lang", "fra", "words.tif", "out.png"}, dir.path());
    EXPECT_NE(ReadText(dir.File("out-0.box.txt")).find(",Château\r\n"), std::string::npos) << r.out;
}

TEST(Install, ManualPageRendersCleanlyWithEveryOption) {
    ProgramResult r = RunProgram("/usr/bin/env", {"MANWIDTH=80", "man", "--warnings", "-l",
                                                  BuildDir() + "/man/sheetmend.1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    // Every option of the usage text stands in a paragraph's tag, alone or
    // among its aliases.
    const std::string usage = RunSheetmend({"-h"}).out;
    const std::regex option("\n  (-[^ ]+)");
    int options = 0;
    for (auto it = std::sregex_iterator(usage.begin(), usage.end(), option);
         it != std::sregex_iterator(); ++it, ++options) {
        const std::string name = std::regex_replace((*it)[1].str(), std::regex("[?]"), "\\?");
        EXPECT_TRUE(std::regex_search(r.out, std::regex("\n {7}(.*, )?" + name + "[ ,\n]")))
            << name;
    }
    EXPECT_GE(options, 30);
    EXPECT_TRUE(
        std::regex_search(r.out, std::regex("EXIT "
                                            "STATUS[^]*SHEETMEND_JOBS[^]*SHEETMEND_LANGDATA_URL[^]*"
                                            "OMP_THREAD_LIMIT[^]*imgconv\\.dll[^]*EXAMPLES")));
}

// The package holds what "cmake --install" lays out, under /usr, and its
// version is the one "sheetmend -v" prints.
TEST(Install, DebianPackageIsCompleteAndLintianClean) {
    ScratchDir dir;
    const std::string deb = "'" + dir.path() + "'/sheetmend_*.deb";
    ASSERT_EQ(RunShell("cpack -G DEB --config '" + BuildDir() + "/CPackConfig.cmake' -B '" +
                       dir.path() + "' >/dev/null"),
              0);
    std::string listing, fields, lintian;
    ASSERT_EQ(RunShell("dpkg-deb -c " + deb + " | awk '{print $6}'", &listing), 0);
    for (const char* file :
         {"bin/sheetmend", "lib/sheetmend/sheetmend", "lib/sheetmend/ocr.exe",
          "lib/sheetmend/mendkit.dll", "lib/sheetmend/imgconv.dll", "lib/sheetmend/wget.exe",
          "lib/sheetmend/7z.exe", "lib/sheetmend/tessdata", "share/man/man1/sheetmend.1.gz"})
        EXPECT_NE(listing.find(std::string("./usr/") + file + "\n"), std::string::npos) << file;
    ASSERT_EQ(RunShell("dpkg-deb -f " + deb + " Depends Version", &fields), 0);
    for (const char* package :
         {"tesseract-ocr,", "unpaper,", "imagemagick,", "wget,", "p7zip-full,", "libtiff6 "})
        EXPECT_NE(fields.find(package), std::string::npos) << package << " in " << fields;
    ASSERT_EQ(RunShell("dpkg-deb -x " + deb + " '" + dir.File("root") + "'"), 0);
    const std::string about = RunProgram(dir.File("root/usr/bin/sheetmend"), {"-v"}).out;
    EXPECT_EQ(fields.substr(fields.find("\nVersion: ")), about.substr(about.rfind("\nVersion: ")));
    EXPECT_EQ(RunShell("lintian --fail-on error " + deb + " 2>&1", &lintian), 0) << lintian;
}

}  // namespace
}  // namespace sheetmend::testing
