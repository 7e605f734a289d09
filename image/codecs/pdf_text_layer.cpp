// The text layer of a searchable PDF (see pdf_text_layer.h). The font
// objects and the two character maps are libqpdf objects; only the text
// operators of the content stream and the ToUnicode CMap program, which
// are text by nature, are written here as text.
#include "image/codecs/pdf_text_layer.h"

#include <qpdf/QUtil.hh>

#include <algorithm>
#include <cstdio>

namespace sheetmend {

namespace {

using Handle = QPDFObjectHandle;

// The glyph's advance: half an em, in thousandths of the font size.
constexpr double kGlyphWidth = 500.0;
// The glyph box reaches 0.8 em above the baseline, about where the
// ascenders of common text faces end, so the font size is 1.25 times the
// height of a line above its baseline, close to the size the page was set
// in. Text readers measure the gaps between lines and words in font sizes:
// with the font size as small as the height above the baseline, pdftotext
// took ordinary line spacing and the wide spaces of justified lines for
// breaks, split columns into blocks of a line or a word and read those out
// of the engine's order (a magazine page: 85% of the words in the engine's
// order; with 0.8 em all of them, but the hyphenated words it joins).
constexpr double kAscent = 800.0;

// A hundredth of a point (or of a percent of scaling) is finer than any
// scan resolves.
std::string Num(double v) {
    return QUtil::double_to_string(v, 2);
}

std::string Hex4(uint32_t v) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04X", v & 0xFFFFu);
    return buffer;
}

// The character as UTF-16 code units in hexadecimal, as ToUnicode wants it.
std::string Utf16Hex(char32_t c) {
    if (c < 0x10000) return Hex4(c);
    const uint32_t v = c - 0x10000;
    return Hex4(0xD800 + (v >> 10)) + Hex4(0xDC00 + (v & 0x3FF));
}

Handle NumberArray(std::initializer_list<long long> values) {
    Handle array = Handle::newArray();
    for (long long v : values) array.appendItem(Handle::newInteger(v));
    return array;
}

// The CMap program that maps each CID (two bytes) to its characters.
std::string ToUnicodeCMap(const std::vector<char32_t>& characters) {
    std::string cmap =
        "/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
        "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
        "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
        "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n";
    // A bfchar block holds at most 100 entries.
    for (size_t first = 0; first < characters.size(); first += 100) {
        const size_t count = std::min<size_t>(100, characters.size() - first);
        cmap += std::to_string(count) + " beginbfchar\n";
        for (size_t i = first; i < first + count; ++i)
            cmap +=
                "<" + Hex4(static_cast<uint32_t>(i + 1)) + "> <" + Utf16Hex(characters[i]) + ">\n";
        cmap += "endbfchar\n";
    }
    cmap += "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n";
    return cmap;
}

}  // namespace

std::vector<char32_t> PdfTextLayer::DecodeUtf8(const std::string& text) {
    std::vector<char32_t> out;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        int extra = 0;
        char32_t c = 0, least = 0;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1, c = b & 0x1F, least = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, c = b & 0x0F, least = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, c = b & 0x07, least = 0x10000;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        int k = 1;
        for (; k <= extra; ++k) {
            if (i + static_cast<size_t>(k) >= n || (p[i + k] & 0xC0) != 0x80) break;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        if (k <= extra || c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(c);
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

uint16_t PdfTextLayer::CidOf(char32_t c) {
    const auto it = cids_.find(c);
    if (it != cids_.end()) return it->second;
    if (characters_.size() >= 0xFFFF) return 0;
    characters_.push_back(c);
    const auto cid = static_cast<uint16_t>(characters_.size());
    cids_.emplace(c, cid);
    return cid;
}

std::string PdfTextLayer::PageOperators(const PageText& text, uint32_t widthPx, uint32_t heightPx,
                                        double xDpi, double yDpi) {
    const double sx = 72.0 / xDpi, sy = 72.0 / yDpi;
    const double pageHeight = heightPx * sy;
    // Positions are kept on the page, so that no box however wild puts its
    // word where a viewer would not find it.
    auto onPage = [](double v, double limit) { return std::clamp(v, 0.0, limit); };
    std::string ops;
    // Level words move with Td from where the last one began; a turned word
    // sets its whole matrix, after which the next level word does too.
    double atX = 0, atY = 0;
    bool level = true;
    for (const PageTextLine& line : text) {
        if (line.words.empty()) continue;
        const double top = onPage(line.top, heightPx);
        double sizePx;
        if (line.angle == 90 || line.angle == 270) {
            sizePx = onPage(line.right, widthPx) - onPage(line.left, widthPx);
        } else if (line.angle == 180) {
            sizePx = onPage(line.bottom, heightPx) - top;
        } else {
            // The line's height above its baseline (at the left edge), or
            // its whole height when the baseline lies above its top.
            sizePx = onPage(line.BaselineAt(line.left), heightPx) - top;
            if (!(sizePx >= 1.0)) sizePx = onPage(line.bottom, heightPx) - top;
        }
        const double fontSize =
            std::max(1.0, sizePx) * (line.angle % 180 ? sx : sy) * 1000.0 / kAscent;
        ops += std::string(kTextFontName) + " " + Num(fontSize) + " Tf\n";
        // Lengths on the page become horizontal scalings of the glyphs: the
        // percentage that makes `count` glyphs span `points` (at least a pixel).
        const double glyphPt = kGlyphWidth / 1000.0 * fontSize;
        auto scaling = [&](double points, double pixel, size_t count) {
            return Num(100.0 * std::max(pixel, points) / (glyphPt * count));
        };
        for (size_t i = 0; i < line.words.size(); ++i) {
            const PageTextWord& word = line.words[i];
            const std::vector<char32_t> chars = DecodeUtf8(word.text);
            if (chars.empty()) continue;
            std::string hex;
            for (char32_t c : chars) hex += Hex4(CidOf(c));
            // The blank after a word (text readers skip it, but it ends the
            // word for them) takes the word's scaling.
            if (i + 1 < line.words.size()) hex += Hex4(CidOf(U' '));
            const double left = onPage(word.left, widthPx) * sx;
            const double right = onPage(word.right, widthPx) * sx;
            const double upper = pageHeight - onPage(word.top, heightPx) * sy;
            const double lower = pageHeight - onPage(word.bottom, heightPx) * sy;
            const std::string show = " Tz <" + hex + "> Tj\n";
            if (line.angle == 90) {  // upwards from the box's lower right corner
                ops += "0 1 -1 0 " + Num(right) + " " + Num(lower) + " Tm " +
                       scaling(upper - lower, sy, chars.size()) + show;
            } else if (line.angle == 270) {  // downwards from its upper left corner
                ops += "0 -1 1 0 " + Num(left) + " " + Num(upper) + " Tm " +
                       scaling(upper - lower, sy, chars.size()) + show;
            } else if (line.angle == 180) {  // leftwards from its upper right corner
                ops += "-1 0 0 -1 " + Num(right) + " " + Num(upper) + " Tm " +
                       scaling(right - left, sx, chars.size()) + show;
            } else {
                // Each word stays level, on the baseline's height at its
                // middle: text readers take a word whose characters drift
                // apart in height for several words.
                const double middle =
                    (onPage(word.left, widthPx) + onPage(word.right, widthPx)) / 2;
                const double y = pageHeight - onPage(line.BaselineAt(middle), heightPx) * sy;
                ops += level ? Num(left - atX) + " " + Num(y - atY) + " Td "
                             : "1 0 0 1 " + Num(left) + " " + Num(y) + " Tm ";
                ops += scaling(right - left, sx, chars.size()) + show;
                atX = left, atY = y;
                level = true;
                continue;
            }
            level = false;
        }
    }
    if (ops.empty()) return ops;
    return "BT\n3 Tr\n" + ops + "ET\n";
}

Handle PdfTextLayer::Font(QPDF& pdf) {
    if (font_.isInitialized()) return font_;
    Handle fontFile = pdf.newStream(
        std::string(reinterpret_cast<const char*>(kGlyphlessFont), kGlyphlessFontSize));
    fontFile.getDict().replaceKey("/Length1",
                                  Handle::newInteger(static_cast<long long>(kGlyphlessFontSize)));

    Handle descriptor = Handle::newDictionary();
    descriptor.replaceKey("/Type", Handle::newName("/FontDescriptor"));
    descriptor.replaceKey("/FontName", Handle::newName("/GlyphLessFont"));
    descriptor.replaceKey("/Flags", Handle::newInteger(5));  // fixed pitch, symbolic
    descriptor.replaceKey("/FontBBox", NumberArray({0, 0, static_cast<long long>(kGlyphWidth),
                                                    static_cast<long long>(kAscent)}));
    descriptor.replaceKey("/ItalicAngle", Handle::newInteger(0));
    // The glyph box spans kAscent above the baseline and nothing below it
    // (a descent of exactly 0 would be taken for "not given").
    descriptor.replaceKey("/Ascent", Handle::newInteger(static_cast<long long>(kAscent)));
    descriptor.replaceKey("/Descent", Handle::newInteger(-1));
    descriptor.replaceKey("/CapHeight", Handle::newInteger(static_cast<long long>(kAscent)));
    descriptor.replaceKey("/StemV", Handle::newInteger(80));
    descriptor.replaceKey("/FontFile2", fontFile);

    cidToGid_ = pdf.newStream();
    Handle systemInfo = Handle::newDictionary();
    systemInfo.replaceKey("/Registry", Handle::newString("Adobe"));
    systemInfo.replaceKey("/Ordering", Handle::newString("Identity"));
    systemInfo.replaceKey("/Supplement", Handle::newInteger(0));
    Handle cidFont = Handle::newDictionary();
    cidFont.replaceKey("/Type", Handle::newName("/Font"));
    cidFont.replaceKey("/Subtype", Handle::newName("/CIDFontType2"));
    cidFont.replaceKey("/BaseFont", Handle::newName("/GlyphLessFont"));
    cidFont.replaceKey("/CIDSystemInfo", systemInfo);
    cidFont.replaceKey("/FontDescriptor", pdf.makeIndirectObject(descriptor));
    cidFont.replaceKey("/DW", Handle::newInteger(static_cast<long long>(kGlyphWidth)));
    cidFont.replaceKey("/CIDToGIDMap", cidToGid_);

    toUnicode_ = pdf.newStream();
    Handle descendants = Handle::newArray();
    descendants.appendItem(pdf.makeIndirectObject(cidFont));
    Handle font = Handle::newDictionary();
    font.replaceKey("/Type", Handle::newName("/Font"));
    font.replaceKey("/Subtype", Handle::newName("/Type0"));
    font.replaceKey("/BaseFont", Handle::newName("/GlyphLessFont"));
    font.replaceKey("/Encoding", Handle::newName("/Identity-H"));
    font.replaceKey("/DescendantFonts", descendants);
    font.replaceKey("/ToUnicode", toUnicode_);
    font_ = pdf.makeIndirectObject(font);
    Finish();
    return font_;
}

void PdfTextLayer::Finish() {
    if (!font_.isInitialized()) return;
    toUnicode_.replaceStreamData(ToUnicodeCMap(characters_), Handle::newNull(), Handle::newNull());
    // CID 0 stays .notdef (glyph 0); every other CID shows glyph 1.
    std::string map(2 * (characters_.size() + 1), '\0');
    for (size_t cid = 1; cid <= characters_.size(); ++cid) map[2 * cid + 1] = '\1';
    cidToGid_.replaceStreamData(map, Handle::newNull(), Handle::newNull());
}

}  // namespace sheetmend
