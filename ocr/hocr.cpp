// hOCR reading: every text node of the document is looked at in document
// order, and it is a word when its parent's parent (or the one above that) is
// an "ocr_word" element. The word box comes from that element's title, and a
// word inside an "ocr_line" takes the line's top and bottom, so every word of
// a line has the same height in the box list. The same walk can also hand
// back the page's lines, with their baselines, and its whole words (the text
// pieces of one word element joined), for the text layer of a searchable PDF.
#include "ocr/hocr.h"

#include <strings.h>
#include <tinyxml2.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "image/formats.h"
#include "image/raster_image.h"
#include "platform/console.h"
#include "platform/paths.h"

namespace sheetmend::ocr {

namespace {

// Reads up to four integers the way "%d %d %d %d" does: blanks skipped, an
// optional sign, digits; the first number that cannot be read ends the scan
// and it and the rest stay 0. Values beyond the int range are clamped
// instead of being left undefined.
void ReadFourNumbers(const char* text, int32_t out[4]) {
    for (int i = 0; i < 4; ++i) out[i] = 0;
    const char* p = text;
    for (int i = 0; i < 4; ++i) {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\v' || *p == '\f') ++p;
        char* end = nullptr;
        errno = 0;
        long long v = std::strtoll(p, &end, 10);
        if (end == p) return;
        if (v > INT32_MAX) v = INT32_MAX;
        if (v < INT32_MIN) v = INT32_MIN;
        out[i] = static_cast<int32_t>(v);
        p = end;
    }
}

// The numbers of a title, read from its sixth character on (after "bbox ").
// A title shorter than that has none.
void ReadTitleBox(const char* title, int32_t box[4]) {
    if (std::strlen(title) < 5) {
        for (int i = 0; i < 4; ++i) box[i] = 0;
        return;
    }
    ReadFourNumbers(title + 5, box);
}

bool ClassIs(const tinyxml2::XMLElement* e, const char* name) {
    const char* cls = e->Attribute("class");
    return cls && strcasecmp(cls, name) == 0;
}

bool HasClassAndTitle(const tinyxml2::XMLElement* e) {
    return e->Attribute("class") && e->Attribute("title");
}

const tinyxml2::XMLElement* ParentElement(const tinyxml2::XMLNode* n) {
    const tinyxml2::XMLNode* p = n->Parent();
    return p ? p->ToElement() : nullptr;
}

// "textangle <degrees>" and "baseline <slope> <offset>" of a line title;
// level, and the baseline on the line's bottom, when absent.
void ReadBaseline(const char* title, PageTextLine& line) {
    if (const char* turn = std::strstr(title, "textangle ")) {
        const long degrees = std::strtol(turn + 10, nullptr, 10);
        if (degrees == 90 || degrees == 180 || degrees == 270)
            line.angle = static_cast<int>(degrees);
    }
    const char* at = std::strstr(title, "baseline ");
    if (!at) return;
    char* end = nullptr;
    const double slope = std::strtod(at + 9, &end);
    if (end == at + 9) return;
    const char* rest = end;
    const double offset = std::strtod(rest, &end);
    if (end == rest || !std::isfinite(slope) || !std::isfinite(offset)) return;
    line.slope = slope;
    line.offset = offset;
}

// Groups the word pieces into lines and whole words as they arrive: a piece
// of the same word element as the one before extends that word, a word of
// the same line element joins that line.
class TextCollector {
  public:
    explicit TextCollector(PageText& text) : text_(text) {}

    void Add(const tinyxml2::XMLElement* wordElement, const int32_t box[4],
             const tinyxml2::XMLElement* lineElement, const int32_t lineBox[4], const char* value) {
        if (wordElement == lastWord_ && !text_.empty() && !text_.back().words.empty()) {
            text_.back().words.back().text += value;
            return;
        }
        if (!lineElement || lineElement != lastLine_ || text_.empty()) {
            PageTextLine line;
            const int32_t* b = lineElement ? lineBox : box;
            line.left = b[0], line.top = b[1], line.right = b[2], line.bottom = b[3];
            if (lineElement) ReadBaseline(lineElement->Attribute("title"), line);
            text_.push_back(std::move(line));
        }
        text_.back().words.push_back(
            PageTextWord{double(box[0]), double(box[1]), double(box[2]), double(box[3]), value});
        lastWord_ = wordElement;
        lastLine_ = lineElement;
    }

  private:
    PageText& text_;
    const tinyxml2::XMLElement* lastWord_ = nullptr;
    const tinyxml2::XMLElement* lastLine_ = nullptr;
};

// The word rule for one text node; appends the word when it is one.
void CollectWord(const tinyxml2::XMLText* text, std::vector<OcrWord>& words,
                 TextCollector* collector) {
    const tinyxml2::XMLElement* p = ParentElement(text);
    const tinyxml2::XMLElement* g = p ? ParentElement(p) : nullptr;
    const tinyxml2::XMLElement* gg = g ? ParentElement(g) : nullptr;
    if (!p || !g || !gg) return;
    const char* value = text->Value();
    if (!value || !*value) return;
    if (!HasClassAndTitle(g) || !HasClassAndTitle(gg)) return;

    const tinyxml2::XMLElement* wordElement = nullptr;
    if (ClassIs(g, "ocr_word"))
        wordElement = g;
    else if (ClassIs(gg, "ocr_word"))
        wordElement = gg;
    else
        return;
    const char* title = wordElement->Attribute("title");
    if (!std::strstr(title, "bbox ")) return;
    int32_t box[4];
    ReadTitleBox(title, box);

    OcrWord word;
    word.left = box[0];
    word.top = box[1];
    word.right = box[2];
    word.bottom = box[3];

    // The nearest "ocr_line" above; an element without a class ends the search.
    const tinyxml2::XMLElement* lineElement = nullptr;
    int32_t line[4] = {0, 0, 0, 0};
    for (const tinyxml2::XMLElement* e = g; e; e = ParentElement(e)) {
        if (!e->Attribute("class")) break;
        if (!ClassIs(e, "ocr_line")) continue;
        if (const char* lineTitle = e->Attribute("title")) {
            ReadTitleBox(lineTitle, line);
            if (static_cast<int64_t>(line[3]) - line[1] > 0) {
                word.top = line[1];
                word.bottom = line[3];
                lineElement = e;
            }
        }
        break;
    }
    if (const char* wconf = std::strstr(title, "x_wconf ")) word.confidence = std::atof(wconf + 8);
    if (collector) collector->Add(wordElement, box, lineElement, line, value);
    word.text = value;
    words.push_back(std::move(word));
}

// A double truncated toward zero into the int range.
int32_t TruncateToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(v);
}

int32_t Clamp(int64_t v, int64_t lo, int64_t hi) {
    return static_cast<int32_t>(v < lo ? lo : (v > hi ? hi : v));
}

}  // namespace

std::string BoxFilePath(const std::string& outputPath, BoxFileForm form, int32_t pageIndex) {
    const PathParts parts = SplitPath(outputPath);
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "-%d%s", pageIndex,
                  form == BoxFileForm::kBoxList ? ".box.txt" : ".box.png");
    return parts.drive + parts.dir + parts.name + suffix;
}

bool ReadHocr(const std::string& hocrPath, std::vector<OcrWord>& words, std::string* error,
              PageText* text) {
    // Whitespace is collapsed as the engine's first XML reader did, so a word
    // text never carries the layout blanks around it.
    tinyxml2::XMLDocument doc(true, tinyxml2::COLLAPSE_WHITESPACE);
    if (doc.LoadFile(hocrPath.c_str()) != tinyxml2::XML_SUCCESS) {
        if (error) *error = doc.ErrorStr() ? doc.ErrorStr() : "";
        return false;
    }
    std::optional<TextCollector> collector;
    if (text) collector.emplace(*text);
    // Depth first in document order, without recursion.
    const tinyxml2::XMLNode* node = doc.FirstChild();
    while (node) {
        if (const tinyxml2::XMLText* piece = node->ToText())
            CollectWord(piece, words, collector ? &*collector : nullptr);
        if (node->FirstChild()) {
            node = node->FirstChild();
            continue;
        }
        while (node && !node->NextSibling()) {
            node = node->Parent();
            if (node == &doc) node = nullptr;
        }
        if (node) node = node->NextSibling();
    }
    return true;
}

std::string BoxListLine(const OcrWord& word) {
    const int32_t left = TruncateToInt(word.left);
    const int32_t top = TruncateToInt(word.top);
    const int32_t width = TruncateToInt(word.right - word.left);
    const int32_t height = TruncateToInt((word.bottom - word.top) * 0.9);
    char numbers[64];
    const int n = std::snprintf(numbers, sizeof numbers, "%d,%d,%d,%d,", left, top, width, height);
    std::string line(numbers, static_cast<size_t>(n));
    line += word.text;
    line += "\r\n";
    return line;
}

bool WriteBoxList(std::FILE* file, const std::vector<OcrWord>& words) {
    if (words.empty()) return true;
    bool ok = true;
    for (const OcrWord& word : words) {
        const std::string line = BoxListLine(word);
        ok = std::fwrite(line.data(), 1, line.size(), file) == line.size() && ok;
    }
    return std::fputc('\f', file) != EOF && ok;
}

int32_t DrawBoxPicture(const std::string& pagePath, const std::string& picturePath,
                       const std::vector<OcrWord>& words) {
    if (words.empty()) return 0;
    RasterImage image;
    if (!image.Load(pagePath.c_str(), 0)) {
        ConsolePrintf("[ERROR] Failed to load \"%s\" file.\n", pagePath.c_str());
        return 0;
    }
    image.IncreaseBpp(24);
    const int64_t w = image.GetWidth();
    const int64_t h = image.GetHeight();
    const uint32_t code = ImageTypeFromExtension(picturePath);
    constexpr ColorRef kRed = 0x000000FF;
    for (const OcrWord& word : words) {
        const int64_t l = TruncateToInt(word.left);
        const int64_t t = TruncateToInt(word.top);
        const int64_t r = TruncateToInt(word.right);
        const int64_t b = TruncateToInt(word.bottom);
        // Top-down rows become bottom-up as y' = H - y. Every edge is
        // horizontal or vertical, so clamping the ends to one pixel outside
        // the page draws the same pixels and keeps a wild box from walking
        // billions of points off the page.
        const int32_t x0 = Clamp(l, -1, w), x1 = Clamp(r, -1, w);
        const int32_t y0 = Clamp(h - b, -1, h), y1 = Clamp(h - t, -1, h);
        image.DrawLine(x0, x1, y0, y0, kRed);
        image.DrawLine(x0, x1, y1, y1, kRed);
        image.DrawLine(x0, x0, y0, y1, kRed);
        image.DrawLine(x1, x1, y0, y1, kRed);
    }
    return image.Save(picturePath.c_str(), code) ? 1 : 0;
}

}  // namespace sheetmend::ocr
