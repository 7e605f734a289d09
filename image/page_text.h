// The text of a page as an OCR engine found it: lines in reading order, each
// with its box, its baseline and its words. All positions are in page pixels,
// top-down (x to the right, y downwards), as the engine reports them. The PDF
// writer lays this text over the page image as an invisible text layer.
#pragma once

#include <string>
#include <vector>

namespace sheetmend {

struct PageTextWord {
    double left = 0, top = 0, right = 0, bottom = 0;
    std::string text;  // UTF-8, never empty
};

struct PageTextLine {
    double left = 0, top = 0, right = 0, bottom = 0;
    // The baseline, as hOCR gives it: y = bottom + offset + slope * (x - left).
    double slope = 0;
    double offset = 0;
    // How far the text is turned counterclockwise from level: 0, 90 (read
    // upwards), 180 or 270 (read downwards) degrees.
    int angle = 0;
    std::vector<PageTextWord> words;

    double BaselineAt(double x) const { return bottom + offset + slope * (x - left); }
};

using PageText = std::vector<PageTextLine>;

// The plain text: the words of a line joined by single spaces, each line
// ended by a line feed.
inline std::string PlainText(const PageText& text) {
    std::string out;
    for (const PageTextLine& line : text) {
        for (size_t i = 0; i < line.words.size(); ++i) {
            if (i) out += ' ';
            out += line.words[i].text;
        }
        if (!line.words.empty()) out += '\n';
    }
    return out;
}

}  // namespace sheetmend
