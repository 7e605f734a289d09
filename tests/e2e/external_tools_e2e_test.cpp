// The external tool steps with the real programs beside the binary: unpaper
// as mendkit.dll for -deskew and -despeckle, ImageMagick as imgconv.dll for
// -removeborder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <numbers>

#include "tests/e2e/e2e_support.h"

namespace sheetmend::testing {
namespace {

constexpr RgbQuad kWhite{255, 255, 255, 0};
constexpr RgbQuad kBlack{0, 0, 0, 0};

void Put(RasterImage& img, int32_t x, int32_t y, RgbQuad c) {
    img.SetPixelColor(x, static_cast<int32_t>(img.GetHeight()) - 1 - y, c);
}
RgbQuad At(const RasterImage& img, int32_t x, int32_t y) {
    return img.GetPixelColor(x, static_cast<int32_t>(img.GetHeight()) - 1 - y, false);
}
bool IsInk(const RasterImage& img, int32_t x, int32_t y) {
    return At(img, x, y).red < 128;
}

void FillRect(RasterImage& img, int32_t x0, int32_t y0, int32_t x1, int32_t y1, RgbQuad c) {
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x) Put(img, x, y, c);
}

// A text-like page: 20 bars 700 pixels long and 6 high, turned by `degrees`
// about the page centre.
constexpr int32_t kPageW = 1000, kPageH = 1300;
RasterImage TurnedPage(double degrees, uint32_t bpp) {
    RasterImage page(kPageW, kPageH, 24);
    page.Clear(255);
    page.SetXDpi(150);
    page.SetYDpi(150);
    const double a = degrees * std::numbers::pi / 180.0, c = std::cos(a), s = std::sin(a);
    const double cx = kPageW / 2.0, cy = kPageH / 2.0;
    for (int32_t y = 0; y < kPageH; ++y)
        for (int32_t x = 0; x < kPageW; ++x) {
            // The point of the upright page that lands here.
            const double ux = cx + (x - cx) * c + (y - cy) * s;
            const double uy = cy - (x - cx) * s + (y - cy) * c;
            if (ux < 150 || ux >= 850 || uy < 250) continue;
            const double band = (uy - 250) / 45;
            if (band < 20 && uy - 250 - 45 * std::floor(band) < 6) Put(page, x, y, kBlack);
        }
    if (bpp == 8) page.DecreaseBpp(8, false);
    if (bpp == 32) page.AlphaCreate();  // an RGBA file: opaque, but with an alpha channel
    return page;
}

// The slope of the first bar's top edge, in degrees, from two columns.
double FirstBarAngle(const RasterImage& page) {
    auto topInk = [&](int32_t x) {
        for (int32_t y = 100; y < 600; ++y)
            if (IsInk(page, x, y)) return y;
        return -1;
    };
    const int32_t x1 = 300, x2 = 700, y1 = topInk(x1), y2 = topInk(x2);
    if (y1 < 0 || y2 < 0) return 90.0;
    return std::atan2(y2 - y1, x2 - x1) * 180.0 / std::numbers::pi;
}

class ExternalTools : public ::testing::Test {
  protected:
    ProgramResult Run(const std::vector<std::string>& args) {
        return RunSheetmend(args, dir.path());
    }
    static bool Has(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }
    ScratchDir dir;
};

TEST_F(ExternalTools, DeskewStraightensATurnedPage) {
    // A 24-bit page goes to the tool as a bitmap named .ppm, an 8-bit one as
    // .pgm; with a scan range the tool gets it as 5.00. A page with an alpha
    // channel is deskewed too (Netpbm has none: it is dropped).
    struct Case {
        uint32_t bpp;
        std::vector<std::string> extra;
    };
    for (const Case& c : {Case{24, {}}, Case{8, {"-skewrange", "5"}}, Case{32, {}}}) {
        SCOPED_TRACE(c.bpp);
        RasterImage turned = TurnedPage(2.0, c.bpp);
        ASSERT_NEAR(FirstBarAngle(turned), 2.0, 0.2);
        SaveOrFail(turned, dir.File("turned.png"));
        std::vector<std::string> args = {"-deskew"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        args.insert(args.end(), {"turned.png", "straight.png"});
        ProgramResult r = Run(args);
        ASSERT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_TRUE(Has(r.out, "[Message] Image processing takes ")) << r.out;
        RasterImage straight = LoadOrFail(dir.File("straight.png"));
        EXPECT_EQ(straight.GetWidth(), static_cast<uint32_t>(kPageW));
        EXPECT_EQ(straight.GetHeight(), static_cast<uint32_t>(kPageH));
        EXPECT_EQ(straight.GetXDpi(), 150);
        EXPECT_LT(std::fabs(FirstBarAngle(straight)), 0.4);
        std::remove(dir.File("straight.png").c_str());
    }
}

// Ink pixels with almost no ink around them (fewer than 5 in their 7 x 7
// neighbourhood), and all ink pixels.
std::pair<int32_t, int32_t> SpecksAndInk(const RasterImage& page) {
    const auto w = static_cast<int32_t>(page.GetWidth()),
               h = static_cast<int32_t>(page.GetHeight());
    std::vector<uint8_t> ink(static_cast<size_t>(w) * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) ink[static_cast<size_t>(y) * w + x] = IsInk(page, x, y);
    int32_t specks = 0, total = 0;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            if (!ink[static_cast<size_t>(y) * w + x]) continue;
            ++total;
            int32_t around = 0;
            for (int32_t v = std::max(0, y - 3); v <= std::min(h - 1, y + 3); ++v)
                for (int32_t u = std::max(0, x - 3); u <= std::min(w - 1, x + 3); ++u)
                    around += ink[static_cast<size_t>(v) * w + u];
            specks += around < 5;
        }
    return {specks, total};
}

TEST_F(ExternalTools, DespeckleRemovesIsolatedSpecks) {
    // Eight bars of 600 x 6 and a dozen specks of one or two pixels above them.
    RasterImage page(800, 600, 1);
    page.SetPaletteColor(0, 255, 255, 255);
    page.SetPaletteColor(1, 0, 0, 0);
    for (int32_t i = 0; i < 8; ++i) FillRect(page, 100, 100 + 40 * i, 700, 106 + 40 * i, kBlack);
    for (int32_t i = 0; i < 12; ++i) {
        const int32_t x = 60 + 55 * i, y = 30 + (i % 3) * 20;
        Put(page, x, y, kBlack);
        if (x % 2) Put(page, x + 1, y, kBlack);
    }
    ASSERT_EQ(SpecksAndInk(page), (std::pair<int32_t, int32_t>{18, 8 * 600 * 6 + 18}));
    SaveOrFail(page, dir.File("specks.png"));
    ProgramResult r = Run({"-despeckle", "specks.png", "clean.png"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    // The tool may move the content on the sheet; what matters is that the
    // specks are gone and the bars are not.
    const auto [specks, ink] = SpecksAndInk(LoadOrFail(dir.File("clean.png")));
    EXPECT_EQ(specks, 0);
    EXPECT_GE(ink, 8 * 600 * 6 * 95 / 100);
    EXPECT_LE(ink, 8 * 600 * 6 * 105 / 100);
}

// A 24-bit white page in a 12-pixel black photocopy border with a black
// smudge grown out of it, a band of grey 90 inside the border on the left,
// and a black block of "text" standing free in the middle.
RasterImage BorderedPage() {
    RasterImage page(300, 200, 24);
    page.Clear(255);
    page.SetXDpi(300);
    page.SetYDpi(300);
    FillRect(page, 0, 0, 300, 12, kBlack);
    FillRect(page, 0, 188, 300, 200, kBlack);
    FillRect(page, 0, 0, 12, 200, kBlack);
    FillRect(page, 288, 0, 300, 200, kBlack);
    FillRect(page, 150, 12, 170, 30, kBlack);
    FillRect(page, 12, 12, 18, 188, RgbQuad{90, 90, 90, 0});
    FillRect(page, 100, 80, 200, 120, kBlack);
    return page;
}

void SaveBorderedPage(const std::string& path) {
    RasterImage page = BorderedPage();
    SaveOrFail(page, path);
}

TEST_F(ExternalTools, RemoveBorderFillsTheBorderWhiteWithinTheFuzz) {
    SaveBorderedPage(dir.File("copy.png"));
    struct Case {
        std::vector<std::string> fuzz;
        uint8_t band;  // the grey band afterwards: 90 kept, 255 filled
    };
    // 90 lies between 35 % and 36 % of 255: -fuzz 35.9 must be passed as 35.
    for (const Case& c : {Case{{}, 255}, Case{{"-fuzz", "35.9"}, 90}, Case{{"-fuzz", "36"}, 255}}) {
        SCOPED_TRACE(c.fuzz.empty() ? "default" : c.fuzz[1]);
        std::vector<std::string> args = {"-removeborder"};
        args.insert(args.end(), c.fuzz.begin(), c.fuzz.end());
        args.insert(args.end(), {"copy.png", "clean.png"});
        ProgramResult r = Run(args);
        ASSERT_EQ(r.status, 1) << r.out << r.err;
        RasterImage clean = LoadOrFail(dir.File("clean.png"));
        ASSERT_EQ(clean.GetWidth(), 300u);
        ASSERT_EQ(clean.GetHeight(), 200u);
        for (auto [x, y] : {std::pair{0, 0}, {5, 100}, {299, 199}, {160, 20}, {295, 50}})
            EXPECT_EQ(At(clean, x, y).red, 255) << x << "," << y;
        EXPECT_EQ(At(clean, 14, 100).red, c.band);
        EXPECT_EQ(At(clean, 150, 100).red, 0);  // the free-standing block stays
        std::remove(dir.File("clean.png").c_str());
    }
}

TEST_F(ExternalTools, RemoveBorderOnItsOwnInputWorksFromACopy) {
    SaveBorderedPage(dir.File("page.png"));
    const std::vector<uint8_t> before = ReadFileBytes(dir.File("page.png"));
    ProgramResult r = Run({"-removeborder", "page.png", "page.png"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(ReadFileBytes(dir.File("page.png")), before);
    EXPECT_EQ(At(LoadOrFail(dir.File("page000.png")), 0, 0).red, 255);

    // Names that differ only in case are one file on some systems: the
    // program reads a copy and writes the other name.
    SaveBorderedPage(dir.File("Scan.png"));
    r = Run({"-removeborder", "Scan.png", "scan.png"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(At(LoadOrFail(dir.File("scan.png")), 0, 0).red, 255);
    EXPECT_EQ(At(LoadOrFail(dir.File("Scan.png")), 0, 0).red, 0);
}

TEST_F(ExternalTools, FileNamesReachTheConverterWhole) {
    const std::string hostile = "it's \"a\" ; $(touch pwned1) `touch pwned2` & touch pwned3 | x";
    SaveBorderedPage(dir.File(hostile + ".png"));
    ProgramResult r = Run({"-removeborder", hostile + ".png", "out \"" + hostile + "\".tif"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    RasterImage out = LoadOrFail(dir.File("out \"" + hostile + "\".tif"));
    EXPECT_EQ(At(out, 0, 0).red, 255);
    for (const char* f : {"pwned1", "pwned2", "pwned3"}) EXPECT_FALSE(Exists(dir.File(f))) << f;

    // A name that looks like an option is still a file name.
    SaveBorderedPage(dir.File("-negate.png"));
    r = Run({"-removeborder", "./-negate.png", "plain.png"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(At(LoadOrFail(dir.File("plain.png")), 150, 100).red, 0);
}

// The binary copied alone into a folder (a link would be followed back to
// the build folder, where the tools are), with `tools` written beside it.
class Layout : public ExternalTools {
  protected:
    std::string Lay() {
        const std::string bin = dir.File("bin");
        mkdir(bin.c_str(), 0755);
        EXPECT_EQ(RunShell("cp '" + SheetmendBinary() + "' '" + bin + "/sheetmend'"), 0);
        return bin;
    }
    ProgramResult RunLaid(const std::vector<std::string>& args) {
        return RunProgram(dir.File("bin/sheetmend"), args, dir.path());
    }
};

TEST_F(Layout, MissingToolsFailSilently) {
    Lay();
    SaveBorderedPage(dir.File("page.png"));
    ProgramResult r = RunLaid({"-removeborder", "page.png", "clean.png"});
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(Exists(dir.File("clean.png")));
    EXPECT_FALSE(Has(r.out, "ERROR")) << r.out;
    EXPECT_EQ(r.err, "");

    // Without the deskew tool the page is still made black and white and saved.
    r = RunLaid({"-deskew", "page.png", "bw.png"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_FALSE(Has(r.out, "Image processing takes")) << r.out;
    EXPECT_EQ(r.err, "");
    RasterImage bw = LoadOrFail(dir.File("bw.png"));
    EXPECT_EQ(bw.GetBpp(), 1u);
    EXPECT_EQ(At(bw, 0, 0).red, 0);
    EXPECT_EQ(At(bw, 50, 50).red, 255);
}

TEST_F(Layout, DeskewToolGetsABitmapAndItsResultComesBackExactly) {
    // A stand-in tool that keeps its arguments and its input, and hands the
    // input back unchanged.
    const std::string bin = Lay();
    const std::string script =
        "#!/bin/sh\n"
        "here=$(dirname \"$0\")\n"
        "printf '%s\\n' \"$@\" > \"$here/args.txt\"\n"
        "for last; do :; done\n"
        "eval \"in=\\${$(($# - 1))}\"\n"
        "cp \"$in\" \"$here/seen\"\n"
        "cp \"$in\" \"$last\"\n";
    ASSERT_TRUE(
        WriteFileBytes(bin + "/mendkit.dll", std::vector<uint8_t>(script.begin(), script.end())));
    ASSERT_EQ(chmod((bin + "/mendkit.dll").c_str(), 0755), 0);

    const RasterImage colour = BorderedPage();
    struct Case {
        uint32_t bpp;
        const char* exchange;
        std::vector<std::string> range;
    };
    for (const Case& c :
         {Case{24, ".ppm", {}}, Case{8, ".pgm", {"-skewrange", "5"}}, Case{1, ".pbm", {}}}) {
        SCOPED_TRACE(c.bpp);
        RasterImage page(colour);
        if (c.bpp < 24) page.DecreaseBpp(c.bpp, false);
        SaveOrFail(page, dir.File("page.png"));
        std::vector<std::string> args = {"-deskew"};
        args.insert(args.end(), c.range.begin(), c.range.end());
        args.insert(args.end(), {"page.png", "out.png"});
        ProgramResult r = RunLaid(args);
        ASSERT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_TRUE(Has(r.out, "[Message] Image processing takes ")) << r.out;

        // The command line: optional range, then input and output, both
        // named by the page's original depth.
        std::string lines = ReadText(bin + "/args.txt");
        const std::string expectedStart = c.range.empty() ? "" : "--deskew-scan-range\n5.00\n";
        EXPECT_EQ(lines.substr(0, expectedStart.size()), expectedStart) << lines;
        lines = lines.substr(expectedStart.size());
        const size_t cut = lines.find('\n');
        ASSERT_NE(cut, std::string::npos);
        const std::string in = lines.substr(0, cut), out = lines.substr(cut + 1);
        EXPECT_EQ(in.substr(in.size() - 4), c.exchange) << in;
        EXPECT_EQ(out.substr(out.size() - 5), std::string(c.exchange) + "\n") << out;

        // What the tool saw: a raw bitmap, ink as set bits (the corner is
        // border, the middle of the top row paper).
        const std::vector<uint8_t> seen = ReadFileBytes(bin + "/seen");
        const std::string header = "P4\n300 200\n";
        ASSERT_GT(seen.size(), header.size() + 20);
        EXPECT_EQ(std::string(seen.begin(), seen.begin() + 3), "P4\n");
        const size_t data = seen.size() - 38 * 200;  // 300 pixels: 38 bytes a row
        EXPECT_EQ(seen[data] & 0x80, 0x80);
        EXPECT_EQ(seen[data + 38 * 50 + 6], 0x00);  // row 50, pixels 48 .. 55: paper

        // The page comes back as the tool left it: black and white, at its
        // own resolution.
        RasterImage back = LoadOrFail(dir.File("out.png"));
        ASSERT_EQ(back.GetWidth(), 300u);
        EXPECT_EQ(back.GetXDpi(), 300);
        for (int32_t y = 0; y < 200; ++y)
            for (int32_t x = 0; x < 300; ++x)
                ASSERT_EQ(IsInk(back, x, y), At(colour, x, y).red < 128) << x << "," << y;
        std::remove(dir.File("out.png").c_str());
    }
}

TEST_F(ExternalTools, FourBitPagePassesTheDeskewStepUntouched) {
    RasterImage page(90, 70, 4);
    page.SetXDpi(300);
    page.SetYDpi(300);
    for (int32_t y = 0; y < 70; ++y)
        for (int32_t x = 0; x < 90; ++x)
            page.SetPixelIndex(x, y, static_cast<uint8_t>((x / 6 + y / 5) & 15));
    SaveOrFail(page, dir.File("four.bmp"));
    ProgramResult r = Run({"-deskew", "four.bmp", "same.bmp"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_FALSE(Has(r.out, "Image processing takes")) << r.out;
    RasterImage same = LoadOrFail(dir.File("same.bmp"));
    ASSERT_EQ(same.GetBpp(), 4u);
    for (int32_t y = 0; y < 70; ++y)
        for (int32_t x = 0; x < 90; ++x) ASSERT_EQ(At(same, x, y), At(page, x, y)) << x << "," << y;
}

}  // namespace
}  // namespace sheetmend::testing
