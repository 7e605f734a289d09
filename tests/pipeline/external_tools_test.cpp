#include "pipeline/external_tools.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>

#include "image/raster_image.h"
#include "platform/process.h"
#include "platform/temp_files.h"
#include "tests/support/external_tools.h"

namespace sheetmend {
namespace {

using testing::ReadFileBytes;
using testing::ScratchDir;
using testing::WriteFileBytes;
using Args = std::vector<std::string>;

const std::string kConverter = testing::kImageMagick;

TEST(DeskewToolCommandLine, CarriesTheRangeOnlyWhenGiven) {
    EXPECT_EQ(DeskewToolCommandLine("/opt/sm/mendkit.dll", "/tmp/a b.pbm", "/tmp/c.pbm", 0),
              "\"/opt/sm/mendkit.dll\"  \"/tmp/a b.pbm\" \"/tmp/c.pbm\"");
    EXPECT_EQ(DeskewToolCommandLine("/t", "in", "out", 5),
              "\"/t\"  --deskew-scan-range 5.00 \"in\" \"out\"");
    EXPECT_EQ(SplitCommandLine(DeskewToolCommandLine("/t", "i", "o", 2.345)),
              (Args{"/t", "--deskew-scan-range", "2.35", "i", "o"}));
    EXPECT_EQ(SplitCommandLine(DeskewToolCommandLine("/t", "i", "o", -1)), (Args{"/t", "i", "o"}));
}

TEST(RemoveBorderCommandLine, AsksForTheCornerFloodFill) {
    EXPECT_EQ(RemoveBorderCommandLine("/opt/imgconv.dll", "/in.png", 35, "/out.png"),
              "\"/opt/imgconv.dll\" \"/in.png\" -bordercolor black -border 1 -fuzz 35% -fill white "
              "-draw \"color 0,0 floodfill\" -alpha off -shave 1x1 \"/out.png\"");
    EXPECT_EQ(SplitCommandLine(RemoveBorderCommandLine("/c", "/a \"b\".png", 80, "/o.tif")),
              (Args{"/c", "/a \"b\".png", "-bordercolor", "black", "-border", "1", "-fuzz", "80%",
                    "-fill", "white", "-draw", "color 0,0 floodfill", "-alpha", "off", "-shave",
                    "1x1", "/o.tif"}));
}

TEST(BorderFuzzPercent, TruncatesAndFallsBackTo80) {
    EXPECT_EQ(BorderFuzzPercent(35.9), 35);
    EXPECT_EQ(BorderFuzzPercent(99.99), 99);
    EXPECT_EQ(BorderFuzzPercent(1.0), 1);
    for (double odd : {-1.0, 0.0, 0.5, 100.0, 150.0, 1e300, std::nan("")})
        EXPECT_EQ(BorderFuzzPercent(odd), 80) << odd;
}

TEST(ConvertWithFreeImage, MovesPagesBetweenPngAndNetpbm) {
    ScratchDir dir;
    // A 10 x 2 bitmap: row 0 alternates, row 1 is all ink.
    const std::vector<uint8_t> pbm = {'P', '4',  '\n', '1',  '0',  ' ',
                                      '2', '\n', 0xAA, 0x80, 0xFF, 0xC0};
    ASSERT_TRUE(WriteFileBytes(dir.File("page.pbm"), pbm));
    ASSERT_TRUE(ConvertWithFreeImage(dir.File("page.pbm"), dir.File("page.png")));
    RasterImage png;
    ASSERT_TRUE(png.Load(dir.File("page.png").c_str(), 0));
    EXPECT_EQ(png.GetWidth(), 10u);
    EXPECT_EQ(png.GetHeight(), 2u);
    EXPECT_EQ(png.GetPixelColor(0, 1, false).red, 0);    // ink, top row
    EXPECT_EQ(png.GetPixelColor(1, 1, false).red, 255);  // paper
    EXPECT_EQ(png.GetPixelColor(9, 0, false).red, 0);

    // A 1-bit page goes out as a bitmap even under a ".ppm" name, and comes
    // back the same (only the unused bits after the last pixel may differ);
    // the source kind is found from the content.
    ASSERT_TRUE(ConvertWithFreeImage(dir.File("page.png"), dir.File("back.ppm")));
    std::vector<uint8_t> back = ReadFileBytes(dir.File("back.ppm"));
    ASSERT_EQ(back.size(), pbm.size());
    for (size_t i : {9u, 11u}) back[i] &= 0xC0;
    EXPECT_EQ(back, pbm);
    ASSERT_TRUE(WriteFileBytes(dir.File("disguised.gif"), pbm));
    EXPECT_TRUE(ConvertWithFreeImage(dir.File("disguised.gif"), dir.File("again.pgm")));

    EXPECT_FALSE(ConvertWithFreeImage("", dir.File("x.png")));
    EXPECT_FALSE(ConvertWithFreeImage(dir.File("page.png"), ""));
    EXPECT_FALSE(ConvertWithFreeImage(dir.File("missing.png"), dir.File("x.png")));
    EXPECT_FALSE(ConvertWithFreeImage(dir.File("page.png"), dir.File("x.unknownkind")));
    EXPECT_FALSE(testing::RunShell("test -e '" + dir.File("x.unknownkind") + "'") == 0);
}

size_t TempFileCount() {
    size_t n = 0;
    if (DIR* d = opendir(TempFilesDirectory().c_str())) {
        while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// The test programs have no deskew tool beside them.
TEST(ExternalDeskewStep, WithoutTheToolLeavesTheBinarisedPage) {
    RasterImage page(64, 48, 24);
    page.Clear(255);
    for (int32_t x = 5; x < 60; ++x) page.SetPixelColor(x, 20, RgbQuad{10, 20, 30, 0});
    page.SetXDpi(300);
    ToolOptions options;
    const size_t before = TempFileCount();
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(ExternalDeskewStep(options, page, 0));
    ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(page.GetBpp(), 1u);
    EXPECT_EQ(page.GetPaletteColor(0), (RgbQuad{255, 255, 255, 0}));
    EXPECT_EQ(page.GetPixelIndex(30, 20), 1);  // ink is a set bit
    EXPECT_EQ(page.GetPixelIndex(30, 21), 0);
    EXPECT_EQ(page.GetXDpi(), 300);
    EXPECT_EQ(TempFileCount(), before);  // nothing of the attempt is left
}

// A 60 x 40 light grey page in a 6-pixel black frame, as PNG.
void WriteFramedPage(const std::string& path) {
    RasterImage page(60, 40, 24);
    page.Clear(230);
    for (int32_t y = 0; y < 40; ++y)
        for (int32_t x = 0; x < 60; ++x)
            if (x < 6 || y < 6 || x >= 54 || y >= 34) page.SetPixelColor(x, y, RgbQuad{});
    ASSERT_TRUE(page.Save(path.c_str(), kFormatPng)) << page.GetLastError();
}

TEST(RemoveBorders, FillsTheFrameAndNeedsTheConverter) {
    ScratchDir dir;
    WriteFramedPage(dir.File("in.png"));
    ToolOptions options;
    SetDefaultOptions(options);
    EXPECT_EQ(RemoveBorders(options, dir.File("in.png"), dir.File("none.png")), 0);
    EXPECT_EQ(RemoveBordersWith(dir.File("no-converter"), options, dir.File("in.png"),
                                dir.File("none.png")),
              0);
    EXPECT_FALSE(testing::RunShell("test -e '" + dir.File("none.png") + "'") == 0);

    ASSERT_EQ(RemoveBordersWith(kConverter, options, dir.File("in.png"), dir.File("out.png")), 1);
    RasterImage out;
    ASSERT_TRUE(out.Load(dir.File("out.png").c_str(), 0));
    EXPECT_EQ(out.GetWidth(), 60u);
    EXPECT_EQ(out.GetPixelColor(0, 0, false).red, 255);
    EXPECT_EQ(out.GetPixelColor(30, 20, false).red, 230);
}

TEST(RemoveBorders, WorksInPlaceAndNeverTakesAnOldFileForItsResult) {
    ScratchDir dir;
    ToolOptions options;
    SetDefaultOptions(options);

    // Input and output the same file: read from a copy, result in its place.
    WriteFramedPage(dir.File("same.png"));
    ASSERT_EQ(RemoveBordersWith(kConverter, options, dir.File("same.png"), dir.File("same.png")),
              1);
    RasterImage same;
    ASSERT_TRUE(same.Load(dir.File("same.png").c_str(), 0));
    EXPECT_EQ(same.GetPixelColor(0, 0, false).red, 255);

    // The converter cannot read the input: an older output stays as it was
    // and does not count as a result.
    ASSERT_TRUE(WriteFileBytes(dir.File("broken.png"), {'n', 'o', 't', ' ', 'p', 'n', 'g'}));
    ASSERT_TRUE(WriteFileBytes(dir.File("old.png"), {'o', 'l', 'd'}));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RemoveBordersWith(kConverter, options, dir.File("broken.png"), dir.File("old.png")),
              0);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("imgconv.dll wrote no result"), std::string::npos) << err;
    EXPECT_EQ(ReadFileBytes(dir.File("old.png")), (std::vector<uint8_t>{'o', 'l', 'd'}));

    // A result that cannot be put in place is reported, and nothing is left.
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(RemoveBordersWith(kConverter, options, dir.File("same.png"), dir.File("no/out.png")),
              0);
    const std::string cannot = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(cannot.find("Cannot write"), std::string::npos) << cannot;
    EXPECT_NE(cannot.find("no/out.png"), std::string::npos) << cannot;
}

TEST(RunDeskewTool, FailsQuietlyWithoutTheTool) {
    ScratchDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.File("in.pbm"), {'P', '4', '\n', '1', ' ', '1', '\n', 0}));
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(RunDeskewTool(dir.File("in.pbm"), dir.File("out.pbm"), 0));
    EXPECT_FALSE(RunDeskewToolAt(dir.File("missing"), dir.File("in.pbm"), dir.File("out.pbm"), 0));
    EXPECT_FALSE(RunDeskewToolAt("/usr/bin/unpaper", "", dir.File("out.pbm"), 0));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace sheetmend
