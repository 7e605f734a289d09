// The hOCR reader and the box outputs, on hOCR texts written here and pages
// drawn here, with the expected lines and pixels worked out by hand.
#include "ocr/hocr.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "image/formats.h"
#include "image/raster_image.h"
#include "tests/support/external_tools.h"
#include "tests/support/run_program.h"

namespace sheetmend::ocr {
namespace {

using sheetmend::testing::ScratchDir;

std::string Page(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\"\n"
           "    \"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title></title></head><body>\n"
           "<div class='ocr_page' title='bbox 0 0 1000 1000'>\n" +
           body + "\n</div></body></html>\n";
}

void WriteText(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// Reads the document and writes its box list into a fresh file; returns the
// file's bytes.
std::string BoxListOf(const ScratchDir& dir, const std::string& hocr) {
    const std::string in = dir.File("page.html"), out = dir.File("list.txt");
    WriteText(in, hocr);
    std::remove(out.c_str());
    std::vector<OcrWord> words;
    EXPECT_TRUE(ReadHocr(in, words));
    std::FILE* f = std::fopen(out.c_str(), "ab");
    EXPECT_TRUE(WriteBoxList(f, words));
    std::fclose(f);
    return testing::ReadText(out);
}

TEST(HocrBoxList, WordRuleCases) {
    ScratchDir dir;
    struct Case {
        const char* name;
        std::string body;
        std::string expected;
    };
    const Case cases[] = {
        // The top and the height come from the line: 0.9 x 40 = 36.
        {"word in a line",
         "<span class='ocr_line' title='bbox 100 200 900 240'>"
         "<span class='ocr_word' title='bbox 120 205 180 238'><span>Hello</span></span></span>",
         "120,200,60,36,Hello\r\n\f"},
        // 0.9 x 11 = 9.9 is cut to 9.
        {"word outside a line",
         "<span class='ocr_word' title='bbox 10 20 50 31'><span>x</span></span>",
         "10,20,40,9,x\r\n\f"},
        // One line per text piece, each with the word's box.
        {"emphasis splits the text",
         "<span class='ocr_line' title='bbox 0 10 500 30'>"
         "<span class='ocr_word' title='bbox 5 12 60 28'>"
         "<span class='xocr_word' title='x_wconf 90'>ab<em>cd</em>ef</span></span></span>",
         "5,10,55,18,ab\r\n5,10,55,18,cd\r\n5,10,55,18,ef\r\n\f"},
        {"text directly inside the word is not a word",
         "<span class='ocr_line' title='bbox 0 10 500 30'>"
         "<span class='ocr_word' title='bbox 5 12 60 28'>direct</span></span>",
         ""},
        {"classes compare without case",
         "<span class='OCR_Line' title='bbox 0 100 50 120'>"
         "<span class='Ocr_Word' title='bbox 1 105 9 115'><span>a</span></span></span>",
         "1,100,8,18,a\r\n\f"},
        // A line of no height leaves the word its own box: 0.9 x 10 = 9.
        {"flat line",
         "<span class='ocr_line' title='bbox 0 50 500 50'>"
         "<span class='ocr_word' title='bbox 7 45 17 55'><span>w</span></span></span>",
         "7,45,10,9,w\r\n\f"},
        {"line without a title",
         "<span class='ocr_line' title='bbox 0 0 9 9'><span class='ocr_line'><b class='x' "
         "title='t'>"
         "<span class='ocr_word' title='bbox 7 45 17 55'><span>w</span></span></b></span></span>",
         "7,45,10,9,w\r\n\f"},
        // The search for the line stops at an element without a class.
        {"class-less element between word and line",
         "<span class='ocr_line' title='bbox 0 0 500 100'><b><i class='c' title='t'>"
         "<span class='ocr_word' title='bbox 7 45 17 55'><span>w</span></span></i></b></span>",
         "7,45,10,9,w\r\n\f"},
        {"title without bbox",
         "<span class='ocr_word' title='box 10 20 50 31'><span>x</span></span>", ""},
        // The numbers are read from the sixth character whatever stands there.
        {"bbox not at the start",
         "<span class='ocr_word' title='x_wconf 9; bbox 1 2 3 4'><span>y</span></span>",
         "0,0,0,0,y\r\n\f"},
        // Missing numbers are 0: bottom 0 under top 6 gives 0.9 x -6 = -5.4, cut to -5.
        {"missing numbers", "<span class='ocr_word' title='bbox 5 6'><span>z</span></span>",
         "5,6,-5,-5,z\r\n\f"},
        {"grandparent without a title",
         "<div class='area'><span class='ocr_word' title='bbox 1 1 2 "
         "2'><span>q</span></span></div>",
         ""},
        {"text kept as it is, commas and entities",
         "<span class='ocr_word' title='bbox 1 2 3 4'><span>a,b &amp; &lt;c&gt;</span></span>",
         "1,2,2,1,a,b & <c>\r\n\f"},
        {"three levels inside the word is too deep",
         "<span class='ocr_word' title='bbox 1 2 3 4'><span class='x' title='y'><em><b>no</b></em>"
         "</span></span>",
         ""},
        {"document order",
         "<span class='ocr_line' title='bbox 0 0 100 10'>"
         "<span class='ocr_word' title='bbox 50 1 60 9'><span>second</span></span>"
         "<span class='ocr_word' title='bbox 0 1 10 9'><span>first</span></span></span>",
         "50,0,10,9,second\r\n0,0,10,9,first\r\n\f"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(BoxListOf(dir, Page(c.body)), c.expected);
    }
}

TEST(HocrBoxList, AppendsAndWritesNothingForAnEmptyPage) {
    ScratchDir dir;
    const std::string out = dir.File("list.txt");
    const std::vector<OcrWord> page = {{120, 180, 200, 240, "Hello"}};
    for (int run = 0; run < 2; ++run) {
        std::FILE* f = std::fopen(out.c_str(), "ab");
        ASSERT_TRUE(WriteBoxList(f, page));
        ASSERT_TRUE(WriteBoxList(f, {}));
        std::fclose(f);
    }
    EXPECT_EQ(testing::ReadText(out), "120,200,60,36,Hello\r\n\f120,200,60,36,Hello\r\n\f");
}

TEST(HocrBoxList, LongTextIsWrittenWhole) {
    const std::string text(5000, 'w');
    const std::string line = BoxListLine({0, 10, 0, 20, text + "!"});
    EXPECT_EQ(line, "0,0,10,18," + text + "!\r\n");
}

TEST(HocrBoxList, MalformedAndMissingFilesAreNotLoaded) {
    ScratchDir dir;
    for (const std::string& text : {std::string("<html><body><span class='ocr_word'>"),
                                    std::string("not xml at all <"), std::string("")}) {
        WriteText(dir.File("bad.html"), text);
        std::vector<OcrWord> words;
        std::string error;
        EXPECT_FALSE(ReadHocr(dir.File("bad.html"), words, &error)) << text;
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(words.empty());
    }
    std::vector<OcrWord> words;
    EXPECT_FALSE(ReadHocr(dir.File("missing.html"), words));
}

TEST(BoxFilePathTest, DropsTheExtensionAndAddsThePage) {
    const struct {
        std::string output;
        BoxFileForm form;
        int32_t page;
        std::string expected;
    } cases[] = {
        {"/data/scans/out.png", BoxFileForm::kBoxList, 0, "/data/scans/out-0.box.txt"},
        {"/data/scans/out.png", BoxFileForm::kBoxPicture, 0, "/data/scans/out-0.box.png"},
        {"out", BoxFileForm::kBoxList, 0, "out-0.box.txt"},
        {"/a.b/c.tar.gz", BoxFileForm::kBoxPicture, 7, "/a.b/c.tar-7.box.png"},
        {"/a b/x y.tif", BoxFileForm::kBoxList, 12, "/a b/x y-12.box.txt"},
    };
    for (const auto& c : cases) EXPECT_EQ(BoxFilePath(c.output, c.form, c.page), c.expected);
}

// A 40 x 30 white one-bit page. The word with hOCR box (5, 0)-(15, 10) is
// drawn at bottom-up rows H - 10 = 20 and H - 0 = 30 (off the page), so its
// rectangle covers top-down rows 0..9 of columns 5 and 15 and row 9 between
// them. The second word lies wholly inside: (20, 12)-(30, 20) gives
// bottom-up rows 10 and 18, top-down rows 11 and 19.
TEST(BoxPicture, RedRectanglesInBottomUpRows) {
    ScratchDir dir;
    RasterImage page(40, 30, 1);
    page.SetPaletteColor(0, 0, 0, 0);
    page.SetPaletteColor(1, 255, 255, 255);
    page.Clear(1);
    ASSERT_TRUE(page.Save(dir.File("page.bmp").c_str(), ImageTypeFromExtension("page.bmp")));

    const std::vector<OcrWord> words = {{5, 15, 0, 10, "a"}, {20, 30, 12, 20, "b"}};
    ASSERT_EQ(DrawBoxPicture(dir.File("page.bmp"), dir.File("pic.png"), words), 1);
    RasterImage pic;
    ASSERT_TRUE(pic.Load(dir.File("pic.png").c_str(), 0));
    ASSERT_EQ(pic.GetBpp(), 24u);
    ASSERT_EQ(pic.GetWidth(), 40u);
    ASSERT_EQ(pic.GetHeight(), 30u);

    std::set<std::pair<int, int>> red;  // (x, top-down y)
    for (int y = 0; y <= 9; ++y) red.insert({5, y}), red.insert({15, y});
    for (int x = 5; x <= 15; ++x) red.insert({x, 9});
    for (int x = 20; x <= 30; ++x) red.insert({x, 11}), red.insert({x, 19});
    for (int y = 11; y <= 19; ++y) red.insert({20, y}), red.insert({30, y});
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const RgbQuad c = pic.GetPixelColor(x, 29 - y, false);
            const bool isRed = c.red == 255 && c.green == 0 && c.blue == 0;
            const bool isWhite = c.red == 255 && c.green == 255 && c.blue == 255;
            if (red.count({x, y}))
                EXPECT_TRUE(isRed) << x << "," << y;
            else
                EXPECT_TRUE(isWhite) << x << "," << y;
        }
}

TEST(BoxPicture, WildBoxesAreClippedQuicklyAndFailuresReported) {
    ScratchDir dir;
    RasterImage page(20, 10, 24);
    page.Clear(255);
    ASSERT_TRUE(page.Save(dir.File("page.png").c_str(), ImageTypeFromExtension("page.png")));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(DrawBoxPicture(dir.File("page.png"), dir.File("pic.png"),
                             {{-2e9, 2e9, -2e9, 2e9, "huge"}, {-5, 3, -5, 3, "corner"}}),
              1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    RasterImage pic;
    ASSERT_TRUE(pic.Load(dir.File("pic.png").c_str(), 0));
    // Only the corner box's right edge (x 3) and bottom edge (top-down row 2)
    // reach the page.
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool edge = (x == 3 && y <= 2) || (y == 2 && x <= 3);
            EXPECT_EQ(pic.GetPixelColor(x, 9 - y, false).green, edge ? 0 : 255) << x << "," << y;
        }

    EXPECT_EQ(DrawBoxPicture(dir.File("page.png"), dir.File("none.png"), {}), 0);
    EXPECT_FALSE(testing::ReadFileBytes(dir.File("none.png")).size());
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(DrawBoxPicture(dir.File("missing.png"), dir.File("x.png"), {{1, 2, 1, 2, "a"}}), 0);
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "[ERROR] Failed to load \"" + dir.File("missing.png") + "\" file.\n");
}

// The lines and whole words for a text layer: a word split by an emphasis
// element is one word, each line keeps its box and baseline, a word outside
// any line (or in a line of no height) is a line of its own, and the word
// boxes are the words' own, not their lines'.
TEST(HocrText, LinesBaselinesAndWholeWords) {
    ScratchDir dir;
    WriteText(
        dir.File("page.html"),
        Page("<span class='ocr_line' title='bbox 100 200 900 240; textangle 90; baseline 0.01 -7'>"
             "<span class='ocr_word' title='bbox 120 205 180 "
             "238'><span class='x' title='x'>Gr<em>&#252;&#223;e</em></span></span>"
             "<span class='ocr_word' title='bbox 200 210 260 233'><span>aus</span></span></span>"
             "<span class='ocr_word' title='bbox 10 20 50 31'><span>alone</span></span>"
             "<span class='ocr_line' title='bbox 5 300 90 300'>"
             "<span class='ocr_word' title='bbox 6 290 80 310'><span>flat</span></span></span>"));
    std::vector<OcrWord> words;
    PageText text;
    ASSERT_TRUE(ReadHocr(dir.File("page.html"), words, nullptr, &text));
    EXPECT_EQ(words.size(), 5u);  // the box list still has one entry per text piece
    // Each line: left, top, right, bottom, slope, offset, angle.
    const std::vector<std::vector<double>> lines = {
        {100, 200, 900, 240, 0.01, -7, 90}, {10, 20, 50, 31, 0, 0, 0}, {6, 290, 80, 310, 0, 0, 0}};
    ASSERT_EQ(text.size(), lines.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const PageTextLine& l = text[i];
        EXPECT_EQ(std::vector<double>(
                      {l.left, l.top, l.right, l.bottom, l.slope, l.offset, double(l.angle)}),
                  lines[i]);
    }
    const PageTextWord& aus = text[0].words[1];
    EXPECT_EQ(std::vector<double>({aus.left, aus.top, aus.right, aus.bottom}),
              std::vector<double>({200, 210, 260, 233}));
    EXPECT_DOUBLE_EQ(text[0].BaselineAt(500), 240 - 7 + 0.01 * 400);
    EXPECT_EQ(PlainText(text), "Grüße aus\nalone\nflat\n");  // whole words, one line each
}

}  // namespace
}  // namespace sheetmend::ocr
