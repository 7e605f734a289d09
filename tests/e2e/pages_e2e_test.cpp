// Files of several pages, end to end: a four-page TIFF put together by
// tiffcp from pages drawn here (1-bit G4 at 300 dpi, 8-bit LZW, 1-bit at
// 150 dpi, 24-bit), run through every operation. Each result page must equal
// the result of the same operation on that page alone, the documents are
// read back with tiffinfo, pdfinfo and pdfimages, and a single-page input
// must still give exactly the bytes and the console text recorded before the
// page loop existed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include "tests/e2e/e2e_support.h"
#include "tests/image/codecs_pdf/pdf_test_support.h"
#include "tests/support/source_root.h"

namespace sheetmend::testing {
namespace {

struct PageSpec {
    uint32_t width, height, bpp;
    int32_t dpi;
    const char* compression;  // as tiffcp -c names it
    const char* word;
    const char* tiffinfoCompression;
};

constexpr PageSpec kPages[] = {
    {1000, 700, 1, 300, "g4", "ALPHA", "CCITT Group 4"},
    {900, 640, 8, 200, "lzw", "BRAVO", "LZW"},
    {800, 600, 1, 150, "none", "DELTA", "None"},
    {960, 660, 24, 96, "zip", "GAMMA", "AdobeDeflate"},
};
constexpr int kPageCount = 4;

// A page with a black frame (a margin to trim and a long line to remove), a
// ruled line, a word in large type and a few specks.
RasterImage DrawPage(const PageSpec& spec) {
    RasterImage page(spec.width, spec.height, 24);
    page.Clear(255);
    const auto w = static_cast<int32_t>(spec.width), h = static_cast<int32_t>(spec.height);
    auto fill = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1, RgbQuad c) {
        for (int32_t y = y0; y < y1; ++y)
            for (int32_t x = x0; x < x1; ++x) page.SetPixelColor(x, h - 1 - y, c);
    };
    const RgbQuad black{0, 0, 0, 0};
    fill(0, 0, w, 30, black);
    fill(0, h - 30, w, h, black);
    fill(0, 0, 30, h, black);
    fill(w - 30, 0, w, h, black);
    fill(80, 120, w - 80, 128, RgbQuad{60, 60, 60, 0});
    fill(w / 2, h - 120, w / 2 + 2, h - 118, black);
    fill(w / 3, h - 100, w / 3 + 3, h - 97, black);
    EXPECT_EQ(page.DrawString(90, 330, spec.word, black, "Arial", 110), 1);
    if (spec.bpp == 8) page.GrayScale();
    if (spec.bpp == 1) page.Threshold(128);
    page.SetXDpi(spec.dpi);
    page.SetYDpi(spec.dpi);
    return page;
}

// The same pixels in both images: size, depth and every pixel's colour.
::testing::AssertionResult SamePixels(const RasterImage& a, const RasterImage& b) {
    if (!a.IsValid() || !b.IsValid()) return ::testing::AssertionFailure() << "an image is empty";
    if (a.GetWidth() != b.GetWidth() || a.GetHeight() != b.GetHeight() || a.GetBpp() != b.GetBpp())
        return ::testing::AssertionFailure()
               << a.GetWidth() << "x" << a.GetHeight() << "x" << a.GetBpp() << " vs "
               << b.GetWidth() << "x" << b.GetHeight() << "x" << b.GetBpp();
    for (uint32_t y = 0; y < a.GetHeight(); ++y)
        for (uint32_t x = 0; x < a.GetWidth(); ++x) {
            const RgbQuad p =
                a.GetPixelColor(static_cast<int32_t>(x), static_cast<int32_t>(y), false);
            const RgbQuad q =
                b.GetPixelColor(static_cast<int32_t>(x), static_cast<int32_t>(y), false);
            if (p.red != q.red || p.green != q.green || p.blue != q.blue)
                return ::testing::AssertionFailure() << "pixel " << x << "," << y << " differs";
        }
    return ::testing::AssertionSuccess();
}

// What the program printed for the page, without the pair's own lines (the
// "in ==> out" line and the timing line).
std::string OwnLines(const std::string& out) {
    std::istringstream lines(out);
    std::string line, kept;
    while (std::getline(lines, line))
        if (line.find(" ==> ") == std::string::npos && line.find("Total used") == std::string::npos)
            kept += line + "\n";
    return kept;
}

// The console text of each page of a multi-page run, split at the page lines.
std::vector<std::string> PageSections(const std::string& out, int pages) {
    std::vector<std::string> sections;
    for (int k = 1; k <= pages; ++k) {
        const std::string mark =
            "[Message] Page " + std::to_string(k) + " of " + std::to_string(pages) + "\n";
        const size_t at = out.find(mark);
        if (at == std::string::npos) return sections;
        std::string next = "[Message] Page " + std::to_string(k + 1) + " of ";
        size_t end = out.find(next, at);
        if (k == pages) end = out.find("[Message] Total used", at);
        sections.push_back(OwnLines(out.substr(at + mark.size(), end - at - mark.size())));
    }
    return sections;
}

RasterImage LoadPage(const std::string& path, int32_t index) {
    RasterImage img;
    img.SetFrame(index);
    EXPECT_TRUE(img.Load(path.c_str(), 0))
        << path << " page " << index << ": " << img.GetLastError();
    return img;
}

// tiffinfo's directories of a file: one text per page.
std::vector<std::string> TiffDirectories(const std::string& path) {
    std::string out;
    RunShell("tiffinfo '" + path + "' 2>&1", &out);
    std::vector<std::string> dirs;
    size_t at = out.find("TIFF Directory at");
    while (at != std::string::npos) {
        const size_t next = out.find("TIFF Directory at", at + 1);
        dirs.push_back(out.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = next;
    }
    return dirs;
}

class Pages : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string list;
        for (int k = 0; k < kPageCount; ++k) {
            RasterImage page = DrawPage(kPages[k]);
            const std::string drawn = dir.File("drawn" + std::to_string(k + 1) + ".tif");
            SaveOrFail(page, drawn);
            const std::string single = PageFile(k);
            std::string out;
            ASSERT_EQ(RunShell(std::string("tiffcp -c ") + kPages[k].compression + " '" + drawn +
                                   "' '" + single + "' 2>&1",
                               &out),
                      0)
                << out;
            list += " '" + single + "'";
        }
        std::string out;
        ASSERT_EQ(RunShell("tiffcp" + list + " '" + dir.File("scan.tif") + "' 2>&1", &out), 0)
            << out;
    }
    std::string PageFile(int k) const { return dir.File("page" + std::to_string(k + 1) + ".tif"); }
    ProgramResult Run(std::vector<std::string> args) { return RunSheetmend(args, dir.path()); }
    ScratchDir dir;
};

TEST_F(Pages, TheDrawnScanHasTheFourPagesItIsMeantToHave) {
    const std::vector<std::string> dirs = TiffDirectories(dir.File("scan.tif"));
    ASSERT_EQ(dirs.size(), 4u);
    for (int k = 0; k < kPageCount; ++k) {
        SCOPED_TRACE(k + 1);
        const PageSpec& s = kPages[k];
        EXPECT_NE(dirs[k].find("Image Width: " + std::to_string(s.width)), std::string::npos)
            << dirs[k];
        EXPECT_NE(dirs[k].find(std::string("Compression Scheme: ") + s.tiffinfoCompression),
                  std::string::npos)
            << dirs[k];
        const std::string bits =
            s.bpp == 24 ? "Bits/Sample: 8" : "Bits/Sample: " + std::to_string(s.bpp);
        EXPECT_NE(dirs[k].find(bits), std::string::npos) << dirs[k];
        const std::string res =
            "Resolution: " + std::to_string(s.dpi) + ", " + std::to_string(s.dpi);
        EXPECT_NE(dirs[k].find(res), std::string::npos) << dirs[k];
    }
}

// Every operation that writes pages: to a multi-page TIFF, page k of the
// result is the single-page result of page k, with the same messages.
struct OperationCase {
    const char* name;
    std::vector<std::string> options;
    int status;  // for the whole file and for each page alone
    // The page alone is coded by ImageMagick rather than by us, so its
    // compression may differ.
    bool foreignCoder = false;
};

const OperationCase kOperations[] = {
    {"threshold", {"-threshold", "0"}, 1},
    {"removelongline", {"-removelongline", "0"}, 1},
    {"trimmargin", {"-trimmargin"}, 1},
    {"deskew2 despeckle2", {"-deskew2", "-despeckle2"}, 0},
    {"layout", {"-layout"}, 1},
    {"removeborder", {"-removeborder"}, 1, true},
};

TEST_F(Pages, EveryOperationGivesEachPageItsSinglePageResultInOneTiff) {
    for (const OperationCase& op : kOperations) {
        SCOPED_TRACE(op.name);
        std::vector<std::string> args = op.options;
        args.push_back("scan.tif");
        args.push_back("out.tif");
        unlink(dir.File("out.tif").c_str());
        const ProgramResult r = Run(args);
        EXPECT_EQ(r.status, op.status) << r.out << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(TimingLines(r.out), 1);

        const std::vector<std::string> dirs = TiffDirectories(dir.File("out.tif"));
        ASSERT_EQ(dirs.size(), 4u) << r.out;
        const std::vector<std::string> sections = PageSections(r.out, kPageCount);
        ASSERT_EQ(sections.size(), 4u) << r.out;
        for (int k = 0; k < kPageCount; ++k) {
            SCOPED_TRACE(k + 1);
            const std::string pageNumber = "Page Number: " + std::to_string(k) + "-4";
            EXPECT_NE(dirs[k].find(pageNumber), std::string::npos) << dirs[k];
            EXPECT_NE(dirs[k].find("PageName: Page " + std::to_string(k + 1)), std::string::npos);
            EXPECT_NE(dirs[k].find("Subfile Type: multi-page document (2"), std::string::npos);

            std::vector<std::string> alone = op.options;
            alone.push_back(PageFile(k));
            alone.push_back("alone.tif");
            unlink(dir.File("alone.tif").c_str());
            const ProgramResult single = Run(alone);
            EXPECT_EQ(single.status, op.status) << single.out;
            EXPECT_EQ(sections[k], OwnLines(single.out));
            EXPECT_TRUE(
                SamePixels(LoadPage(dir.File("out.tif"), k), LoadOrFail(dir.File("alone.tif"))));
            // Each page is coded by its own depth, as the single page is.
            if (op.foreignCoder) continue;
            const std::vector<std::string> aloneDir = TiffDirectories(dir.File("alone.tif"));
            ASSERT_EQ(aloneDir.size(), 1u);
            const size_t c = aloneDir[0].find("Compression Scheme: ");
            ASSERT_NE(c, std::string::npos);
            const std::string scheme = aloneDir[0].substr(c, aloneDir[0].find('\n', c) - c);
            EXPECT_NE(dirs[k].find(scheme), std::string::npos) << dirs[k];
        }
    }
}

TEST_F(Pages, APdfGetsOnePagePerInputPage) {
    const ProgramResult r = Run({"-threshold", "0", "scan.tif", "out.pdf"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    const std::string pdf = dir.File("out.pdf");
    EXPECT_TRUE(QpdfCheckPasses(pdf));
    EXPECT_EQ(PdfInfoField(pdf, "Pages"), "4");
    const std::vector<ListedImage> images = ListImages(pdf);
    ASSERT_EQ(images.size(), 4u);
    for (int k = 0; k < kPageCount; ++k) {
        SCOPED_TRACE(k + 1);
        EXPECT_EQ(images[k].page, k + 1);
        EXPECT_EQ(images[k].width, static_cast<int>(kPages[k].width));
        EXPECT_EQ(images[k].height, static_cast<int>(kPages[k].height));
        EXPECT_EQ(images[k].bits, 1);  // every page was thresholded
        EXPECT_EQ(images[k].encoding, "ccitt");
        EXPECT_EQ(images[k].xPpi, kPages[k].dpi);
        // The page is as large as the image at its own resolution.
        double w = 0, h = 0;
        ASSERT_TRUE(PageSize(pdf, k + 1, &w, &h));
        EXPECT_NEAR(w, kPages[k].width * 72.0 / kPages[k].dpi, 0.01);
        EXPECT_NEAR(h, kPages[k].height * 72.0 / kPages[k].dpi, 0.01);
    }
}

TEST_F(Pages, SingleImageFormatsGetNumberedFilesThatNeverOverwrite) {
    // A file already called like page 3's: page 3 takes the next free name.
    RasterImage older(10, 10, 24);
    older.Clear(7);
    SaveOrFail(older, dir.File("out-3.png"));
    const std::vector<uint8_t> olderBytes = ReadFileBytes(dir.File("out-3.png"));

    const ProgramResult r = Run({"-threshold", "0", "scan.tif", "out.png"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    const char* names[] = {"out.png", "out-2.png", "out-3000.png", "out-4.png"};
    for (int k = 0; k < kPageCount; ++k) {
        SCOPED_TRACE(names[k]);
        RasterImage page = LoadOrFail(dir.File(names[k]));
        EXPECT_EQ(page.GetWidth(), kPages[k].width);
        EXPECT_EQ(page.GetHeight(), kPages[k].height);
        EXPECT_EQ(page.GetBpp(), 1u);
        EXPECT_EQ(page.GetXDpi(), kPages[k].dpi);
    }
    EXPECT_EQ(ReadFileBytes(dir.File("out-3.png")), olderBytes);
    EXPECT_FALSE(Exists(dir.File("out-1.png")));
    EXPECT_FALSE(Exists(dir.File("out-5.png")));
}

TEST_F(Pages, OcrWritesTheBoxFilesOfEveryPageByItsIndex) {
    const ProgramResult r = Run({"-ocr", "scan.tif", "out.png"});
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(PageSections(r.out, kPageCount).size(), 4u) << r.out;
    for (int k = 0; k < kPageCount; ++k) {
        SCOPED_TRACE(k);
        const std::string list = ReadText(dir.File("out-" + std::to_string(k) + ".box.txt"));
        // The engine may miss the odd letter at the edge of a word.
        EXPECT_NE(list.find(std::string(kPages[k].word).substr(2)), std::string::npos) << list;
    }
    EXPECT_FALSE(Exists(dir.File("out-4.box.txt")));
    EXPECT_FALSE(Exists(dir.File("out.png")));
}

TEST_F(Pages, ADamagedPageIsReportedAndTheOthersAreStillWritten) {
    // Page 2 is given a width of 0.
    std::string out;
    ASSERT_EQ(RunShell("cp '" + dir.File("scan.tif") + "' '" + dir.File("damaged.tif") +
                           "' && tiffset -d 1 -s 256 0 '" + dir.File("damaged.tif") + "' 2>&1",
                       &out),
              0)
        << out;
    for (const char* output : {"out.tif", "out.pdf"}) {
        SCOPED_TRACE(output);
        const ProgramResult r = Run({"-threshold", "0", "damaged.tif", output});
        EXPECT_EQ(r.status, 0) << r.out;
        const std::string expected = "[Message] Page 2 of 4\n[ERROR] Failed to load page 2 of \"" +
                                     dir.File("damaged.tif") + "\".\n[Message] Page 3 of 4\n";
        EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
        if (std::string(output) == "out.pdf") {
            EXPECT_EQ(PdfInfoField(dir.File(output), "Pages"), "3");
            continue;
        }
        const std::vector<std::string> dirs = TiffDirectories(dir.File(output));
        ASSERT_EQ(dirs.size(), 3u);
        const int kept[] = {0, 2, 3};
        for (int i = 0; i < 3; ++i) {
            RasterImage page = LoadPage(dir.File(output), i);
            EXPECT_EQ(page.GetWidth(), kPages[kept[i]].width);
            EXPECT_EQ(page.GetHeight(), kPages[kept[i]].height);
        }
    }
}

TEST_F(Pages, APageWhoseOperationFailsKeepsItsPlaceUnchanged) {
    // Three pages without a black margin, then a framed one: trimming fails
    // on the first three, and the result still has four pages.
    std::string list;
    for (int k = 0; k < 3; ++k) {
        RasterImage plain(300 + 10 * k, 200, 24);
        plain.Clear(255);
        plain.DrawString(20, 120, "PLAIN", RgbQuad{0, 0, 0, 0}, "Arial", 60);
        SaveOrFail(plain, dir.File("plain" + std::to_string(k) + ".tif"));
        list += " '" + dir.File("plain" + std::to_string(k) + ".tif") + "'";
    }
    std::string out;
    ASSERT_EQ(
        RunShell("tiffcp" + list + " '" + PageFile(0) + "' '" + dir.File("four.tif") + "' 2>&1",
                 &out),
        0)
        << out;
    const ProgramResult r = Run({"-trimmargin", "four.tif", "out.tif"});
    EXPECT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> sections = PageSections(r.out, 4);
    ASSERT_EQ(sections.size(), 4u) << r.out;
    for (int k = 0; k < 3; ++k)
        EXPECT_NE(sections[k].find("[Error] Failed to locate border"), std::string::npos)
            << sections[k];
    EXPECT_NE(sections[3].find("[OK] Locate border"), std::string::npos) << sections[3];
    ASSERT_EQ(TiffDirectories(dir.File("out.tif")).size(), 4u);
    for (int k = 0; k < 3; ++k)
        EXPECT_TRUE(SamePixels(LoadPage(dir.File("out.tif"), k),
                               LoadOrFail(dir.File("plain" + std::to_string(k) + ".tif"))))
            << "page " << k + 1;
    EXPECT_LT(LoadPage(dir.File("out.tif"), 3).GetWidth(), kPages[0].width);
}

TEST_F(Pages, ADirectoryChainThatLoopsIsCountedOnce) {
    // The last directory is linked back to the first: the chain is cut where
    // it starts again, so the run ends with the four pages.
    const std::string looped = dir.File("looped.tif");
    std::vector<uint8_t> bytes = ReadFileBytes(dir.File("scan.tif"));
    ASSERT_GT(bytes.size(), 8u);
    ASSERT_EQ(bytes[0], 'I');  // libtiff writes the host's order
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(bytes[at]) | (static_cast<uint32_t>(bytes[at + 1]) << 8) |
               (static_cast<uint32_t>(bytes[at + 2]) << 16) |
               (static_cast<uint32_t>(bytes[at + 3]) << 24);
    };
    const uint32_t first = u32(4);
    uint32_t ifd = first, last = first;
    while (ifd != 0 && ifd + 2 <= bytes.size()) {
        last = ifd;
        const uint32_t entries = bytes[ifd] | (bytes[ifd + 1] << 8);
        ifd = u32(ifd + 2 + entries * 12);
    }
    const uint32_t entries = bytes[last] | (bytes[last + 1] << 8);
    const size_t next = last + 2 + entries * 12;
    for (int i = 0; i < 4; ++i) bytes[next + i] = static_cast<uint8_t>(first >> (8 * i));
    ASSERT_TRUE(WriteFileBytes(looped, bytes));

    const ProgramResult r = Run({"-threshold", "0", "looped.tif", "out.tif"});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("[Message] Page 4 of 4\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Page 5"), std::string::npos);
    EXPECT_EQ(TiffDirectories(dir.File("out.tif")).size(), 4u);
}

TEST_F(Pages, AnEndlessDirectoryChainIsCutAtTheLimitWithAMessage) {
    // 1005 tiny pages: the first 1000 are processed, and the pair fails
    // saying how many there were.
    RasterImage tiny(2, 2, 24);
    tiny.Clear(255);
    SaveOrFail(tiny, dir.File("tiny.tif"));
    std::string list;
    for (int i = 0; i < 1005; ++i) list += " tiny.tif";
    std::string out;
    ASSERT_EQ(RunShell("cd '" + dir.path() + "' && tiffcp" + list + " many.tif 2>&1", &out), 0)
        << out;

    const ProgramResult r = Run({"-threshold", "0", "many.tif", "out.tif"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("[ERROR] \"" + dir.File("many.tif") +
                         "\" has 1005 pages; only the first 1000 are processed.\n"),
              std::string::npos)
        << r.out.substr(0, 400);
    EXPECT_NE(r.out.find("[Message] Page 1000 of 1000\n"), std::string::npos);
    EXPECT_EQ(r.out.find("of 1005"), std::string::npos);
    EXPECT_EQ(TiffDirectories(dir.File("out.tif")).size(), 1000u);
}

// The largest resident size of a run, from /usr/bin/time -v (0 when unknown).
long PeakKilobytes(const ScratchDir& dir, const std::string& args) {
    std::string out;
    // A sanitizer build would keep freed pages in its quarantine; without
    // one the option is ignored.
    RunShell("cd '" + dir.path() +
                 "' && ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0\" "
                 "/usr/bin/time -v '" +
                 SheetmendBinary() + "' " + args + " 2>&1 >/dev/null",
             &out);
    const size_t at = out.find("Maximum resident set size (kbytes): ");
    return at == std::string::npos ? 0 : std::stol(out.substr(at + 36));
}

TEST(PagesMemory, TwentyA4PagesNeedHardlyMoreThanOne) {
    if (access("/usr/bin/time", X_OK) != 0) GTEST_SKIP() << "/usr/bin/time is not installed";
    ScratchDir dir;
    // An A4 page at 300 dpi, one bit deep, with a frame and a bar of ink.
    RasterImage page(2480, 3508, 1);
    page.SetPaletteColor(0, 0, 0, 0);
    page.SetPaletteColor(1, 255, 255, 255);
    page.Clear(1);
    for (int32_t y = 200; y < 3300; ++y)
        for (int32_t x = 200; x < 2280; ++x)
            if (y < 260 || y > 3240 || x < 260 || x > 2220 || (y > 1500 && y < 1700))
                page.SetPixelIndex(x, y, 0);
    page.SetXDpi(300);
    page.SetYDpi(300);
    SaveOrFail(page, dir.File("a4.tif"));
    std::string list;
    for (int i = 0; i < 20; ++i) list += " a4.tif";
    std::string out;
    ASSERT_EQ(RunShell("cd '" + dir.path() + "' && tiffcp" + list + " a4x20.tif 2>&1", &out), 0)
        << out;

    for (const char* op : {"-threshold 0", "-removelongline 0", "-deskew2 -despeckle2"})
        for (const char* ext : {"tif", "pdf"}) {
            SCOPED_TRACE(std::string(op) + " to " + ext);
            const long one = PeakKilobytes(dir, std::string(op) + " a4.tif one." + ext);
            const long twenty = PeakKilobytes(dir, std::string(op) + " a4x20.tif twenty." + ext);
            ASSERT_GT(one, 0);
            EXPECT_LE(twenty, one * 3 / 2) << one << " kB for one page";
        }
    EXPECT_EQ(TiffDirectories(dir.File("twenty.tif")).size(), 20u);
}

// A single-page input gives what the program gave before files of several
// pages were read: the same exit status, console text and output bytes (FNV-1a
// of the file), recorded from that build. "@" stands for the work folder and
// "Nms" for the time taken.
struct StoredRun {
    std::vector<std::string> args;
    int status;
    const char* out;
    const char* err;
    uint64_t outputHash;  // 0: no output file
};

const StoredRun kStoredRuns[] = {
    {{"-threshold", "0", "in.tif", "out.tif"},
     1,
     "@/in.tif ==> @/out.tif\n[Message] OptimalThreshold=101\n[Message] Total used Nms.\n",
     "",
     0x93eeb4f8c72f8d24ull},
    {{"-threshold", "0", "in.tif", "out.pdf"},
     1,
     "@/in.tif ==> @/out.pdf\n[Message] OptimalThreshold=101\n[Message] Total used Nms.\n",
     "",
     0x18a5b9e4cf03d9a6ull},
    {{"-threshold", "0", "in.tif", "out.png"},
     1,
     "@/in.tif ==> @/out.png\n[Message] OptimalThreshold=101\n[Message] Total used Nms.\n",
     "",
     0xffd5ea0cc20671d4ull},
    {{"-removelongline", "0", "in.tif", "out.png"},
     1,
     "@/in.tif ==> @/out.png\n[Message] OptimalThreshold=101\n[Message] Total used Nms.\n",
     "",
     0x893507ba10a9a7bfull},
    {{"-trimmargin", "in.tif", "out.tif"},
     1,
     "@/in.tif ==> @/out.tif\n[Message] OptimalThreshold=101\n[OK] Locate border (25, 25, 454, "
     "334) from image.\n[Message] Total used Nms.\n",
     "",
     0x5d55d016514d1d1eull},
    {{"-deskew2", "-despeckle2", "in.tif", "out.tif"},
     0,
     "@/in.tif ==> @/out.tif\n[Message] OptimalThreshold=101\n[Message] Total used Nms.\n",
     "",
     0x22faad06149cc4baull},
    {{"-layout", "in.tif", "out.png"},
     1,
     "@/in.tif ==> @/out.png\n[Message] OptimalThreshold=101\n------------------ LayoutAnalysis "
     "------------------\n1, Picture, [15, 15, 464, "
     "344]\n------------------------------------------------\n[Message] Total used Nms.\n",
     "",
     0xe1c720fcb28c95f1ull},
    {{"-bitcount", "24", "-rotate", "90", "in.tif", "out.bmp"},
     1,
     "@/in.tif ==> @/out.bmp\n[Message] Total used Nms.\n",
     "",
     0xb4c56849e16cb7a1ull},
    {{"-threshold", "0", "broken.tif", "out.tif"},
     0,
     "@/broken.tif ==> @/out.tif\n[ERROR] Failed to load \"@/broken.tif\" file.\n[Message] Total "
     "used Nms.\n",
     "",
     0},
    {{"-layout", "in.tif", "out.xyz"},
     1,
     "@/in.tif ==> @/out.xyz\n[Message] OptimalThreshold=101\n------------------ LayoutAnalysis "
     "------------------\n1, Picture, [15, 15, 464, "
     "344]\n------------------------------------------------\n'@/out.xyz' is an unknown image "
     "format.\n[Message] Total used Nms.\n",
     "",
     0},
    {{"-removelongline", "0", "broken.tif", "out.png"},
     0,
     "@/broken.tif ==> @/out.png\n[ERROR] Failed to load \"@/broken.tif\" file.\n[Message] Total "
     "used Nms.\n",
     "",
     0},
};

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ull;
    return h;
}

std::string Normalised(std::string text, const std::string& folder) {
    text = std::regex_replace(text, std::regex(R"(Total used \d+ms \(\d+\.\d\ds\))"),
                              "Total used Nms");
    for (size_t at = text.find(folder); at != std::string::npos; at = text.find(folder, at))
        text.replace(at, folder.size(), "@");
    return text;
}

TEST(SinglePage, OutputsAndConsoleTextAreAsRecordedBefore) {
    const std::string source = SourceRoot() + "/tests/data/pages/single.tif";
    const std::vector<uint8_t> input = ReadFileBytes(source);
    ASSERT_GT(input.size(), 600u) << source;
    for (const StoredRun& run : kStoredRuns) {
        std::string line;
        for (const std::string& a : run.args) line += a + " ";
        SCOPED_TRACE(line);
        ScratchDir dir;
        ASSERT_TRUE(WriteFileBytes(dir.File("in.tif"), input));
        ASSERT_TRUE(WriteFileBytes(dir.File("broken.tif"),
                                   std::vector<uint8_t>(input.begin(), input.begin() + 600)));
        const ProgramResult r = RunSheetmend(run.args, dir.path());
        EXPECT_EQ(r.status, run.status);
        EXPECT_EQ(Normalised(r.out, dir.path()), run.out);
        EXPECT_EQ(Normalised(r.err, dir.path()), run.err);
        const std::string output = dir.File(run.args.back());
        if (run.outputHash == 0) {
            EXPECT_FALSE(Exists(output));
        } else {
            EXPECT_EQ(Fnv1a(ReadFileBytes(output)), run.outputHash);
        }
    }
}

// The same page as a PDF (tiff2pdf) is the same page: each operation gives
// the bytes and the console text it gives for the TIFF, and a name that is
// not there says so.
TEST(SinglePage, APdfOfThePageGivesWhatTheTiffGives) {
    ScratchDir dir;
    const std::string source = SourceRoot() + "/tests/data/pages/single.tif";
    std::string out;
    ASSERT_EQ(RunShell("tiff2pdf -o '" + dir.File("in.pdf") + "' '" + source + "' 2>&1", &out), 0)
        << out;
    for (const StoredRun& run : kStoredRuns) {
        if (run.outputHash == 0 || run.args.back() == "out.bmp") continue;
        std::vector<std::string> args = run.args;
        args[args.size() - 2] = "in.pdf";
        SCOPED_TRACE(args.front() + " " + args.back());
        const ProgramResult r = RunSheetmend(args, dir.path());
        EXPECT_EQ(r.status, run.status);
        EXPECT_EQ(Normalised(r.out, dir.path()),
                  std::regex_replace(run.out, std::regex("in\\.tif"), "in.pdf"));
        EXPECT_EQ(Fnv1a(ReadFileBytes(dir.File(args.back()))), run.outputHash);
        unlink(dir.File(args.back()).c_str());
    }
    const ProgramResult missing = RunSheetmend({"-threshold", "0", "gone.tif", "out.tif"}, dir.path());
    EXPECT_EQ(missing.status, 0);
    EXPECT_EQ(Normalised(missing.out, dir.path()),
              "gone.tif ==> @/out.tif\n[ERROR] Cannot open \"gone.tif\": No such file or "
              "directory\n[Message] Total used Nms.\n");
}

}  // namespace
}  // namespace sheetmend::testing
