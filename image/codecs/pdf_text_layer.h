// The invisible text layer of a searchable PDF: the words of each page drawn
// in text render mode 3 (neither filled nor stroked) over the page image, so
// that a viewer can search, select and copy them where they stand.
//
// Every page shares one font: a Type0 font with Identity-H encoding over a
// CIDFontType2 whose embedded TrueType has a single empty glyph half an em
// wide, which every CID shows. Each character of the document gets its own
// CID (in order of first use), and the ToUnicode map gives each CID back its
// character, so any text, umlauts and CJK and beyond, copies out exactly.
// The two maps that depend on the characters used (ToUnicode, CIDToGIDMap)
// are filled in by Finish, once all pages are known.
//
// A word is placed at its box's left edge on its line's baseline (level, at
// the baseline's height in the word's middle, so that a sloping line does
// not split its words for text readers), its glyph box as high as the line
// above the baseline (the font size 1.25 times that: the glyph box is 0.8 em
// high, as text faces' ascenders, so text readers see the line spacing the
// page has), and scaled horizontally
// (Tz) so that its characters span exactly the box width. A blank follows
// every word but a line's last one, so copied text has its spaces; lines at
// different baselines come out as lines of their own.
#pragma once

#ifndef POINTERHOLDER_TRANSITION
#define POINTERHOLDER_TRANSITION 4
#endif
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "image/page_text.h"

namespace sheetmend {

// The glyphless TrueType font, its bytes embedded when the program is built.
extern const unsigned char kGlyphlessFont[];
extern const size_t kGlyphlessFontSize;

// The resource name the text operators use for the font.
inline constexpr const char* kTextFontName = "/F0";

class PdfTextLayer {
  public:
    // The content-stream operators ("BT ... ET") that lay `text` over a page
    // of `widthPx` x `heightPx` pixels at the given resolution (positions in
    // pixels, top-down, become points from the lower left corner; positions
    // off the page are moved to its edge). "" when the text has no word.
    std::string PageOperators(const PageText& text, uint32_t widthPx, uint32_t heightPx,
                              double xDpi, double yDpi);
    // The shared font, made in `pdf` on first use.
    QPDFObjectHandle Font(QPDF& pdf);
    // Writes the maps of the characters used into the font's streams.
    void Finish();

    // The CID of a character (from 1); 0 once all 65535 CIDs are taken.
    uint16_t CidOf(char32_t c);
    // The characters of UTF-8 text; a byte that begins no valid sequence
    // stands for U+FFFD.
    static std::vector<char32_t> DecodeUtf8(const std::string& text);

  private:
    std::map<char32_t, uint16_t> cids_;
    std::vector<char32_t> characters_;  // characters_[cid - 1]
    QPDFObjectHandle font_;
    QPDFObjectHandle toUnicode_;
    QPDFObjectHandle cidToGid_;
};

}  // namespace sheetmend
