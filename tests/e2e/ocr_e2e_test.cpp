// "-ocr" end to end: with the real engine (tesseract behind ocr.exe) on a
// page of large clear words drawn here, and with stand-in engines written as
// shell scripts in a folder where the sheetmend binary is laid out alone.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

#include "tests/e2e/e2e_support.h"
#include "tests/image/codecs_pdf/pdf_test_support.h"
#include "tests/support/text_page.h"

namespace sheetmend::testing {
namespace {

struct BoxLine {
    int left, top, width, height;
    std::string text;
};

// The box list's lines, "l,t,w,h,text\r\n" each, with the form feeds that
// end the pages counted.
std::vector<BoxLine> ParseBoxList(const std::string& data, int* pages) {
    std::vector<BoxLine> lines;
    *pages = static_cast<int>(std::count(data.begin(), data.end(), '\f'));
    std::string rest;
    for (char c : data)
        if (c != '\f') rest += c;
    size_t pos = 0;
    while (pos < rest.size()) {
        const size_t end = rest.find("\r\n", pos);
        EXPECT_NE(end, std::string::npos) << "line without CR LF";
        if (end == std::string::npos) break;
        const std::string line = rest.substr(pos, end - pos);
        BoxLine b{};
        int consumed = 0;
        EXPECT_EQ(std::sscanf(line.c_str(), "%d,%d,%d,%d,%n", &b.left, &b.top, &b.width, &b.height,
                              &consumed),
                  4)
            << line;
        b.text = line.substr(static_cast<size_t>(consumed));
        lines.push_back(b);
        pos = end + 2;
    }
    return lines;
}

// Writes the shell script `path` and makes it executable.
void WriteScript(const std::string& path, const std::string& body) {
    const std::string text = "#!/bin/sh\n" + body;
    ASSERT_TRUE(WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end())));
    chmod(path.c_str(), 0755);
}

// A stand-in engine: counts its calls, notes its arguments (joined by '|')
// and TESSDATA_PREFIX, keeps a copy of the page it was given, notes whether
// the previous call's hOCR file is still there, and writes the file "hocr"
// of its folder, when there is one, as its result.
const char* const kStandInEngine = R"(here=$(dirname "$0")
n=$(( $(cat "$here/count" 2>/dev/null || echo 0) + 1 ))
echo $n > "$here/count"
{ for a in "$@"; do printf '%s|' "$a"; done; echo; } >> "$here/calls"
printf '%s\n' "$TESSDATA_PREFIX" >> "$here/prefix"
cp "$1" "$here/seen-$n"
if [ -f "$here/lastbase" ] && [ -f "$(cat "$here/lastbase").html" ]; then echo kept >> "$here/kept"; fi
printf '%s' "$2" > "$here/lastbase"
if [ -f "$here/hocr" ]; then cp "$here/hocr" "$2.html"; fi
echo "engine chatter that must not reach the console"
)";

const char* const kHelloHocr =
    "<?xml version='1.0' encoding='UTF-8'?><html><body>"
    "<div class='ocr_page' title='bbox 0 0 300 200'>"
    "<span class='ocr_line' title='bbox 100 200 900 240'>"
    "<span class='ocr_word' title='bbox 120 205 180 238'><span>Hello</span></span>"
    "</span></div></body></html>";

class Ocr : public ::testing::Test {
  protected:
    // A folder holding a copy of sheetmend and nothing else.
    std::string LayOutBinary() {
        const std::string bin = dir.File("bin");
        mkdir(bin.c_str(), 0755);
        EXPECT_EQ(RunShell("cp '" + SheetmendBinary() + "' '" + bin + "/sheetmend'"), 0);
        return bin;
    }
    ProgramResult RunIn(const std::string& bin, const std::vector<std::string>& args) {
        return RunProgram(bin + "/sheetmend", args, dir.path());
    }
    // Box files anywhere under the scratch folder.
    std::string BoxFiles() {
        std::string out;
        RunShell("find '" + dir.path() + "' -name '*.box.*'", &out);
        return out;
    }
    static int Count(const std::string& text, const std::string& part) {
        int n = 0;
        for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
        return n;
    }
    void SaveWhitePage(const std::string& name, uint32_t w = 300, uint32_t h = 200) {
        RasterImage page = DrawColourPage(w, h);
        SaveOrFail(page, dir.File(name));
    }
    ScratchDir dir;
};

// Words drawn at known places in 80-pixel Liberation Sans, two lines.
struct DrawnWord {
    const char* text;
    int x, baseline;
};
constexpr DrawnWord kWords[] = {{"HELLO", 60, 160},
                                {"WORLD", 520, 160},
                                {"Quick", 60, 330},
                                {"brown", 380, 330},
                                {"foxes", 720, 330}};
constexpr uint32_t kPageW = 1100, kPageH = 440;

TEST_F(Ocr, RealEngineFindsTheDrawnWordsAndDrawsTheirBoxes) {
    RasterImage page = WhitePage(kPageW, kPageH);
    std::map<std::string, InkBox> ink;
    for (const DrawnWord& w : kWords) {
        RasterImage alone = WhitePage(kPageW, kPageH);
        ASSERT_EQ(alone.DrawString(w.x, w.baseline, w.text, RgbQuad{0, 0, 0, 0}, "Arial", 80), 1);
        ASSERT_EQ(page.DrawString(w.x, w.baseline, w.text, RgbQuad{0, 0, 0, 0}, "Arial", 80), 1);
        ink[w.text] = InkOf(alone);
        ASSERT_GE(ink[w.text].right, 0) << w.text;
    }
    SaveOrFail(page, dir.File("page.png"));

    ProgramResult r = RunSheetmend({"-ocr", "-boxpic", "page.png", "out.png"}, dir.path());
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(r.out.find("[ERROR]"), std::string::npos) << r.out;
    EXPECT_EQ(Count(r.out, "[Message] OCR processing takes "), 1) << r.out;
    EXPECT_EQ(TimingLines(r.out), 1);
    EXPECT_FALSE(Exists(dir.File("out.png")));  // only the box files are written

    int pages = 0;
    const std::vector<BoxLine> lines = ParseBoxList(ReadText(dir.File("out-0.box.txt")), &pages);
    EXPECT_EQ(pages, 1);
    ASSERT_EQ(lines.size(), std::size(kWords)) << ReadText(dir.File("out-0.box.txt"));
    RasterImage pic = LoadOrFail(dir.File("out-0.box.png"));
    ASSERT_EQ(pic.GetWidth(), kPageW);
    ASSERT_EQ(pic.GetHeight(), kPageH);
    auto isRed = [&](int x, int y) {
        const RgbQuad c = pic.GetPixelColor(x, static_cast<int>(kPageH) - 1 - y, false);
        return c.red > 200 && c.green < 60 && c.blue < 60;
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        const BoxLine& b = lines[i];
        SCOPED_TRACE(b.text);
        ASSERT_EQ(b.text, kWords[i].text);
        const InkBox& k = ink[b.text];
        // The box holds the drawn word; its height is nine tenths of the
        // line's, so the line's bottom lies at least height / 0.9 below.
        EXPECT_LE(b.left, k.left + 1);
        EXPECT_GE(b.left + b.width, k.right - 1);
        EXPECT_LE(b.top, k.top + 1);
        EXPECT_GE(b.top + b.height / 0.9 + 1, k.bottom);
        EXPECT_LT(b.width, (k.right - k.left) + 20);  // and not much more
        // The top edge lies on row top - 1 (rows turned as y' = H - y), the
        // left edge runs down column left.
        for (int x = b.left; x <= b.left + b.width; x += 7) EXPECT_TRUE(isRed(x, b.top - 1)) << x;
        for (int y = b.top; y < b.top + b.height; y += 5) EXPECT_TRUE(isRed(b.left, y)) << y;
    }
    // Everything that is not a box edge is the page as it was drawn.
    int red = 0, changed = 0;
    for (uint32_t y = 0; y < kPageH; ++y)
        for (uint32_t x = 0; x < kPageW; ++x) {
            const RgbQuad a =
                pic.GetPixelColor(static_cast<int32_t>(x), static_cast<int32_t>(y), false);
            const RgbQuad b =
                page.GetPixelColor(static_cast<int32_t>(x), static_cast<int32_t>(y), false);
            if (a.red == 255 && a.green == 0 && a.blue == 0)
                ++red;
            else if (a.red != b.red || a.green != b.green || a.blue != b.blue)
                ++changed;
        }
    EXPECT_GT(red, 0);
    EXPECT_EQ(changed, 0);

    // German data reads these words as well; a second run appends a page.
    r = RunSheetmend({"-ocr", "-lang", "deu", "page.png", "out.png"}, dir.path());
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    const std::vector<BoxLine> both = ParseBoxList(ReadText(dir.File("out-0.box.txt")), &pages);
    EXPECT_EQ(pages, 2);
    ASSERT_EQ(both.size(), 2 * std::size(kWords));
    for (size_t i = 0; i < std::size(kWords); ++i)
        EXPECT_EQ(both[i + std::size(kWords)].text, kWords[i].text);
}

// The adapter on its own: its hOCR file has the reader's shape, and the
// characters XML reserves stay escaped in it.
TEST_F(Ocr, AdapterWritesLinesAndWordsWithEscapedText) {
    RasterImage page = WhitePage(900, 260);
    ASSERT_EQ(page.DrawString(60, 160, "R&D <ok>", RgbQuad{0, 0, 0, 0}, "Arial", 90), 1);
    SaveOrFail(page, dir.File("page.png"));
    const std::string bin = BuildDir() + "/cli/";
    ASSERT_EQ(
        RunShell("TESSDATA_PREFIX='" + bin + "' '" + bin + "ocr.exe' '" + dir.File("page.png") +
                 "' '" + dir.File("base") + "' -l eng HOCR >/dev/null 2>&1"),
        0);
    const std::string html = ReadText(dir.File("base.html"));
    static const std::regex word(
        R"re(<span class="ocr_word" title="bbox (\d+) (\d+) (\d+) (\d+); x_wconf (\d+)">\s*<span>([^<]*)</span>\s*</span>)re");
    std::vector<std::string> texts;
    for (auto it = std::sregex_iterator(html.begin(), html.end(), word);
         it != std::sregex_iterator(); ++it) {
        texts.push_back((*it)[6]);
        EXPECT_LE(std::stoi((*it)[5]), 100);
        EXPECT_LT(std::stoi((*it)[1]), std::stoi((*it)[3]));
        EXPECT_LT(std::stoi((*it)[2]), std::stoi((*it)[4]));
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"R&amp;D", "&lt;ok&gt;"})) << html;
    EXPECT_EQ(Count(html, "<span class=\"ocr_line\" title=\"bbox "), 1) << html;
    EXPECT_FALSE(Exists(dir.File("base.tesseract.hocr")));
    EXPECT_FALSE(Exists(dir.File("base.html.part")));

    // Read back, the box list holds the characters themselves.
    ProgramResult r = RunSheetmend({"-ocr", "page.png", "out.tif"}, dir.path());
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    int pages = 0;
    const std::vector<BoxLine> lines = ParseBoxList(ReadText(dir.File("out-0.box.txt")), &pages);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "R&D");
    EXPECT_EQ(lines[1].text, "<ok>");
}

TEST_F(Ocr, EngineNamesWinInTheirOrder) {
    const std::string bin = LayOutBinary();
    const std::vector<std::string> names = {"Qtess.dll", "ocr.exe", "ocrsdk.exe", "ocrsdk.dll"};
    for (const std::string& name : names)
        WriteScript(bin + "/" + name, "echo " + name + " >> \"$(dirname \"$0\")/used\"\n");
    SaveWhitePage("page.png");
    for (const std::string& name : names) {
        ProgramResult r = RunIn(bin, {"-ocr", "page.png", "out.png"});
        ASSERT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_EQ(ReadText(bin + "/used"), name + "\n");
        std::remove((bin + "/used").c_str());
        std::remove((bin + "/" + name).c_str());
    }
}

TEST_F(Ocr, WithoutAnEngineEachFileSaysSoAndSucceeds) {
    const std::string bin = LayOutBinary();
    mkdir(dir.File("in").c_str(), 0755);
    SaveWhitePage("in/a.png");
    SaveWhitePage("in/b.png");
    mkdir(dir.File("out").c_str(), 0755);
    ProgramResult r = RunIn(bin, {"-ocr", "-boxpic", "in", dir.File("out") + "/*.png"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(Count(r.out, "[ERROR] Sorry, I can't find OCR application.\n"), 2) << r.out;
    EXPECT_EQ(Count(r.out, "OCR processing takes"), 0);
    EXPECT_EQ(TimingLines(r.out), 2);
    EXPECT_EQ(BoxFiles(), "");
}

TEST_F(Ocr, EngineGetsLanguageNameAndDataFolder) {
    const std::string bin = LayOutBinary();
    WriteScript(bin + "/ocr.exe", kStandInEngine);
    WriteFileBytes(bin + "/hocr",
                   std::vector<uint8_t>(kHelloHocr, kHelloHocr + strlen(kHelloHocr)));
    const std::string hostile = "it's \"a\" $(touch pwned1) `touch pwned2`; touch pwned3 .png";
    SaveWhitePage(hostile);
    struct Case {
        std::vector<std::string> lang;
        const char* expected;
    };
    for (const Case& c :
         {Case{{}, "eng"}, Case{{"-lang", ""}, "eng"}, Case{{"-lang", "deu"}, "deu"}}) {
        std::remove((bin + "/calls").c_str());
        std::vector<std::string> args = {"-ocr"};
        args.insert(args.end(), c.lang.begin(), c.lang.end());
        args.insert(args.end(), {hostile, "out.png"});
        ProgramResult r = RunIn(bin, args);
        ASSERT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_EQ(r.out.find("chatter"), std::string::npos);
        const std::string calls = ReadText(bin + "/calls");
        const std::string prefix = dir.File(hostile) + "|";
        ASSERT_EQ(calls.substr(0, prefix.size()), prefix) << calls;
        // The output base is a fresh temporary name, then the language.
        const std::string rest = calls.substr(prefix.size());
        const size_t bar = rest.find('|');
        EXPECT_NE(rest.substr(0, bar).find("/qrvx"), std::string::npos) << rest;
        EXPECT_EQ(rest.substr(bar + 1), std::string("-l|") + c.expected + "|HOCR|\n");
    }
    EXPECT_EQ(ReadText(bin + "/prefix"), bin + "/\n" + bin + "/\n" + bin + "/\n");
    for (const char* f : {"pwned1", "pwned2", "pwned3"}) {
        EXPECT_FALSE(Exists(dir.File(f))) << f;
        EXPECT_FALSE(Exists(bin + "/" + f)) << f;
    }
    // Three runs, one box list with three pages.
    EXPECT_EQ(ReadText(dir.File("out-0.box.txt")),
              "120,200,60,36,Hello\r\n\f120,200,60,36,Hello\r\n\f120,200,60,36,Hello\r\n\f");
}

TEST_F(Ocr, BrokenOrMissingResultsAreReportedAndTheBatchGoesOn) {
    const std::string bin = LayOutBinary();
    WriteScript(bin + "/ocr.exe", kStandInEngine);
    mkdir(dir.File("in").c_str(), 0755);
    SaveWhitePage("in/a.png");
    SaveWhitePage("in/b.png");
    mkdir(dir.File("out1").c_str(), 0755);
    mkdir(dir.File("out2").c_str(), 0755);

    // No result at all.
    ProgramResult r = RunIn(bin, {"-ocr", "in", dir.File("out1") + "/*.png"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    static const std::regex missing(
        R"re(\[Message\] OCR processing takes \d+ms \(\d+\.\d\ds\)\n)re"
        R"re(\[ERROR\] "(/[^"]*/qrvx[^"]*\.html)" file is not exist\.\n)re");
    EXPECT_EQ(std::distance(std::sregex_iterator(r.out.begin(), r.out.end(), missing),
                            std::sregex_iterator()),
              2)
        << r.out;

    // A result that is not XML: reported with the parser's words, left where
    // it is (the second call still finds the first file), no box files. The
    // second call follows the first only when the files run one after another.
    setenv("SHEETMEND_JOBS", "1", 1);
    const std::string bad = "<html><body><span class='ocr_word' title='bbox 1 2 3 4'>";
    WriteFileBytes(bin + "/hocr", std::vector<uint8_t>(bad.begin(), bad.end()));
    std::remove((bin + "/lastbase").c_str());
    r = RunIn(bin, {"-ocr", "-boxpic", "in", dir.File("out2") + "/*.png"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    static const std::regex unloadable(
        R"(Could not load test file '(/[^']*/qrvx[^']*\.html)'\. Error='[^'\n]+'\. Exiting\.\n)");
    EXPECT_EQ(std::distance(std::sregex_iterator(r.out.begin(), r.out.end(), unloadable),
                            std::sregex_iterator()),
              2)
        << r.out;
    EXPECT_EQ(ReadText(bin + "/kept"), "kept\n");
    EXPECT_EQ(TimingLines(r.out), 2);
    EXPECT_EQ(BoxFiles(), "");
}

TEST_F(Ocr, TheReportCountsTheWordsAndAveragesTheirConfidence) {
    const std::string bin = LayOutBinary();
    WriteScript(bin + "/ocr.exe", kStandInEngine);
    const std::string hocr =
        "<html><body><div class='ocr_page' title='bbox 0 0 300 200'>"
        "<span class='ocr_line' title='bbox 10 20 290 60'>"
        "<span class='ocr_word' title='bbox 10 20 80 60; x_wconf 90'><span>One</span></span>"
        "<span class='ocr_word' title='bbox 90 20 160 60; x_wconf 73'><span>two</span></span>"
        "</span></div></body></html>";
    WriteFileBytes(bin + "/hocr", std::vector<uint8_t>(hocr.begin(), hocr.end()));
    SaveWhitePage("page.png", 300, 200);
    const ProgramResult r = RunIn(bin, {"-ocr", "-report", "r.jsonl", "page.png", "out.png"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    std::string fields;
    RunShell("cd '" + dir.path() +
                 "' && python3 -c 'import json; d = json.loads(open(\"r.jsonl\")" +
                 ".read()); print(d[\"operation\"], d[\"words\"], d[\"mean_confidence\"], " +
                 "d[\"width\"], d[\"height\"])'",
             &fields);
    EXPECT_EQ(fields, "ocr 2 81.5 300 200\n");
}

TEST_F(Ocr, DeskewHandsTheEngineAOneBitPageForTheWholeBatch) {
    const std::string bin = LayOutBinary();
    ASSERT_EQ(symlink("/usr/bin/unpaper", (bin + "/mendkit.dll").c_str()), 0);
    WriteScript(bin + "/ocr.exe", kStandInEngine);
    WriteFileBytes(bin + "/hocr",
                   std::vector<uint8_t>(kHelloHocr, kHelloHocr + strlen(kHelloHocr)));
    mkdir(dir.File("in").c_str(), 0755);
    mkdir(dir.File("out").c_str(), 0755);
    SaveWhitePage("in/a.png", 1000, 700);
    SaveWhitePage("in/b.jpg", 1000, 700);
    for (const char* option : {"-deskew", "-despeckle"}) {
        SCOPED_TRACE(option);
        std::remove((bin + "/count").c_str());
        ProgramResult r = RunIn(bin, {"-ocr", option, "-boxpic", "in", dir.File("out") + "/*.png"});
        ASSERT_EQ(r.status, 1) << r.out << r.err;
        for (const char* seen : {"seen-1", "seen-2"}) {
            RasterImage engineInput = LoadOrFail(bin + "/" + seen);
            EXPECT_EQ(engineInput.GetBpp(), 1u) << seen;
            EXPECT_EQ(engineInput.GetWidth(), 1000u);
        }
        // The box pictures are drawn on the one-bit page: black, white and red only.
        for (const char* name : {"out/a-0.box.png", "out/b-0.box.png"}) {
            RasterImage pic = LoadOrFail(dir.File(name));
            ASSERT_EQ(pic.GetBpp(), 24u) << name;
            int red = 0, other = 0;
            for (uint32_t y = 0; y < pic.GetHeight(); y += 3)
                for (uint32_t x = 0; x < pic.GetWidth(); ++x) {
                    const RgbQuad c =
                        pic.GetPixelColor(static_cast<int32_t>(x), static_cast<int32_t>(y), false);
                    if (c.red == 255 && c.green == 0 && c.blue == 0)
                        ++red;
                    else if (!((c.red == 0 || c.red == 255) && c.red == c.green &&
                               c.green == c.blue))
                        ++other;
                }
            EXPECT_GT(red, 0) << name;
            EXPECT_EQ(other, 0) << name;
        }
        RunShell("rm -f '" + dir.path() + "'/out/*");
    }
}

// With the program's own cleaning the engine reads the page cleaned and
// level, still grey: a page turned 2 degrees with a scanner border on its
// left, for the box list (-straighten) and for a searchable PDF (-clean).
TEST_F(Ocr, CleanAndStraightenHandTheEngineTheLevelGreyPage) {
    const std::string bin = LayOutBinary();
    WriteScript(bin + "/ocr.exe", kStandInEngine);
    WriteFileBytes(bin + "/hocr",
                   std::vector<uint8_t>(kHelloHocr, kHelloHocr + strlen(kHelloHocr)));
    constexpr int32_t w = 1000, h = 800;
    const BitPage ink = DrawTurned(w, h, TextLineBoxes(w, h, 8), 2.0 * kDegree);
    RasterImage dirty = GreyInkPage(ink, 150, [](int32_t x, int32_t) { return x < 60; });
    SaveOrFail(dirty, dir.File("dirty.png"));
    for (const auto& [option, output] :
         {std::pair{"-straighten", "out.txt"}, {"-clean", "out.pdf"}}) {
        SCOPED_TRACE(option);
        std::remove((bin + "/count").c_str());
        const ProgramResult r = RunIn(bin, {"-ocr", option, "dirty.png", output});
        ASSERT_EQ(r.status, 1) << r.out << r.err;
        const RasterImage seen = LoadOrFail(bin + "/seen-1");
        EXPECT_EQ(seen.GetBpp(), 8u);
        const BitPage got = InkOfImage(seen);
        const double skew =
            ProjectionSkew(w, h, [&](int32_t x, int32_t y) { return x >= 100 && got.Ink(x, y); });
        EXPECT_NEAR(skew / kDegree, 0.0, 0.1);
        int64_t border = 0;
        for (int32_t y = 100; y < h - 100; ++y)
            for (int32_t x = 0; x < 50; ++x) border += got.Ink(x, y);
        EXPECT_EQ(border == 0, std::string(option) == "-clean") << border;
    }
}

// The words of a box list, each followed by a blank.
std::string BoxWords(const std::string& boxList) {
    return std::regex_replace(ReadText(boxList), std::regex(R"(\d+,\d+,\d+,\d+,([^\r]*)\r\n)"),
                              "$1 ");
}

// The build's data folder is the system's own: it shows every language that
// tesseract lists, osd included.
TEST_F(Ocr, BuildDataFolderShowsEveryLanguageTesseractHas) {
    std::string listed, shown;
    ASSERT_EQ(RunShell("tesseract --list-langs 2>/dev/null | tail -n +2 | sort", &listed), 0);
    RunShell("cd '" + BuildDir() + "/cli/tessdata/' && ls *.traineddata | cut -d. -f1", &shown);
    EXPECT_EQ(shown, listed);
    EXPECT_NE(listed.find("osd\n"), std::string::npos) << listed;
}

// Laid out with a data folder that stands for the system's, a language is
// named with its package until its data arrives there, and then read.
TEST_F(Ocr, LanguageInstalledLaterIsFound) {
    unsetenv("SHEETMEND_LANGDATA_URL");
    const std::string bin = LayOutBinary(), data = dir.File("data");
    mkdir(data.c_str(), 0755);
    ASSERT_EQ(symlink(data.c_str(), (bin + "/tessdata").c_str()), 0);
    ASSERT_EQ(symlink((BuildDir() + "/cli/ocr.exe").c_str(), (bin + "/ocr.exe").c_str()), 0);
    DrawTextLines({"\311t\351 \340 No\353l", "Ch\342teau fran\347ais"}, dir.File("page.png"));
    ProgramResult r = RunIn(bin, {"-ocr", "-lang", "fra", "page.png", "out.png"});
    EXPECT_EQ(Count(r.out, "(apt-get install tesseract-ocr-fra)"), 1) << r.out;
    symlink("/usr/share/tesseract-ocr/5/tessdata/fra.traineddata",
            (data + "/fra.traineddata").c_str());
    r = RunIn(bin, {"-ocr", "-lang", "fra", "page.png", "out.png"});
    EXPECT_EQ(r.out.find("[ERROR]"), std::string::npos) << r.out;
    EXPECT_EQ(BoxWords(dir.File("out-0.box.txt")), "Été à Noël Château français \f");
}

TEST_F(Ocr, CombinedLanguagesReadBothLines) {
    DrawTextLines({"Gr\374\337e aus K\366ln", "Hello from London"}, dir.File("page.png"));
    ProgramResult r = RunSheetmend({"-ocr", "-lang", "deu+eng", "page.png", "out.png"}, dir.path());
    EXPECT_EQ(BoxWords(dir.File("out-0.box.txt")), "Grüße aus Köln Hello from London \f") << r.out;
}

// An unknown language is named once for the whole batch, before its first
// file, with one worker or several; the files go on as before.
TEST_F(Ocr, MissingLanguageIsReportedOncePerBatch) {
    unsetenv("SHEETMEND_LANGDATA_URL");
    for (const char* name : {"a.png", "b.png", "c.png"}) SaveWhitePage(name);
    for (const char* jobs : {"1", "3"}) {
        setenv("SHEETMEND_JOBS", jobs, 1);
        ProgramResult r = RunSheetmend({"-ocr", "-lang", "eng+xyz", "*.png", "out/"}, dir.path());
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_EQ(r.out.rfind("[ERROR] OCR language 'xyz' is not installed", 0), 0u) << r.out;
        EXPECT_EQ(Count(r.out, "(apt-get install tesseract-ocr-xyz)"), 1) << r.out;
        EXPECT_EQ(TimingLines(r.out), 3);
    }
    unsetenv("SHEETMEND_JOBS");
}

// What poppler reads back from a page of a searchable PDF: its text, and its
// words with their boxes in points from the top left.
struct PdfWord {
    double xMin, yMin, xMax, yMax;
    std::string text;
};

// Without the blank lines pdftotext puts between blocks.
std::string PdfText(const std::string& pdf, int page = 1) {
    std::string out;
    const std::string k = std::to_string(page);
    RunShell("pdftotext -f " + k + " -l " + k + " '" + pdf + "' - 2>&1", &out);
    for (size_t at; (at = out.find("\n\n")) != std::string::npos;) out.erase(at, 1);
    return out;
}

std::vector<PdfWord> PdfWords(const std::string& pdf) {
    std::string out;
    RunShell("pdftotext -bbox '" + pdf + "' - 2>&1", &out);
    static const std::regex word(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
    std::vector<PdfWord> words;
    for (auto it = std::sregex_iterator(out.begin(), out.end(), word); it != std::sregex_iterator();
         ++it) {
        const auto& m = *it;
        words.push_back({std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4]), m[5]});
    }
    return words;
}

// The font lines pdffonts lists for one page.
std::string PdfFonts(const std::string& pdf, int page) {
    std::string out;
    const std::string k = std::to_string(page);
    RunShell("pdffonts -f " + k + " -l " + k + " '" + pdf + "' 2>&1 | tail -n +3", &out);
    return out;
}

const std::regex kEmbeddedUnicodeFont("GlyphLessFont +CID TrueType +Identity-H +yes +no +yes");

TEST_F(Ocr, SearchablePdfLaysTheEngineWordsOverTheirInk) {
    // Capitals only: every word's ink reaches from the line's top to its baseline.
    const std::vector<std::vector<std::string>> lines = {{"HELLO", "WORLD"},
                                                         {"THE", "BEST", "MIX"}};
    RasterImage page = WhitePage(kPageW, kPageH);
    std::vector<std::string> words;
    std::vector<InkBox> ink;
    for (size_t l = 0; l < lines.size(); ++l)
        for (int x = 60; const std::string& word : lines[l]) {
            // A word space (a quarter of the size) after each word's ink.
            const int baseline = 160 + 170 * static_cast<int>(l);
            RasterImage alone = WhitePage(kPageW, kPageH);
            ASSERT_EQ(alone.DrawString(x, baseline, word.c_str(), RgbQuad{0, 0, 0, 0}, "Arial", 80),
                      1);
            ASSERT_EQ(page.DrawString(x, baseline, word.c_str(), RgbQuad{0, 0, 0, 0}, "Arial", 80),
                      1);
            words.push_back(word);
            ink.push_back(InkOf(alone));
            x = ink.back().right + 20;
        }
    SaveOrFail(page, dir.File("page.png"));

    const ProgramResult r = RunSheetmend({"-ocr", "-sidecar", "page.png", "out.pdf"}, dir.path());
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(Count(r.out, "[Message] OCR processing takes "), 1) << r.out;
    const std::string pdf = dir.File("out.pdf");
    std::string out;
    EXPECT_EQ(RunShell("qpdf --check '" + pdf + "' 2>&1", &out), 0) << out;
    EXPECT_TRUE(std::regex_search(PdfFonts(pdf, 1), kEmbeddedUnicodeFont)) << PdfFonts(pdf, 1);
    EXPECT_EQ(PdfText(pdf), "HELLO WORLD\nTHE BEST MIX\n\f");
    EXPECT_EQ(ReadText(dir.File("out.txt")), "HELLO WORLD\nTHE BEST MIX\n");
    EXPECT_NE(ReadText(dir.File("out-0.box.txt")).find(",BEST\r\n"), std::string::npos);

    // Each word lies within a point of its ink (300 dpi: 0.24 point a pixel).
    const std::vector<PdfWord> placed = PdfWords(pdf);
    ASSERT_EQ(placed.size(), words.size());
    const double pt = 72.0 / 300;
    for (size_t i = 0; i < placed.size(); ++i) {
        SCOPED_TRACE(words[i]);
        EXPECT_EQ(placed[i].text, words[i]);
        EXPECT_NEAR(placed[i].xMin, ink[i].left * pt, 1.0);
        EXPECT_NEAR(placed[i].xMax, (ink[i].right + 1) * pt, 1.0);
        EXPECT_NEAR(placed[i].yMin, ink[i].top * pt, 1.0);
        EXPECT_NEAR(placed[i].yMax, (ink[i].bottom + 1) * pt, 1.0);
    }
    // Under the text, the page as drawn.
    ASSERT_EQ(RunShell("pdfimages -png '" + pdf + "' '" + dir.File("img") + "'"), 0);
    Pnm shown;
    ASSERT_TRUE(DecodeWithImageMagick(dir.File("img-000.png"), &shown));
    EXPECT_TRUE(MatchesPnm(page, shown));
}

TEST_F(Ocr, GermanTextCopiesOutWithItsUmlauts) {
    RasterImage page = WhitePage(1300, 260);
    // The drawing takes Windows-1252 text: "Grüße aus Köln".
    ASSERT_EQ(page.DrawString(60, 160,
                              "Gr\xFC\xDF"
                              "e aus K\xF6ln",
                              {0, 0, 0, 0}, "Arial", 80),
              1);
    SaveOrFail(page, dir.File("page.png"));
    const ProgramResult r =
        RunSheetmend({"-ocr", "-lang", "deu", "page.png", "out.pdf"}, dir.path());
    ASSERT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(PdfText(dir.File("out.pdf")), "Grüße aus Köln\n\f");
}

// A three-page TIFF through a stand-in engine that reads words with
// characters of every plane on page 1, fails on page 2 and finds no word on
// page 3; with -despeckle it reads, and the PDF shows, the cleaned page.
TEST_F(Ocr, SearchablePdfOfThreePagesKeepsAFailedPageAsAnImage) {
    const std::string bin = LayOutBinary();
    ASSERT_EQ(symlink("/usr/bin/unpaper", (bin + "/mendkit.dll").c_str()), 0);
    WriteScript(bin + "/ocr.exe", R"(here=$(dirname "$0")
n=$(( $(cat "$here/count" 2>/dev/null || echo 0) + 1 ))
echo $n > "$here/count"
cp "$1" "$here/seen-$n"
if [ -f "$here/hocr-$n" ]; then cp "$here/hocr-$n" "$2.html"; fi
)");
    const std::string words =
        "<?xml version='1.0' encoding='UTF-8'?><html><body><div class='ocr_page'>"
        "<span class='ocr_line' title='bbox 100 40 700 100; baseline 0 -10'>"
        "<span class='ocr_word' title='bbox 100 40 300 90'><span>日本語</span></span>"
        "<span class='ocr_word' title='bbox 320 40 600 90'><span class='x' "
        "title='x'>Gr<em>üße</em></span></span>"
        "</span><span class='ocr_line' title='bbox 100 150 300 200; baseline 0 0'>"
        "<span class='ocr_word' title='bbox 100 150 300 200'><span>\xF0\x9D\x84\x9E=1</span></span>"
        "</span></div></body></html>";
    const std::string none =
        "<?xml version='1.0'?><html><body><div class='ocr_page'></div></body></html>";
    WriteFileBytes(bin + "/hocr-1", std::vector<uint8_t>(words.begin(), words.end()));
    WriteFileBytes(bin + "/hocr-3", std::vector<uint8_t>(none.begin(), none.end()));
    RasterImage p = DrawColourPage(800, 300, 150);
    SaveOrFail(p, dir.File("p.tif"));
    ASSERT_EQ(RunShell("cd '" + dir.path() + "' && tiffcp p.tif p.tif p.tif scan.tif"), 0);

    for (const std::string option : {"", "-despeckle"}) {
        SCOPED_TRACE(option);
        RunShell("rm -f '" + bin + "'/count '" + dir.path() + "'/out*");
        std::vector<std::string> args = {"-ocr", "-sidecar", "scan.tif", "out.pdf"};
        if (!option.empty()) args.insert(args.begin(), option);
        const ProgramResult r = RunIn(bin, args);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(Count(r.out, "file is not exist.\n"), 1) << r.out;
        const std::string pdf = dir.File("out.pdf");
        std::string out;
        EXPECT_EQ(RunShell("qpdf --check '" + pdf + "' 2>&1", &out), 0) << out;
        EXPECT_EQ(PdfInfoField(pdf, "Pages"), "3");
        EXPECT_EQ(PdfText(pdf, 1), "日本語 Grüße\n\xF0\x9D\x84\x9E=1\n\f");
        EXPECT_TRUE(std::regex_search(PdfFonts(pdf, 1), kEmbeddedUnicodeFont));
        for (int k : {2, 3}) {
            EXPECT_EQ(PdfText(pdf, k), "\f") << k;
            EXPECT_EQ(PdfFonts(pdf, k), "") << k;
        }
        EXPECT_EQ(ReadText(dir.File("out.txt")), "日本語 Grüße\n\xF0\x9D\x84\x9E=1\n\f\f");
        // Every page shows what the engine read: the page itself, or the
        // one-bit page cleaned for it.
        ASSERT_EQ(RunShell("pdfimages -png '" + pdf + "' '" + dir.File("out-img") + "'"), 0);
        const std::vector<ListedImage> images = ListImages(pdf);
        ASSERT_EQ(images.size(), 3u);
        for (int k = 0; k < 3; ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(images[k].bits, option == "-despeckle" ? 1 : 8);
            Pnm shown;
            ASSERT_TRUE(
                DecodeWithImageMagick(dir.File("out-img-00" + std::to_string(k) + ".png"), &shown));
            EXPECT_TRUE(MatchesPnm(LoadOrFail(bin + "/seen-" + std::to_string(k + 1)), shown));
        }
    }
}

}  // namespace
}  // namespace sheetmend::testing
