// Reading the OCR engine's hOCR file and writing the two results of "-ocr":
// the box list (one text line per word) and the box picture (the page with a
// red rectangle round every word).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/page_text.h"

namespace sheetmend::ocr {

// One recognised word, in the engine's top-down page coordinates (x to the
// right, y downwards). The edges are whole numbers held as floating point.
struct OcrWord {
    double left = 0;
    double right = 0;
    double top = 0;          // the word's y0, or the top of its line
    double bottom = 0;       // the word's y1, or the bottom of its line
    std::string text;        // never empty
    double confidence = -1;  // the engine's x_wconf (0 to 100), -1 when it gave none
};

// The two box file forms BoxFilePath knows.
enum class BoxFileForm { kBoxList, kBoxPicture };

// The output path without its extension, then "-<page>.box.txt" or
// "-<page>.box.png": out.png gives out-0.box.txt beside it.
std::string BoxFilePath(const std::string& outputPath, BoxFileForm form, int32_t pageIndex);

// Loads the hOCR document and appends every word text found to `words`, in
// document order. False when the document cannot be loaded; `error` (when
// given) then holds the XML parser's description of the problem. With
// `text`, the same words are also appended to it as whole words (the text
// pieces of one word element joined) in lines: each word with its own box,
// each "ocr_line" with its box and baseline; a word outside a line (or in
// one of no height) makes a line of its own.
bool ReadHocr(const std::string& hocrPath, std::vector<OcrWord>& words,
              std::string* error = nullptr, PageText* text = nullptr);

// The box list line of one word: "left,top,width,height9,text\r\n", where
// height9 is nine tenths of the height, truncated. The text is kept whole
// however long it is.
std::string BoxListLine(const OcrWord& word);

// Writes one line per word and then a form feed. Nothing at all for an empty
// list. True when every byte was written.
bool WriteBoxList(std::FILE* file, const std::vector<OcrWord>& words);

// Loads the page (format taken from its content), makes it 24-bit, draws a
// red rectangle round each word and saves it under picturePath in the format
// its extension names. 1 when saved; 0 for an empty list, a page that cannot
// be loaded (with a message) or a failed save.
int32_t DrawBoxPicture(const std::string& pagePath, const std::string& picturePath,
                       const std::vector<OcrWord>& words);

}  // namespace sheetmend::ocr
